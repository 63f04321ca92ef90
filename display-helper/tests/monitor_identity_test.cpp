#include "monitor_identity.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(MonitorSpec, instance_id_is_the_serial_in_eight_lower_case_hex_digits)
{
    EXPECT_EQ(monitor_instance_id(42), "TolvekMonitor-0000002a");
    EXPECT_EQ(monitor_instance_id(0xFFFFFFFFu), "TolvekMonitor-ffffffff");
    EXPECT_EQ(monitor_instance_id(1), "TolvekMonitor-00000001");
}

TEST(MonitorSpec, spec_text_reads_mode_then_identity_with_minimum_hex_widths)
{
    EXPECT_EQ(monitor_spec_text(1920, 1080, 60, {0x546F, 0x4C56, 42}),
              "1920x1080@60/546f:4c56:0000002a");
    EXPECT_EQ(monitor_spec_text(2, 2, 60, {0x1, 0x2, 0x3}), "2x2@60/0001:0002:00000003");
    // Wider values are written in full, never cut to the minimum width.
    EXPECT_EQ(monitor_spec_text(4294967295u, 4294967295u, 4294967295u,
                                {0xFFFFFFFFu, 0x12345u, 0xFFFFFFFFu}),
              "4294967295x4294967295@4294967295/ffffffff:12345:ffffffff");
}

} // namespace
} // namespace tolvek
