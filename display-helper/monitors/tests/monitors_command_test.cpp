// The command line of tolvek-monitors: what each argument list asks for, and the refusals
// that come before anything is held.

#include "monitors_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvek::monitors {
namespace {

using display::Monitor;
using Arguments = std::vector<std::string>;

TEST(MonitorsCommand, ping_and_hold_read_their_monitors_and_serials)
{
    struct Case {
        Arguments arguments;
        std::vector<Monitor> monitors;
        AfterLoss after_loss;
    };
    const std::vector<Case> cases = {
        {{"hold", "1920x1080"}, {{1920, 1080, 1}}, AfterLoss::give_up},
        {{"hold", "1920x1080", "2560x1440"},
         {{1920, 1080, 1}, {2560, 1440, 2}},
         AfterLoss::give_up},
        {{"hold", "1920x1080", "--serial", "7", "1280x720"},
         {{1920, 1080, 7}, {1280, 720, 2}},
         AfterLoss::give_up},
        {{"hold", "--restore", "5120x2880"}, {{5120, 2880, 1}}, AfterLoss::restore},
        {{"hold", "2x2", "--restore"}, {{2, 2, 1}}, AfterLoss::restore},
        {{"hold", "2x2", "2x2", "2x2", "2x2"},
         {{2, 2, 1}, {2, 2, 2}, {2, 2, 3}, {2, 2, 4}},
         AfterLoss::give_up},
    };
    for (const Case& c : cases) {
        const MonitorsCommand command = parse_monitors_command(c.arguments);
        const auto* hold = std::get_if<HoldCommand>(&command);
        ASSERT_NE(hold, nullptr) << c.arguments[1];
        EXPECT_EQ(hold->monitors, c.monitors) << c.arguments[1];
        EXPECT_EQ(hold->after_loss, c.after_loss) << c.arguments[1];
    }
    EXPECT_TRUE(std::holds_alternative<PingCommand>(parse_monitors_command({"ping"})));
}

TEST(MonitorsCommand, what_the_helper_would_refuse_is_refused_before_anything_is_held)
{
    struct Case {
        Arguments arguments;
        std::string text_start; // the line starts so; usage errors carry the usage line after
    };
    const std::vector<Case> cases = {
        {{}, std::string{kUsage}},
        {{"ping", "extra"}, std::string{kUsage}},
        {{"make", "1920x1080"}, std::string{kUsage}},
        {{"hold"}, "hold needs at least one mode"},
        {{"hold", "1920X1080"}, "\"1920X1080\" is not a mode such as 1920x1080"},
        {{"hold", "x1080"}, "\"x1080\" is not a mode"},
        {{"hold", "1920x"}, "\"1920x\" is not a mode"},
        {{"hold", "+1920x1080"}, "\"+1920x1080\" is not a mode"},
        {{"hold", "-2x2"}, "\"-2x2\" is not a mode"},
        {{"hold", "1920x1080x60"}, "\"1920x1080x60\" is not a mode"},
        {{"hold", "4294967296x2"}, "\"4294967296x2\" is not a mode"},
        {{"hold", "1921x1080"}, "the helper does not make 1921x1080 monitors"},
        {{"hold", "5122x2"}, "the helper does not make 5122x2 monitors"},
        {{"hold", "5120x2882"}, "the helper does not make 5120x2882 monitors"},
        {{"hold", "0x0"}, "the helper does not make 0x0 monitors"},
        {{"hold", "--serial", "3"}, "--serial follows the mode it names"},
        {{"hold", "2x2", "--serial"}, "--serial needs a number"},
        {{"hold", "2x2", "--serial", "one"}, "\"one\" is not a serial"},
        {{"hold", "2x2\n--serial"}, "\"2x2\xEF\xBF\xBD--serial\" is not a mode"},
        {{"hold", "2x2", "--serial", "1\r\xC2\x9B"},
         "\"1\xEF\xBF\xBD\xEF\xBF\xBD\" is not a serial"},
        {{"hold", "2x2", "--serial", "0"}, "serial 0 is not a serial"},
        {{"hold", "2x2", "--serial", "2", "4x4"}, "serial 2 is given twice"},
        {{"hold", "2x2", "2x2", "2x2", "2x2", "2x2"}, "the helper holds at most 4 monitors"},
    };
    for (const Case& c : cases) {
        const MonitorsCommand command = parse_monitors_command(c.arguments);
        const auto* usage = std::get_if<UsageError>(&command);
        ASSERT_NE(usage, nullptr) << c.text_start;
        EXPECT_TRUE(usage->text.starts_with(c.text_start)) << usage->text;
        EXPECT_EQ(usage->text.find('\n'), std::string::npos) << "one line";
    }
}

TEST(MonitorsCommand, a_held_monitor_is_one_line)
{
    EXPECT_EQ(holding_line({2560, 1440, 2}), "holding 2560x1440 as serial 2");
}

} // namespace
} // namespace tolvek::monitors
