#pragma once

// The user account that install sets the display helper's service up for: what setup
// accepts and how its report names it. Platform-free.

#include <string>
#include <string_view>

#include "tolvek/result.h"

namespace tolvek::setup {

// What the system says an account name or SID stands for (SID_NAME_USE).
enum class AccountKind {
    user,
    group,
    domain,
    alias, // a local group such as Administrators
    well_known_group,
    deleted_account,
    invalid,
    unknown,
    computer,
    label,
    logon_session,
    not_looked_up, // the system knows no account for the SID
};

struct UserAccount {
    std::string sid;  // canonical SID text, as install passes it on
    std::string name; // "DOMAIN\user"; empty when the system knows no name for the SID
};

struct FoundAccount {
    UserAccount account;
    AccountKind kind = AccountKind::not_looked_up;
};

// The service admits the processes of one user, told by their token's user SID; a group or
// any other kind of account never is a token's user, so installing for it would serve nobody.
// The system's own service accounts (LocalSystem, LocalService, NetworkService) are named as
// well-known groups but are the users of services' tokens, and pass. A SID that the system
// cannot name passes too: a domain account may be unknown to a machine off its network.
[[nodiscard]] Status check_user_account(const FoundAccount& found);

// "PC\user (S-1-5-21-...)", or the SID alone when there is no name.
[[nodiscard]] std::string account_text(const UserAccount& account);

} // namespace tolvek::setup
