#include "windows_setup_system_win.h"

#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <filesystem>
#include <system_error>

#include "installed_files.h"
#include "service/user_sid_win.h"
#include "service_name.h"
#include "setup/windows_path.h"
#include "tolvek/child_process_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/service_status_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::setup {
namespace {

// How many set-aside copies of one file setup tries names for.
constexpr unsigned kSetAsideNames = 100;

Error last_error()
{
    return Error{win32_error_text(GetLastError())};
}

bool in_use(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

AccountKind kind_of(SID_NAME_USE use)
{
    switch (use) {
    case SidTypeUser:
        return AccountKind::user;
    case SidTypeGroup:
        return AccountKind::group;
    case SidTypeDomain:
        return AccountKind::domain;
    case SidTypeAlias:
        return AccountKind::alias;
    case SidTypeWellKnownGroup:
        return AccountKind::well_known_group;
    case SidTypeDeletedAccount:
        return AccountKind::deleted_account;
    case SidTypeInvalid:
        return AccountKind::invalid;
    case SidTypeComputer:
        return AccountKind::computer;
    case SidTypeLabel:
        return AccountKind::label;
    case SidTypeLogonSession:
        return AccountKind::logon_session;
    default:
        return AccountKind::unknown;
    }
}

// The SID's canonical text, and its "DOMAIN\name" and kind when the system knows them.
Result<FoundAccount> account_of(PSID sid)
{
    std::optional<std::string> text = rendered_sid(sid);
    if (!text) {
        return last_error();
    }
    FoundAccount found{{std::move(*text), {}}, AccountKind::not_looked_up};
    DWORD name_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use{};
    LookupAccountSidW(nullptr, sid, nullptr, &name_size, nullptr, &domain_size, &use);
    if (name_size == 0) {
        return found;
    }
    std::wstring name(name_size, L'\0');
    std::wstring domain(domain_size, L'\0');
    if (!LookupAccountSidW(nullptr, sid, name.data(), &name_size, domain.data(), &domain_size,
                           &use)) {
        return found;
    }
    name.resize(name_size);
    domain.resize(domain_size);
    const std::wstring full = domain.empty() ? name : domain + L"\\" + name;
    found.account.name = utf16_to_utf8_lossy(as_utf16(full));
    found.kind = kind_of(use);
    return found;
}

Result<FoundAccount> account_of_sid_text(std::u16string_view sid)
{
    const std::optional<UserSid> parsed = parse_user_sid(utf16_to_utf8_lossy(sid));
    if (!parsed) {
        return Error{argument_as_shown(sid) + " is not a SID"};
    }
    return account_of(parsed->sid.get());
}

Result<std::u16string> full_path(std::u16string_view path)
{
    const std::u16string text(path);
    return read_system_text([&](wchar_t* buffer, DWORD capacity) {
        return GetFullPathNameW(as_wide(text.c_str()), capacity, buffer, nullptr);
    });
}

// Renames a file that is in use to a free set-aside name beside it and has the system
// delete it at the next restart; gives the new name.
Result<std::u16string> set_aside(const std::u16string& path)
{
    for (unsigned number = 1; number <= kSetAsideNames; ++number) {
        const std::u16string aside = set_aside_name(path, number);
        if (MoveFileExW(as_wide(path.c_str()), as_wide(aside.c_str()), 0)) {
            if (!MoveFileExW(as_wide(aside.c_str()), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                return last_error();
            }
            return aside;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return Error{win32_error_text(error)};
        }
    }
    return Error{"no free name to set it aside"};
}

} // namespace

Result<bool> WindowsSetupSystem::is_administrator()
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size)) {
        return last_error();
    }
    BOOL member = FALSE;
    // The effective token: a group held for denial only does not count.
    if (!CheckTokenMembership(nullptr, sid, &member)) {
        return last_error();
    }
    return member != FALSE;
}

