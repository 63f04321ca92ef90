#pragma once

// The lines tolvek-vcam-pattern writes on standard output while it runs.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvek::vcam {

// What the feed shows and how it ends, as in "feeding Tolvek Camera with the test pattern
// while somebody watches; Ctrl+C ends it".
[[nodiscard]] std::string started_line(const std::optional<std::u16string>& image_path,
                                       std::optional<std::chrono::seconds> duration);

// "nobody watching", "1 viewer watching", "2 viewers watching", ...
[[nodiscard]] std::string viewers_line(std::uint32_t viewers);

// Follows the number of cameras streaming and gives a line when it changes; the first count
// always gives one, so that the feed starts by saying whether anybody watches.
class ViewerWatch {
public:
    [[nodiscard]] std::optional<std::string> update(std::uint32_t viewers);

private:
    std::optional<std::uint32_t> last_;
};

// "stopped after publishing 1 frame", "... 250 frames".
[[nodiscard]] std::string stopped_line(std::uint64_t frames_published);

} // namespace tolvek::vcam
