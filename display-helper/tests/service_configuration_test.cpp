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

TEST(ServiceConfiguration, a_descriptor_without_the_entry_gets_it_appended)
{
    EXPECT_EQ(widened_descriptor("D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)", kSid),
              "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
    EXPECT_EQ(widened_descriptor("D:", kSid), "D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
}

TEST(ServiceConfiguration, a_descriptor_holding_the_entry_is_left_alone)
{
    EXPECT_EQ(widened_descriptor("D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)(A;;GA;;;BA)", kSid),
              std::nullopt);
}

TEST(ServiceConfiguration, another_users_entry_does_not_count_and_stays)
{
    EXPECT_EQ(widened_descriptor("D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-100)", kSid),
              "D:(A;;RPLCLORC;;;S-1-5-21-1-2-3-100)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
}

TEST(ServiceConfiguration, the_presence_test_is_textual)
{
    // The system writes S-1-5-18 as SY: the entry is not recognised and is added again.
    EXPECT_EQ(widened_descriptor("D:(A;;RPLCLORC;;;SY)", "S-1-5-18"),
              "D:(A;;RPLCLORC;;;SY)(A;;RPLCLORC;;;S-1-5-18)");
    // Other rights for the same user are a different entry.
    EXPECT_EQ(widened_descriptor("D:(A;;RPLC;;;S-1-5-21-1-2-3-1001)", kSid),
              "D:(A;;RPLC;;;S-1-5-21-1-2-3-1001)(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)");
}

} // namespace
} // namespace tolvek
