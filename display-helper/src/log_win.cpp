#include "log.h"

#include <windows.h>

#include <chrono>
#include <mutex>
#include <system_error>

#include "log_file.h"
#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

std::optional<std::uint64_t> size_of_file(const std::filesystem::path& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

UniqueHandle open_log(const std::filesystem::path& path, LogWriteMode mode)
{
    // Append access without FILE_WRITE_DATA makes every write land at the current end of
    // the file, so writers in other threads and processes never overwrite each other.
    const DWORD access =
        mode == LogWriteMode::append ? FILE_GENERIC_WRITE & ~FILE_WRITE_DATA : GENERIC_WRITE;
    const DWORD disposition = mode == LogWriteMode::append ? OPEN_ALWAYS : CREATE_ALWAYS;
    return UniqueHandle{CreateFileW(path.c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr)};
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

void append_whole_line(HANDLE file, std::string_view line)
{
    const WritersLock lock{file};
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
    std::error_code ignored;
    std::filesystem::create_directories(path->parent_path(), ignored);

    const UniqueHandle file = open_log(*path, log_write_mode(size_of_file(*path)));
    if (!file) {
        return;
    }
    const std::string line = format_log_line(local_timestamp(), message);
    append_whole_line(file.get(), line);
}

} // namespace tolvek
