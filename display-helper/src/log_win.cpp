#include "log.h"

#include <windows.h>
#include <aclapi.h>

#include <chrono>
#include <mutex>
#include <system_error>

#include "log_file.h"
#include "service/user_sid_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The facts of an open file or folder, from the two cheap queries: GetFileInformationByHandle
// also asks for the volume's serial number, which under Wine alone costs more than all the
// rest of a log line.
std::optional<FileFacts> facts_of(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO attributes{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &attributes,
                                      sizeof attributes) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return std::nullopt;
    }
    return FileFacts{(attributes.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                     (attributes.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                     standard.NumberOfLinks};
}

// The SID of the account this process runs as; empty when the system would not tell, and
// then only LocalSystem and Administrators are trusted owners.
const std::string& own_account_sid()
{
    static const std::string sid = own_user_sid().value_or(std::string{});
    return sid;
}

// Creates the log's folder with its protected access list when it is missing; missing parent
// folders are made the ordinary way. A folder that is there already stays as it is: the checks
// below decide whether it is used.
void create_log_folder(const std::filesystem::path& folder)
{
    const Result<UniqueLocalMemory<void>> descriptor =
        security_descriptor_from_text(kLogFolderSecurityDescriptor);
    if (!descriptor) {
        return; // a folder without its access list is never made
    }
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.value().get(), FALSE};
    CreateDirectoryW(folder.c_str(), &attributes);
}

// The folder itself, not what a reparse point at its name leads to. The handle does not share
// delete: while it is open, nobody can rename the folder or put something else at its name.
UniqueHandle open_folder(const std::filesystem::path& folder)
{
    return UniqueHandle{CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr)};
}

// The log's folder, created when missing, opened with open_folder and checked
// (log_folder_trusted); nothing when it may not be written. The file opened next, while this
// handle is open, is in the folder that was checked.
UniqueHandle open_trusted_log_folder(const std::filesystem::path& folder)
{
    UniqueHandle handle = open_folder(folder);
    if (!handle) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return {};
        }
        create_log_folder(folder);
        handle = open_folder(folder);
    }
    const std::optional<FileFacts> facts = handle ? facts_of(handle.get()) : std::nullopt;
    if (!facts) {
        return {};
    }
    PSID owner = nullptr; // points into `descriptor`
    UniqueLocalMemory<void> descriptor;
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, descriptor.put()) != ERROR_SUCCESS) {
        return {};
    }
    const std::string owner_sid = rendered_sid(owner).value_or(std::string{});
    if (!log_folder_trusted(*facts, owner_sid, own_account_sid())) {
        return {};
    }
    return handle;
}

// The log file, opened for appending without following a reparse point, and created when it
// does not exist; nothing when the name holds anything but a plain file with one link.
// Append access without FILE_WRITE_DATA makes every write land at the current end of the
// file, so writers in other threads and processes never overwrite each other.
UniqueHandle open_plain_log_file(const std::filesystem::path& path)
{
    UniqueHandle file{CreateFileW(
        path.c_str(), (FILE_GENERIC_WRITE & ~FILE_WRITE_DATA) | FILE_READ_ATTRIBUTES, kShareAll,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    const std::optional<FileFacts> facts = file ? facts_of(file.get()) : std::nullopt;
    if (!facts || !log_file_plain(*facts)) {
        return {};
    }
    return file;
}

// Empties the file that `file` has open once it has grown past the limit. The emptying goes
// through a second handle of the same open file, never through its path, which might by now
// lead elsewhere; the append handle cannot set the end of the file itself.
void empty_when_past_the_limit(HANDLE file)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) ||
        log_write_mode(static_cast<std::uint64_t>(size.QuadPart)) != LogWriteMode::empty_first) {
        return;
    }
    const UniqueHandle whole{ReOpenFile(file, GENERIC_WRITE, kShareAll, 0)};
    if (whole) {
        SetEndOfFile(whole.get()); // its file pointer is at 0
    }
}

// How long a writer tries for the writers' lock before it writes without it. Any user who can
// read the log can take the lock and keep it, and a log line must never hold up serving; so the
// wait is bounded. The bound must still outlast the writers' own hold, one write, which under
// Wine on a busy machine took up to 20 ms when the writer was preempted in the middle; a
// shorter bound there let a waiting writer write unlocked over a held line.
constexpr auto kLockPatience = std::chrono::milliseconds{50};

// Serialises this process's writers before they reach for the file's lock, so that they do
// not spin against each other for it.
std::timed_mutex writers_of_this_process;

// An exclusive lock on a byte far past any real end of the file, taken by every writer of the
// log around its one write. Windows already makes each write of an append-only handle land
// whole at the end; Wine does not, and there two writers can meet at the same offset. The
// system drops the lock with the handle, so a writer that dies cannot block the others.
class WritersLock {
public:
    // Tries without waiting, again and again until kLockPatience has passed; the line is then
    // written unlocked. Where the system refuses a lock on an append-only handle, it is written
    // unlocked at once: that is the case where appends are whole by themselves.
    explicit WritersLock(HANDLE file) : file_(file)
    {
        const auto give_up = std::chrono::steady_clock::now() + kLockPatience;
        in_process_ = writers_of_this_process.try_lock_until(give_up);
        far_byte_.Offset = static_cast<DWORD>(kWritersLockOffset);
        far_byte_.OffsetHigh = static_cast<DWORD>(kWritersLockOffset >> 32);
        for (;;) {
            held_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                               &far_byte_);
            if (held_ || GetLastError() != ERROR_LOCK_VIOLATION ||
                std::chrono::steady_clock::now() >= give_up) {
                return;
            }
            SwitchToThread();
        }
    }
    ~WritersLock()
    {
        if (held_) {
            UnlockFileEx(file_, 0, 1, 0, &far_byte_);
        }
        if (in_process_) {
            writers_of_this_process.unlock();
        }
    }
    WritersLock(const WritersLock&) = delete;
    WritersLock& operator=(const WritersLock&) = delete;

private:
    HANDLE file_;
    OVERLAPPED far_byte_{};
    bool in_process_ = false;
    bool held_ = false;
};

// Empties the file first when it has grown past the limit, then appends the line in one
// write, all under the writers' lock: two writers that find the file past the limit at once
// cannot empty it twice and lose the first one's line.
void write_line(HANDLE file, std::string_view line)
{
    const WritersLock lock{file};
    empty_when_past_the_limit(file);
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace

std::optional<std::filesystem::path> log_file_path()
{
    const std::optional<std::u16string> program_data = environment_variable(L"ProgramData");
    if (!program_data) {
        return std::nullopt;
    }
    const auto path = log_path_below(*program_data);
    if (!path) {
        return std::nullopt;
    }
    return std::filesystem::path{as_wide(path->c_str())};
}

std::string local_timestamp()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return format_timestamp({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

void log_line(std::string_view message)
{
    const auto path = log_file_path();
    if (!path) {
        return;
    }
    const UniqueHandle folder = open_trusted_log_folder(path->parent_path());
    if (!folder) {
        return;
    }
    const UniqueHandle file = open_plain_log_file(*path);
    if (!file) {
        return;
    }
    write_line(file.get(), format_log_line(local_timestamp(), message));
}

} // namespace tolvek
