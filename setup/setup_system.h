#pragma once

// What setup asks of the machine: one call for each thing it needs to know or change. The
// Windows shell answers with the system's calls (windows_setup_system_win.h); the step plan
// (setup_run.h) decides everything else and is tested natively against a scripted machine.
// Platform-free: paths are UTF-16 text carried as char16_t.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tolvek/result.h"
#include "user_account.h"

namespace tolvek::setup {

// How a release file got to its place.
enum class Placement {
    copied,
    // The file there was in use (a running program, a DLL a host has loaded), so it was
    // renamed aside and the new one put in its place; the old one goes at the next restart.
    replaced_while_in_use,
};

struct PlacedFile {
    Placement placement = Placement::copied;
    std::u16string set_aside_as; // replaced_while_in_use: the old file's new path
};

enum class FileRemoval {
    removed,
    absent,
    at_restart, // in use: the system deletes it at the next restart
};

enum class FolderRemoval { removed, absent, not_empty };

struct FolderEntry {
    std::u16string name;
    bool is_folder = false;

    friend bool operator==(const FolderEntry&, const FolderEntry&) = default;
};

struct ProgramRun {
    std::uint32_t exit_code = 0;
    std::string standard_output;
    std::string standard_error;
};

class SetupSystem {
public:
    virtual ~SetupSystem() = default;

    // Whether this process's token counts as a member of the Administrators group (an
    // elevated token: a token of a prompt that was not elevated holds the group for denial
    // only).
    virtual Result<bool> is_administrator() = 0;
    // The account this process runs as, the user of the prompt it was started from.
    virtual Result<FoundAccount> account_of_this_process() = 0;
    virtual Result<FoundAccount> account_named(std::u16string_view name) = 0;
    // The SID's canonical text and, when the system knows the account, its name and kind.
    virtual Result<FoundAccount> account_with_sid(std::u16string_view sid) = 0;

    // The folder tolvek-setup.exe runs from.
    virtual Result<std::u16string> own_folder() = 0;
    // The install folder, kInstallFolderName in the system's Program Files folder.
    virtual Result<std::u16string> install_folder() = 0;
    // Whether two paths name one folder (also when written differently).
    virtual bool same_folder(std::u16string_view first, std::u16string_view second) = 0;

    virtual bool is_file(std::u16string_view path) = 0;
    // What a folder holds; nothing when it is absent.
    virtual std::vector<FolderEntry> entries_in(std::u16string_view folder) = 0;

    // Creates the install folder with an access list that lets only administrators and the
    // system change it, or sets that list on the folder that is there.
    virtual Status prepare_install_folder(std::u16string_view folder) = 0;
    // Creates a folder that takes its access list from its parent; one that is there is fine.
    virtual Status create_folder(std::u16string_view folder) = 0;
    // Copies `from` to `to` so that `to` is always either the old file or the whole new one.
    virtual Result<PlacedFile> place_file(std::u16string_view from, std::u16string_view to) = 0;
    virtual Result<FileRemoval> remove_file(std::u16string_view path) = 0;
    virtual Result<FolderRemoval> remove_folder(std::u16string_view folder) = 0;
    // Has the system delete an (emptied) folder at the next restart, after the files in it
    // scheduled before.
    virtual Status remove_folder_at_restart(std::u16string_view folder) = 0;

    // Runs a program to its end with its output captured.
    virtual Result<ProgramRun> run_program(std::u16string_view program,
                                           const std::vector<std::u16string>& arguments) = 0;
    // Whether the service manager has dropped the display helper's service within `timeout`.
    virtual bool helper_service_gone_within(std::chrono::milliseconds timeout) = 0;
};

} // namespace tolvek::setup
