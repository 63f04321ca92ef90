#include "log.h"

#include <windows.h>

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

// Writes the line with one call while holding an exclusive lock on a byte far past any
// real end of the file. Windows already makes each write of an append-only handle land
// whole at the end; Wine does not, and there two writers can meet at the same offset. The
// lock serialises only the writers of this log (readers never touch that byte), and the
// system drops it with the handle, so a writer that dies cannot block the others. Where
// the system refuses a lock on an append-only handle, the write goes ahead unlocked: that
// is the case where appends are whole by themselves.
void append_whole_line(HANDLE file, std::string_view line)
{
    OVERLAPPED far_byte{};
    far_byte.Offset = 0xFFFFFFFE;
    far_byte.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &far_byte);
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (locked) {
        UnlockFileEx(file, 0, 1, 0, &far_byte);
    }
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
