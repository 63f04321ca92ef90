#include "service/user_sid_win.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(UserSid, sid_text_becomes_the_systems_canonical_text_and_a_binary_sid)
{
    const auto user = parse_user_sid("s-1-5-21-0-0-0-1000");
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->text, "S-1-5-21-0-0-0-1000");
    ASSERT_TRUE(user->sid.valid());
    EXPECT_TRUE(IsValidSid(user->sid.get()));
}

TEST(UserSid, an_alias_is_served_under_its_full_text)
{
    const auto user = parse_user_sid("SY");
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->text, "S-1-5-18");
}

TEST(UserSid, text_that_is_no_sid_gives_nothing)
{
    for (const std::string_view text :
         {std::string_view{""}, std::string_view{"Administrator"}, std::string_view{"S-1-"},
          std::string_view{"S-1-5-18 "}, std::string_view{"S-1-5-18\0junk", 13}}) {
        EXPECT_FALSE(parse_user_sid(text).has_value()) << text;
    }
}

// Admission compares a client's token with the served user's SID in this rendering.
TEST(UserSid, the_token_of_a_wine_process_names_the_wine_user)
{
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    EXPECT_EQ(token_user_sid(token.get()), "S-1-5-21-0-0-0-1000");
}

// The end-to-end run installs the service for this SID, and the log trusts its own account by it.
TEST(UserSid, this_process_runs_as_the_wine_user)
{
    EXPECT_EQ(own_user_sid(), "S-1-5-21-0-0-0-1000");
}

// Install looks for the user's service entry in this rendering, not in the text it writes.
TEST(UserSid, the_system_renders_an_entry_its_own_way)
{
    struct Case {
        std::string_view written;
        std::u16string_view rendered;
    };
    const Case cases[] = {
        {"D:(A;;RPLCLORC;;;S-1-5-21-0-0-0-1000)", u"D:(A;;LCRPLORC;;;S-1-5-21-0-0-0-1000)"},
        {"D:(A;;RPLCLORC;;;S-1-5-18)", u"D:(A;;LCRPLORC;;;SY)"},
    };
    for (const Case& c : cases) {
        const Result<UniqueLocalMemory<void>> descriptor = security_descriptor_from_text(c.written);
        ASSERT_TRUE(descriptor.ok()) << descriptor.error().text;
        const Result<std::u16string> rendered = rendered_dacl(descriptor.value().get());
        ASSERT_TRUE(rendered.ok()) << rendered.error().text;
        EXPECT_EQ(rendered.value(), c.rendered) << c.written;
    }
}

TEST(UserSid, a_handle_that_is_no_token_gives_nothing)
{
    EXPECT_FALSE(token_user_sid(GetCurrentProcess()).has_value());
}

} // namespace
} // namespace tolvek
