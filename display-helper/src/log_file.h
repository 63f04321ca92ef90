#pragma once

// The rules of the helper's log file that need no system call: where it lives, when it is
// emptied, and how a line looks.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// A log larger than this is emptied by the next write; one of exactly this size is still
// appended to.
inline constexpr std::uint64_t kLogSizeLimit = 262144;

enum class LogWriteMode { append, empty_first };

// The byte whose exclusive lock the log's writers take around each line: far past any real
// end of the file, so that readers never meet it.
inline constexpr std::uint64_t kWritersLockOffset = 0x7FFF'FFFF'FFFF'FFFE;

// `current_size` is the file's size, or nothing when it could not be read (no file yet).
[[nodiscard]] LogWriteMode log_write_mode(std::optional<std::uint64_t> current_size);

// The log's path below the ProgramData folder: "<program_data>\Tolvek\display-helper.log",
// with a separator added only when the value does not end in one. Nothing for an empty
// value: there is no fixed fallback.
[[nodiscard]] std::optional<std::u16string> log_path_below(std::u16string_view program_data);

struct LocalDateTime {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
};

// "2026-12-07 16:20:00": no milliseconds, no time zone.
[[nodiscard]] std::string format_timestamp(const LocalDateTime& time);

// The timestamp, a blank, the message unchanged (line feeds inside it are not escaped) and
// one line feed.
[[nodiscard]] std::string format_log_line(std::string_view timestamp, std::string_view message);

} // namespace tolvek
