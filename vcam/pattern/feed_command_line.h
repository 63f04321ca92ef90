#pragma once

// The command line of tolvek-vcam-pattern. Platform-free: arguments are UTF-16, carried as
// char16_t, so that any path Windows allows reaches the image decoder unchanged.
//
//   tolvek-vcam-pattern [--image FILE] [--seconds N]

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvek::vcam {

inline constexpr std::string_view kFeedUsage =
    "usage: tolvek-vcam-pattern [--image FILE] [--seconds N]";

struct FeedOptions {
    // A still picture to show instead of the moving test pattern.
    std::optional<std::u16string> image_path;
    // How long the feed runs; without it, until Ctrl+C.
    std::optional<std::chrono::seconds> duration;
};

// What was wrong, as the one line the program writes: the reason, then the usage.
struct FeedUsageError {
    std::string line;
};

using FeedCommand = std::variant<FeedOptions, FeedUsageError>;

// Reads the arguments after the program name. Each option at most once; `--image` takes a
// non-empty path (the next argument, as it is); `--seconds` a whole number from 1 to
// 4294967295 in decimal digits only. Anything else is a usage error.
[[nodiscard]] FeedCommand parse_feed_command_line(const std::vector<std::u16string>& arguments);

} // namespace tolvek::vcam
