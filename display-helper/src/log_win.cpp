#include "log.h"

namespace tolvek {

void log_line(std::string_view) {}

} // namespace tolvek
