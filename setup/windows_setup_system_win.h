#pragma once

// The machine as setup meets it on Windows: the token's rights and user, accounts, the
// system's Program Files folder, files, programs and the service manager.

#include "setup_system.h"

namespace tolvek::setup {

class WindowsSetupSystem final : public SetupSystem {
public:
    Result<bool> is_administrator() override;
    Result<FoundAccount> account_of_this_process() override;
    Result<FoundAccount> account_named(std::u16string_view name) override;
    Result<FoundAccount> account_with_sid(std::u16string_view sid) override;

    Result<std::u16string> own_folder() override;
    Result<std::u16string> install_folder() override;
    bool same_folder(std::u16string_view first, std::u16string_view second) override;

    bool is_file(std::u16string_view path) override;
    std::vector<FolderEntry> entries_in(std::u16string_view folder) override;

    Status prepare_install_folder(std::u16string_view folder) override;
    Status create_folder(std::u16string_view folder) override;
    Result<PlacedFile> place_file(std::u16string_view from, std::u16string_view to) override;
    Result<FileRemoval> remove_file(std::u16string_view path) override;
    Result<FolderRemoval> remove_folder(std::u16string_view folder) override;
    Status remove_folder_at_restart(std::u16string_view folder) override;

    Result<ProgramRun> run_program(std::u16string_view program,
                                   const std::vector<std::u16string>& arguments) override;
    bool helper_service_gone_within(std::chrono::milliseconds timeout) override;
};

} // namespace tolvek::setup
