#pragma once

// The helper's one log file, %ProgramData%\Tolvek\display-helper.log: one line per event,
// local date and time, a blank, the message. Emptied by the first write that finds it
// over 262,144 bytes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// Appends one timestamped line. Never fails visibly: a missing ProgramData, a folder or
// file that cannot be made or written all end the call quietly. Callers in several threads
// and processes need no lock of their own: each call opens its own append handle and writes
// the line in one write while holding a byte-range lock of the file, which serialises the
// writers where appends alone do not land whole (Wine). The lock is tried for 50 ms at most,
// then the line is written without it: whoever holds the lock for good cannot stall a caller.
void log_line(std::string_view message);

// The log's path, or nothing when ProgramData is unset or empty.
[[nodiscard]] std::optional<std::filesystem::path> log_file_path();

// The current local time as "YYYY-MM-DD hh:mm:ss".
[[nodiscard]] std::string local_timestamp();

} // namespace tolvek
