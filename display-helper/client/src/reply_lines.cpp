#include "reply_lines.h"

#include <utility>

namespace tolvek::display {

void ReplyLines::expect_reply()
{
    awaiting_ = true;
    reply_.reset();
}

bool ReplyLines::take_bytes(std::string_view bytes)
{
    if (framer_.take_lines(bytes, batch_) == FramingOutcome::over_the_cap) {
        return false;
    }
    for (std::string& line : batch_) {
        if (!awaiting_ || reply_) {
            return false;
        }
        reply_ = std::move(line);
    }
    return true;
}

std::optional<std::string> ReplyLines::take_reply()
{
    if (!reply_) {
        return std::nullopt;
    }
    awaiting_ = false;
    return std::exchange(reply_, std::nullopt);
}

} // namespace tolvek::display
