#include "feed_command_line.h"

#include "tolvek/text_encoding.h"

#include <cstdint>
#include <limits>

namespace tolvek::vcam {

namespace {

FeedUsageError usage_error(std::string reason)
{
    return {reason + "; " + std::string(kFeedUsage)};
}

std::optional<std::chrono::seconds> parse_seconds(std::u16string_view text)
{
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char16_t digit : text) {
        if (digit < u'0' || digit > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (digit - u'0');
    }
    if (value == 0 || value > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return std::chrono::seconds{value};
}

} // namespace

FeedCommand parse_feed_command_line(const std::vector<std::u16string>& arguments)
{
    FeedOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::u16string& argument = arguments[index];
        const bool has_value = index + 1 < arguments.size();
        if (argument == u"--image") {
            if (options.image_path) {
                return usage_error("--image given twice");
            }
            if (!has_value || arguments[index + 1].empty()) {
                return usage_error("--image needs the path of a picture file");
            }
            options.image_path = arguments[++index];
        } else if (argument == u"--seconds") {
            if (options.duration) {
                return usage_error("--seconds given twice");
            }
            options.duration = has_value ? parse_seconds(arguments[index + 1]) : std::nullopt;
            if (!options.duration) {
                return usage_error("--seconds needs a whole number from 1 to 4294967295");
            }
            ++index;
        } else {
            return usage_error("unknown argument: " + argument_as_shown(argument));
        }
    }
    return options;
}

} // namespace tolvek::vcam
