#include "setup/service_configuration.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

constexpr std::string_view kSid = "S-1-5-21-1-2-3-1001";

TEST(ServiceConfiguration, the_command_line_quotes_the_helper_path_and_names_the_user)
{
    EXPECT_EQ(service_command_line(u"C:\\Program Files\\Tolvek\\tolvek-display-helper.exe", kSid),
              u"\"C:\\Program Files\\Tolvek\\tolvek-display-helper.exe\" service "
              u"S-1-5-21-1-2-3-1001");
}

// The user's entry as the system renders it: the rights in bit order (Windows and Wine alike).
constexpr std::string_view kRendered = "(A;;LCRPLORC;;;S-1-5-21-1-2-3-1001)";

TEST(ServiceConfiguration, a_descriptor_without_the_entry_gets_it_appended)
{
    EXPECT_EQ(widened_descriptor("D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)", kSid, kRendered),
              "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
    EXPECT_EQ(widened_descriptor("D:", kSid, kRendered), "D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
}

// Would catch a presence test on the text as install writes it, which the system never gives
// back: every install appended one more copy of the entry.
TEST(ServiceConfiguration, a_descriptor_holding_the_entry_in_the_systems_rendering_is_left_alone)
{
    struct Case {
        std::string_view descriptor;
        std::string_view sid;
        std::string_view rendered_entry;
    };
    const Case cases[] = {
        {"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
         "(A;;LCRPLORC;;;S-1-5-21-1-2-3-1001)",
         kSid, kRendered},
        {"D:(A;;LCRPLORC;;;S-1-5-21-1-2-3-1001)(A;;GA;;;BA)", kSid, kRendered},
        // A well-known SID is rendered by its alias, and so is the entry looked for.
        {"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;LCRPLORC;;;SY)", "S-1-5-18", "(A;;LCRPLORC;;;SY)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(widened_descriptor(c.descriptor, c.sid, c.rendered_entry), std::nullopt)
            << c.descriptor;
    }
}

TEST(ServiceConfiguration, another_users_entry_does_not_count_and_stays)
{
    EXPECT_EQ(widened_descriptor("D:(A;;LCRPLORC;;;S-1-5-21-1-2-3-100)", kSid, kRendered),
              "D:(A;;LCRPLORC;;;S-1-5-21-1-2-3-100)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
}

TEST(ServiceConfiguration, other_rights_for_the_same_user_are_another_entry)
{
    EXPECT_EQ(widened_descriptor("D:(A;;LCRP;;;S-1-5-21-1-2-3-1001)", kSid, kRendered),
              "D:(A;;LCRP;;;S-1-5-21-1-2-3-1001)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
    // Text as install writes it is not the system's rendering and does not count.
    EXPECT_EQ(widened_descriptor("D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)", kSid, kRendered),
              "D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
}

TEST(ServiceConfiguration, the_entries_of_a_rendered_list_start_at_its_first_entry)
{
    EXPECT_EQ(access_entries_of("D:(A;;LCRPLORC;;;SY)"), "(A;;LCRPLORC;;;SY)");
    EXPECT_EQ(access_entries_of("D:PAI(A;;FA;;;SY)(A;;FR;;;BU)"), "(A;;FA;;;SY)(A;;FR;;;BU)");
    EXPECT_EQ(access_entries_of("D:"), std::nullopt);
    EXPECT_EQ(access_entries_of("D:NO_ACCESS_CONTROL"), std::nullopt);
}

} // namespace
} // namespace tolvek
