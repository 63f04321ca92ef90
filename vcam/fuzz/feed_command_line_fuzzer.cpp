// The pattern feed's command line from arbitrary arguments: the input is UTF-16 code units,
// little-endian, the arguments separated by a NUL unit. Whatever they hold, the parser gives
// options within their documented ranges or one line that ends in the usage.

#include "feed_command_line.h"
#include "fuzz_harness.h"

#include <cstdint>
#include <string>
#include <vector>

using tolvek::vcam::FeedOptions;
using tolvek::vcam::FeedUsageError;
using tolvek::vcam::fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::u16string> arguments(1);
    for (std::size_t at = 0; at + 1 < size; at += 2) {
        const auto unit = static_cast<char16_t>(data[at] | data[at + 1] << 8);
        if (unit == u'\0') {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(unit);
        }
    }
    if (size < 2) {
        arguments.clear();
    }

    const tolvek::vcam::FeedCommand command = tolvek::vcam::parse_feed_command_line(arguments);
    if (const auto* options = std::get_if<FeedOptions>(&command)) {
        require(!options->image_path || !options->image_path->empty(), "an empty image path");
        require(!options->duration ||
                    (options->duration->count() >= 1 && options->duration->count() <= 4294967295),
                "seconds out of range");
        require(arguments.size() <= 4, "more arguments than two options take");
    } else {
        const std::string& line = std::get<FeedUsageError>(command).line;
        require(line.find('\n') == std::string::npos, "a usage error of more than one line");
        require(line.size() >= tolvek::vcam::kFeedUsage.size() &&
                    line.compare(line.size() - tolvek::vcam::kFeedUsage.size(), std::string::npos,
                                 tolvek::vcam::kFeedUsage) == 0,
                "a usage error that does not end in the usage");
    }
    return 0;
}
