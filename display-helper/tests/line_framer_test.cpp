#include "line_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvek {
namespace {

using Lines = std::vector<std::string>;

// Feeds reads one after another and gathers every line taken; nothing once a read drops the
// connection.
std::optional<Lines> frame(LineFramer& framer, const std::vector<std::string>& reads)
{
    Lines all;
    Lines batch;
    for (const std::string& read : reads) {
        if (framer.take_lines(read, batch) == FramingOutcome::over_the_cap) {
            EXPECT_TRUE(batch.empty()) << "a dropped batch gets no replies";
            return std::nullopt;
        }
        all.insert(all.end(), batch.begin(), batch.end());
    }
    return all;
}

std::optional<Lines> frame(const std::vector<std::string>& reads)
{
    LineFramer framer;
    return frame(framer, reads);
}

TEST(LineFramer, lines_are_cut_at_line_feeds_however_the_reads_split_them)
{
    EXPECT_EQ(frame({"{\"op\":\"pi", "ng\"}\n"}), (Lines{"{\"op\":\"ping\"}"}));
    EXPECT_EQ(frame({"a\nb\nc\n"}), (Lines{"a", "b", "c"}));
    EXPECT_EQ(frame({"a\nb", "", "\nc"}), (Lines{"a", "b"}));
    EXPECT_EQ(frame({"\n\n"}), (Lines{"", ""})) << "an empty line is a request too";
    EXPECT_EQ(frame({"no terminator yet"}), Lines{});
}

TEST(LineFramer, only_trailing_carriage_returns_are_removed)
{
    EXPECT_EQ(frame({"a\r\n"}), Lines{"a"});
    EXPECT_EQ(frame({"a\r\r\r\n"}), Lines{"a"});
    EXPECT_EQ(frame({"\r\n"}), Lines{""});
    EXPECT_EQ(frame({"a\rb\r\n"}), Lines{"a\rb"});
    EXPECT_EQ(frame({"a\r", "\n"}), Lines{"a"}) << "a CR split from its LF";
}

TEST(LineFramer, bytes_inside_a_line_are_kept_as_they_came)
{
    const std::string with_nul{"a\0b", 3};
    EXPECT_EQ(frame({with_nul + "\n"}), Lines{with_nul});
    // A character split between two reads is judged only once the line is complete.
    EXPECT_EQ(frame({"\xC3", "\xA9\n"}), Lines{"\xC3\xA9"});
}

TEST(LineFramer, a_line_of_exactly_the_cap_is_accepted_in_any_pieces)
{
    const std::string line(LineFramer::kLineCap, 'x');
    EXPECT_EQ(frame({line + "\n"}), Lines{line});
    EXPECT_EQ(frame({line.substr(0, 100), line.substr(100, 400), line.substr(500), "\n"}),
              Lines{line});
    EXPECT_EQ(frame({line, "\nnext\n"}), (Lines{line, "next"}));
}

TEST(LineFramer, an_unfinished_line_over_the_cap_drops_the_connection)
{
    const std::string cap(LineFramer::kLineCap, 'x');
    EXPECT_EQ(frame({cap, "y"}), std::nullopt);
    EXPECT_EQ(frame({"done\n" + cap + "y"}), std::nullopt)
        << "the complete line before it gets no reply either";
    // 513 bytes held only briefly: the terminator came in the same read, so nothing
    // unfinished over the cap is held after it.
    EXPECT_EQ(frame({std::string(400, 'x'), std::string(300, 'x') + "\n"}),
              Lines{std::string(700, 'x')});
}

TEST(LineFramer, a_complete_line_that_is_not_utf8_drops_the_whole_batch)
{
    EXPECT_EQ(frame({"{\"op\":\"ping\"}\n\xFF\n"}), std::nullopt);
    EXPECT_EQ(frame({"\xC0\xAF\n"}), std::nullopt) << "an overlong form";
    EXPECT_EQ(frame({"\xED\xA0\x80\n"}), std::nullopt) << "a surrogate";
    // An invalid unfinished line is not judged yet.
    EXPECT_EQ(frame({"ok\n\xFF"}), Lines{"ok"});
}

TEST(LineFramer, after_lines_are_taken_only_the_unfinished_line_is_held)
{
    LineFramer framer;
    ASSERT_EQ(frame(framer, {"a\nbc"}), Lines{"a"});
    EXPECT_EQ(framer.pending_size(), 2u);
    ASSERT_EQ(frame(framer, {"\n"}), Lines{"bc"});
    EXPECT_EQ(framer.pending_size(), 0u);
}

} // namespace
} // namespace tolvek
