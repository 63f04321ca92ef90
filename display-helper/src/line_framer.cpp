#include "line_framer.h"

#include "tolvek/text_encoding.h"

namespace tolvek {

FramingOutcome LineFramer::take_lines(std::string_view bytes, std::vector<std::string>& batch)
{
    batch.clear();
    pending_.append(bytes);

    std::string_view rest{pending_};
    for (std::size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (!is_valid_utf8(line)) {
            batch.clear(); // the lines before it get no replies either
            pending_.clear();
            return FramingOutcome::over_the_cap;
        }
        while (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        batch.emplace_back(line);
    }
    if (rest.size() > kLineCap) {
        batch.clear();
        pending_.clear();
        return FramingOutcome::over_the_cap;
    }
    pending_.erase(0, pending_.size() - rest.size());
    return FramingOutcome::lines_taken;
}

} // namespace tolvek
