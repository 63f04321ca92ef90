// What the feed says while it runs.

#include "feed_report.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvek::vcam {
namespace {

TEST(FeedReport, a_line_comes_when_the_number_of_viewers_changes_and_only_then)
{
    ViewerWatch watch;
    struct Step {
        std::uint32_t viewers;
        std::optional<std::string> line;
    };
    for (const Step& step : std::vector<Step>{
             {0, "nobody watching"}, // the first count always says something
             {0, std::nullopt},
             {1, "1 viewer watching"},
             {1, std::nullopt},
             {2, "2 viewers watching"},
             {8, "8 viewers watching"},
             {0, "nobody watching"},
         }) {
        EXPECT_EQ(watch.update(step.viewers), step.line) << step.viewers;
    }
}

TEST(FeedReport, the_last_line_counts_the_frames_published)
{
    EXPECT_EQ(stopped_line(0), "stopped after publishing 0 frames");
    EXPECT_EQ(stopped_line(1), "stopped after publishing 1 frame");
    EXPECT_EQ(stopped_line(901), "stopped after publishing 901 frames");
}

} // namespace
} // namespace tolvek::vcam
