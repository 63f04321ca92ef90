#pragma once

// The helper's one log file, %ProgramData%\Tolvek\display-helper.log: one line per event,
// local date and time, a blank, the message. Emptied by the first write that finds it
// over 262,144 bytes.

#include <string_view>

namespace tolvek {

// Appends one timestamped line. Never fails visibly: a missing ProgramData, a folder or
// file that cannot be made or written all end the call quietly.
void log_line(std::string_view message);

} // namespace tolvek