Result<FoundAccount> WindowsSetupSystem::account_of_this_process()
{
    const std::optional<std::string> sid = own_user_sid();
    if (!sid) {
        return Error{"this process's token names no user"};
    }
    return account_of_sid_text(utf8_to_utf16(*sid));
}

Result<FoundAccount> WindowsSetupSystem::account_named(std::u16string_view name)
{
    const std::u16string text(name);
    DWORD sid_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use{};
    LookupAccountNameW(nullptr, as_wide(text.c_str()), nullptr, &sid_size, nullptr, &domain_size,
                       &use);
    std::vector<BYTE> sid(sid_size);
    std::wstring domain(domain_size, L'\0');
    if (sid_size == 0 || !LookupAccountNameW(nullptr, as_wide(text.c_str()), sid.data(), &sid_size,
                                             domain.data(), &domain_size, &use)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NONE_MAPPED || sid_size == 0) {
            return Error{"no account is named " + argument_as_shown(name)};
        }
        return Error{argument_as_shown(name) + ": " + win32_error_text(error)};
    }
    return account_of(sid.data());
}

Result<FoundAccount> WindowsSetupSystem::account_with_sid(std::u16string_view sid)
{
    return account_of_sid_text(sid);
}

Result<std::u16string> WindowsSetupSystem::own_folder()
{
    Result<std::u16string> program = module_path();
    if (!program) {
        return program;
    }
    return std::u16string(parent_directory(program.value()));
}

Result<std::u16string> WindowsSetupSystem::install_folder()
{
    // The system's own answer: the ProgramFiles variable can be set by anyone for the
    // programs they start.
    UniqueTaskMemory<wchar_t> program_files;
    if (const HRESULT result =
            SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, program_files.put());
        FAILED(result)) {
        return Error{"no Program Files folder: " + hresult_error_text(result)};
    }
    return join_windows_path(as_utf16(program_files.get()), kInstallFolderName);
}

bool WindowsSetupSystem::same_folder(std::u16string_view first, std::u16string_view second)
{
    Result<std::u16string> one = full_path(first);
    Result<std::u16string> other = full_path(second);
    if (!one || !other) {
        return false;
    }
    for (std::u16string* path : {&one.value(), &other.value()}) {
        while (path->size() > 3 && path->back() == u'\\') {
            path->pop_back();
        }
    }
    return CompareStringOrdinal(as_wide(one.value().c_str()), -1, as_wide(other.value().c_str()),
                                -1, TRUE) == CSTR_EQUAL;
}

bool WindowsSetupSystem::is_file(std::u16string_view path)
{
    const std::u16string text(path);
    const DWORD attributes = GetFileAttributesW(as_wide(text.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::vector<FolderEntry> WindowsSetupSystem::entries_in(std::u16string_view folder)
{
    std::vector<FolderEntry> entries;
    std::error_code error;
    const std::wstring path(as_wide(std::u16string(folder).c_str()));
    for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::wstring name = entry->path().filename().wstring();
        entries.push_back({std::u16string(as_utf16(name)), entry->is_directory(error)});
    }
    return entries;
}

Status WindowsSetupSystem::prepare_install_folder(std::u16string_view folder)
{
    Result<UniqueLocalMemory<void>> descriptor =
        security_descriptor_from_text(std::string(kInstallFolderAccess));
    if (!descriptor) {
        return Error{"the install folder's access list would not build: " +
                     descriptor.error().text};
    }
    const std::u16string path(folder);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.value().get(), FALSE};
    if (CreateDirectoryW(as_wide(path.c_str()), &attributes)) {
        return success();
    }
    if (const DWORD error = GetLastError(); error != ERROR_ALREADY_EXISTS) {
        return win32_failure(utf16_to_utf8_lossy(folder) + " would not be created: ", error);
    }
    // A folder that is there gets the list too, passed on to what it holds.
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL access_list = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.value().get(), &present, &access_list, &defaulted)) {
        return last_error();
    }
    std::wstring name(as_wide(path.c_str()));
    if (const DWORD error =
            SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, access_list, nullptr);
        error != ERROR_SUCCESS) {
        return win32_failure(utf16_to_utf8_lossy(folder) + "'s access list would not be set: ",
                             error);
    }
    return success();
}

