#include "feed_report.h"

#include "tolvek/text_encoding.h"

namespace tolvek::vcam {

std::string started_line(const std::optional<std::u16string>& image_path,
                         std::optional<std::chrono::seconds> duration)
{
    const std::string picture =
        image_path ? utf16_to_utf8_lossy(*image_path) : std::string("the test pattern");
    const std::string ending =
        duration ? "it ends after " + std::to_string(duration->count()) + " s or on Ctrl+C"
                 : "Ctrl+C ends it";
    return "feeding Tolvek Camera with " + picture + " while somebody watches; " + ending;
}

std::string viewers_line(std::uint32_t viewers)
{
    if (viewers == 0) {
        return "nobody watching";
    }
    return std::to_string(viewers) + (viewers == 1 ? " viewer" : " viewers") + " watching";
}

std::optional<std::string> ViewerWatch::update(std::uint32_t viewers)
{
    if (last_ == viewers) {
        return std::nullopt;
    }
    last_ = viewers;
    return viewers_line(viewers);
}

std::string stopped_line(std::uint64_t frames_published)
{
    return "stopped after publishing " + std::to_string(frames_published) +
           (frames_published == 1 ? " frame" : " frames");
}

} // namespace tolvek::vcam
