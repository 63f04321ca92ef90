// The command line of tolvek-vcam-pattern.

#include "feed_command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvek::vcam {
namespace {

using std::chrono::seconds;

TEST(FeedCommandLine, options_in_any_order_are_taken_as_given)
{
    struct Case {
        std::vector<std::u16string> arguments;
        std::optional<std::u16string> image_path;
        std::optional<seconds> duration;
    };
    for (const Case& c : std::vector<Case>{
             {{}, std::nullopt, std::nullopt},
             {{u"--image", u"C:\\pictures\\\u00e9t\u00e9.png"},
              u"C:\\pictures\\\u00e9t\u00e9.png",
              std::nullopt},
             {{u"--seconds", u"10"}, std::nullopt, seconds{10}},
             {{u"--seconds", u"4294967295", u"--image", u"a.bmp"}, u"a.bmp", seconds{4294967295}},
             {{u"--image", u"--seconds"}, u"--seconds", std::nullopt}, // a file of that name
         }) {
        const FeedCommand command = parse_feed_command_line(c.arguments);
        ASSERT_TRUE(std::holds_alternative<FeedOptions>(command)) << c.arguments.size();
        EXPECT_EQ(std::get<FeedOptions>(command).image_path, c.image_path);
        EXPECT_EQ(std::get<FeedOptions>(command).duration, c.duration);
    }
}

TEST(FeedCommandLine, anything_else_is_one_line_with_the_reason_and_the_usage)
{
    struct Case {
        std::vector<std::u16string> arguments;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{
             {{u"--image"}, "--image needs the path of a picture file"},
             {{u"--image", u""}, "--image needs the path of a picture file"},
             {{u"--image", u"a.png", u"--image", u"b.png"}, "--image given twice"},
             {{u"--seconds"}, "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u"0"}, "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u"-3"}, "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u"1.5"}, "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u" 5"}, "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u"4294967296"}, "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u"99999999999999999999"},
              "--seconds needs a whole number from 1 to 4294967295"},
             {{u"--seconds", u"1", u"--seconds", u"2"}, "--seconds given twice"},
             {{u"--help"}, "unknown argument: --help"},
             {{u"picture.png"}, "unknown argument: picture.png"},
             {{u"--Image", u"a.png"}, "unknown argument: --Image"},
             // Control characters would break the line or steer the terminal.
             {{u"a\nb\u001B[2J\u0085"},
              "unknown argument: a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD[2J\xEF\xBF\xBD"},
         }) {
        const FeedCommand command = parse_feed_command_line(c.arguments);
        ASSERT_TRUE(std::holds_alternative<FeedUsageError>(command)) << c.reason;
        EXPECT_EQ(std::get<FeedUsageError>(command).line,
                  c.reason + "; usage: tolvek-vcam-pattern [--image FILE] [--seconds N]");
    }
}

} // namespace
} // namespace tolvek::vcam