Status WindowsSetupSystem::create_folder(std::u16string_view folder)
{
    const std::u16string path(folder);
    if (!CreateDirectoryW(as_wide(path.c_str()), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return win32_failure(utf16_to_utf8_lossy(folder) + " would not be created: ",
                             GetLastError());
    }
    return success();
}

Result<PlacedFile> WindowsSetupSystem::place_file(std::u16string_view from, std::u16string_view to)
{
    const std::u16string source(from);
    const std::u16string target(to);
    const std::u16string staged = staged_copy_name(to);
    if (!CopyFileW(as_wide(source.c_str()), as_wide(staged.c_str()), FALSE)) {
        return last_error();
    }
    if (MoveFileExW(as_wide(staged.c_str()), as_wide(target.c_str()), MOVEFILE_REPLACE_EXISTING)) {
        return PlacedFile{};
    }
    const DWORD error = GetLastError();
    Result<std::u16string> aside =
        in_use(error) ? set_aside(target) : Result<std::u16string>(Error{win32_error_text(error)});
    if (!aside) {
        DeleteFileW(as_wide(staged.c_str()));
        return std::move(aside).error();
    }
    if (!MoveFileExW(as_wide(staged.c_str()), as_wide(target.c_str()), 0)) {
        const Error why = last_error();
        // The old file back in its place: an installation is never left without it. Its
        // deletion at the restart then finds nothing under the set-aside name.
        MoveFileExW(as_wide(aside.value().c_str()), as_wide(target.c_str()), 0);
        DeleteFileW(as_wide(staged.c_str()));
        return why;
    }
    return PlacedFile{Placement::replaced_while_in_use, std::move(aside).value()};
}

Result<FileRemoval> WindowsSetupSystem::remove_file(std::u16string_view path)
{
    const std::u16string file(path);
    if (DeleteFileW(as_wide(file.c_str()))) {
        return FileRemoval::removed;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return FileRemoval::absent;
    }
    if (!in_use(error)) {
        return Error{win32_error_text(error)};
    }
    // Set aside first, so that a file installed under this name before the restart stays;
    // a file set aside before already has a name of its own.
    if (is_set_aside_name(path)) {
        if (!MoveFileExW(as_wide(file.c_str()), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            return last_error();
        }
        return FileRemoval::at_restart;
    }
    Result<std::u16string> aside = set_aside(file);
    if (!aside) {
        return std::move(aside).error();
    }
    return FileRemoval::at_restart;
}

Result<FolderRemoval> WindowsSetupSystem::remove_folder(std::u16string_view folder)
{
    const std::u16string path(folder);
    if (RemoveDirectoryW(as_wide(path.c_str()))) {
        return FolderRemoval::removed;
    }
    switch (const DWORD error = GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return FolderRemoval::absent;
    case ERROR_DIR_NOT_EMPTY:
        return FolderRemoval::not_empty;
    default:
        return Error{win32_error_text(error)};
    }
}

Status WindowsSetupSystem::remove_folder_at_restart(std::u16string_view folder)
{
    const std::u16string path(folder);
    if (!MoveFileExW(as_wide(path.c_str()), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        return last_error();
    }
    return success();
}

Result<ProgramRun> WindowsSetupSystem::run_program(std::u16string_view program,
                                                   const std::vector<std::u16string>& arguments)
{
    Result<ChildProcessOutput> run = run_child_process(program, arguments);
    if (!run) {
        return std::move(run).error();
    }
    return ProgramRun{run.value().exit_code, std::move(run.value().standard_output),
                      std::move(run.value().standard_error)};
}

bool WindowsSetupSystem::helper_service_gone_within(std::chrono::milliseconds timeout)
{
    return service_gone_within(kServiceName, timeout);
}

} // namespace tolvek::setup
