#include "user_account.h"

#include <algorithm>
#include <iterator>

namespace tolvek::setup {
namespace {

std::string_view kind_words(AccountKind kind)
{
    switch (kind) {
    case AccountKind::user:
    case AccountKind::not_looked_up:
        return "a user";
    case AccountKind::group:
        return "a group";
    case AccountKind::domain:
        return "a domain";
    case AccountKind::alias:
        return "a local group";
    case AccountKind::well_known_group:
        return "a well-known group";
    case AccountKind::deleted_account:
        return "a deleted account";
    case AccountKind::invalid:
        return "not a valid account";
    case AccountKind::computer:
        return "a computer";
    case AccountKind::label:
        return "an integrity label";
    case AccountKind::logon_session:
        return "a logon session";
    case AccountKind::unknown:
        break;
    }
    return "an account of an unknown kind";
}

} // namespace

Status check_user_account(const FoundAccount& found)
{
    constexpr std::string_view kServiceAccounts[] = {"S-1-5-18", "S-1-5-19", "S-1-5-20"};
    const AccountKind kind = found.kind;
    if (kind == AccountKind::user || kind == AccountKind::not_looked_up ||
        (kind == AccountKind::well_known_group &&
         std::find(std::begin(kServiceAccounts), std::end(kServiceAccounts), found.account.sid) !=
             std::end(kServiceAccounts))) {
        return success();
    }
    return Error{account_text(found.account) + " is " + std::string(kind_words(kind)) +
                 ", not a user account: the display helper serves the programs of one user"};
}

std::string account_text(const UserAccount& account)
{
    if (account.name.empty()) {
        return account.sid;
    }
    return account.name + " (" + account.sid + ")";
}

} // namespace tolvek::setup
