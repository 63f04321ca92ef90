#include "user_account.h"

#include <gtest/gtest.h>

namespace tolvek::setup {
namespace {

struct KindCase {
    AccountKind kind;
    std::string error; // empty: accepted
};

TEST(UserAccount, OnlyAUserOrASidTheSystemCannotNameIsAccepted)
{
    const KindCase cases[] = {
        {AccountKind::user, ""},
        {AccountKind::not_looked_up, ""},
        {AccountKind::alias, "PC\\Administrators is a local group, not a user account: the "
                             "display helper serves the programs of one user"},
        {AccountKind::well_known_group, "PC\\Administrators is a well-known group, not a user "
                                        "account: the display helper serves the programs of one "
                                        "user"},
        {AccountKind::group, "PC\\Administrators is a group, not a user account: the display "
                             "helper serves the programs of one user"},
        {AccountKind::computer, "PC\\Administrators is a computer, not a user account: the "
                                "display helper serves the programs of one user"},
        {AccountKind::deleted_account, "PC\\Administrators is a deleted account, not a user "
                                       "account: the display helper serves the programs of one "
                                       "user"},
    };
    for (const KindCase& c : cases) {
        const Status checked = check_user_account("PC\\Administrators", c.kind);
        EXPECT_EQ(checked.ok(), c.error.empty()) << c.error;
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
