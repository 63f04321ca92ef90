#include "user_account.h"

#include <gtest/gtest.h>

namespace tolvek::setup {
namespace {

struct KindCase {
    FoundAccount found;
    const char* error; // empty: accepted
};

TEST(UserAccount, OnlyAnAccountThatCanBeATokensUserIsAccepted)
{
    const KindCase cases[] = {
        {{{"S-1-5-21-1-2-3-1001", "PC\\anna"}, AccountKind::user}, ""},
        {{{"S-1-5-21-9-9-9-1001", ""}, AccountKind::not_looked_up}, ""},
        {{{"S-1-5-18", "NT AUTHORITY\\SYSTEM"}, AccountKind::well_known_group}, ""},
        {{{"S-1-5-19", "NT AUTHORITY\\LOCAL SERVICE"}, AccountKind::well_known_group}, ""},
        {{{"S-1-5-20", "NT AUTHORITY\\NETWORK SERVICE"}, AccountKind::well_known_group}, ""},
        {{{"S-1-5-32-544", "BUILTIN\\Administrators"}, AccountKind::alias},
         "BUILTIN\\Administrators (S-1-5-32-544) is a local group, not a user account: the display "
         "helper serves the programs of one user"},
        {{{"S-1-1-0", "Everyone"}, AccountKind::well_known_group},
         "Everyone (S-1-1-0) is a well-known group, not a user account: the display helper serves "
         "the programs of one user"},
        {{{"S-1-5-21-1-2-3-513", "PC\\None"}, AccountKind::group},
         "PC\\None (S-1-5-21-1-2-3-513) is a group, not a user account: the display helper serves "
         "the programs of one user"},
        {{{"S-1-5-21-1-2-3-1005", "PC\\PC$"}, AccountKind::computer},
         "PC\\PC$ (S-1-5-21-1-2-3-1005) is a computer, not a user account: the display helper "
         "serves the programs of one user"},
        {{{"S-1-5-21-1-2-3-1006", ""}, AccountKind::deleted_account},
         "S-1-5-21-1-2-3-1006 is a deleted account, not a user account: the display helper serves "
         "the programs of one user"},
    };
    for (const KindCase& c : cases) {
        const Status checked = check_user_account(c.found);
        EXPECT_EQ(checked.ok(), *c.error == '\0') << c.found.account.sid;
        if (!checked) {
            EXPECT_EQ(checked.error().text, c.error);
        }
    }
}

TEST(UserAccount, TheReportNamesTheAccountAndItsSid)
{
    EXPECT_EQ(account_text({"S-1-5-21-1-2-3-1001", "PC\\anna"}), "PC\\anna (S-1-5-21-1-2-3-1001)");
    EXPECT_EQ(account_text({"S-1-5-21-1-2-3-1001", ""}), "S-1-5-21-1-2-3-1001");
}

} // namespace
} // namespace tolvek::setup
