#include "tolvek/argument_quoting.h"

#include <gtest/gtest.h>

#include "argument_quoting_cases.h"

namespace tolvek {
namespace {

// The Windows rules for reading the arguments after the program name: blanks separate
// arguments outside quotes; 2n backslashes before a quote give n backslashes and the quote
// opens or closes; 2n+1 give n backslashes and a literal quote; other backslashes are
// literal. Written from the rules, independently of the quoting code under test.
std::vector<std::u16string> parse_arguments(std::u16string_view line)
{
    std::vector<std::u16string> arguments;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) {
            ++i;
        }
        if (i == line.size()) {
            return arguments;
        }
        std::u16string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == u'"') {
                argument.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    argument += u'"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, u'\\');
                if (backslashes == 0) {
                    argument += line[i++];
                }
            }
        }
        arguments.push_back(std::move(argument));
    }
}

TEST(ArgumentQuoting, plain_arguments_stay_as_they_are)
{
    EXPECT_EQ(quote_argument(u"/enum-drivers"), u"/enum-drivers");
    EXPECT_EQ(quote_argument(u"C:\\dir\\x.inf"), u"C:\\dir\\x.inf");
    EXPECT_EQ(quote_argument(u"trailing\\"), u"trailing\\");
}

TEST(ArgumentQuoting, blanks_quotes_and_empty_arguments_are_quoted_by_the_windows_rules)
{
    EXPECT_EQ(quote_argument(u""), u"\"\"");
    EXPECT_EQ(quote_argument(u"C:\\Program Files\\x.inf"), u"\"C:\\Program Files\\x.inf\"");
    EXPECT_EQ(quote_argument(u"say \"hi\""), u"\"say \\\"hi\\\"\"");
    // Backslashes before a quote and before the closing quote are doubled; others are not.
    EXPECT_EQ(quote_argument(u"a b\\"), u"\"a b\\\\\"");
    EXPECT_EQ(quote_argument(u"a\\\"b"), u"\"a\\\\\\\"b\"");
    EXPECT_EQ(quote_argument(u"a\\b c"), u"\"a\\b c\"");
}

TEST(ArgumentQuoting, the_program_is_quoted_and_every_argument_reads_back_exactly)
{
    const std::vector<std::u16string> arguments = testing::quoting_cases();
    const std::u16string line =
        child_command_line(u"C:\\Windows\\System32\\pnputil.exe", arguments);
    const std::u16string_view program = u"\"C:\\Windows\\System32\\pnputil.exe\"";
    ASSERT_TRUE(line.starts_with(program));
    EXPECT_EQ(parse_arguments(std::u16string_view{line}.substr(program.size())), arguments);
}

} // namespace
} // namespace tolvek
