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
// file that cannot be made or written all end the call quietly. Calls from several threads
// and processes need no lock: each opens its own append handle, and a line is one write.
void log_line(std::string_view message);

// The log's path, or nothing when ProgramData is unset or empty.
[[nodiscard]] std::optional<std::filesystem::path> log_file_path();

// The current local time as "YYYY-MM-DD hh:mm:ss".
[[nodiscard]] std::string local_timestamp();

} // namespace tolvek
