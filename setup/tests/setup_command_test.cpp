#include "setup_command.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace tolvek::setup {
namespace {

struct AccountCase {
    std::vector<std::u16string> arguments;
    AccountChoice expected;
};

TEST(SetupCommand, InstallTakesTheAccountFromAtMostOneOption)
{
    const AccountCase cases[] = {
        {{u"install"}, UserOfThisPrompt{}},
        {{u"install", u"--user", u"PC\\anna"}, UserNamed{u"PC\\anna"}},
        {{u"install", u"--user", u"\u00c5sa"}, UserNamed{u"\u00c5sa"}},
        {{u"install", u"--sid", u"s-1-5-21-1-2-3-1001"}, UserWithSid{u"s-1-5-21-1-2-3-1001"}},
    };
    for (const AccountCase& c : cases) {
        const SetupCommand command = select_setup_command(c.arguments);
        ASSERT_TRUE(std::holds_alternative<InstallCommand>(command));
        const AccountChoice& account = std::get<InstallCommand>(command).account;
        ASSERT_EQ(account.index(), c.expected.index());
        if (const auto* named = std::get_if<UserNamed>(&account)) {
            EXPECT_EQ(named->name, std::get<UserNamed>(c.expected).name);
        }
        if (const auto* with_sid = std::get_if<UserWithSid>(&account)) {
            EXPECT_EQ(with_sid->sid, std::get<UserWithSid>(c.expected).sid);
        }
    }
}

TEST(SetupCommand, RemoveAndHelpStandAlone)
{
    EXPECT_TRUE(std::holds_alternative<RemoveCommand>(select_setup_command({u"remove"})));
    for (const char16_t* word : {u"help", u"--help", u"-h", u"/?"}) {
        EXPECT_TRUE(std::holds_alternative<HelpCommand>(select_setup_command({word})));
    }
}

struct UsageCase {
    std::vector<std::u16string> arguments;
    std::string reason;
};

TEST(SetupCommand, AnythingElseIsAUsageErrorThatSaysWhatWasWrong)
{
    const UsageCase cases[] = {
        {{}, "no command given"},
        {{u"Install"}, "unknown command Install"},
        {{u"uninstall"}, "unknown command uninstall"},
        {{u"help", u"install"}, "unknown command help"},
        {{u"remove", u"--user", u"anna"}, "remove takes no arguments"},
        {{u"install", u"anna"}, "install does not know anna"},
        // What was typed is shown on one plain line, control characters replaced.
        {{u"install", u"--user\n\x1b[2J"},
         "install does not know --user\xEF\xBF\xBD\xEF\xBF\xBD[2J"},
        {{u"install", u"--user"}, "--user needs a value"},
        {{u"install", u"--sid", u""}, "--sid needs a value"},
        {{u"install", u"--user", u"anna", u"--sid", u"S-1-5-18"},
         "install takes one of --user NAME and --sid SID, once"},
        {{u"install", u"--user", u"anna", u"--user", u"bo"},
         "install takes one of --user NAME and --sid SID, once"},
    };
    for (const UsageCase& c : cases) {
        const SetupCommand command = select_setup_command(c.arguments);
        ASSERT_TRUE(std::holds_alternative<SetupUsageError>(command)) << c.reason;
        EXPECT_EQ(std::get<SetupUsageError>(command).reason, c.reason);
    }
}

} // namespace
} // namespace tolvek::setup
