// Device creation through the helper's real resolution and call path, against the stand-in
// cfgmgr32.dll: what the platform is handed, and where its callback runs. The failure paths
// are tested through a session (connection_session_win_test.cpp), where their reply shows.

#include "monitor_device_win.h"

#include <gtest/gtest.h>

#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"

namespace tolvek {
namespace {

using testing::LedgerCreate;

class MonitorDeviceTest : public ::testing::Test {
protected:
    MonitorDeviceTest() { testing::reset_software_device_standin(); }
    void TearDown() override
    {
        EXPECT_EQ(testing::read_software_device_ledger().imbalances(), std::vector<std::string>{});
    }
};

TEST_F(MonitorDeviceTest, the_platform_is_handed_exactly_the_record_and_property_the_driver_expects)
{
    std::optional<UniqueSwDevice> device =
        create_monitor_device(1920, 1080, 60, MonitorIdentity{0x546F, 0x4C56, 42});
    ASSERT_TRUE(device.has_value());

    const auto creates = testing::read_software_device_ledger().creates();
    ASSERT_EQ(creates.size(), 1u);
    const LedgerCreate& create = creates[0];
    EXPECT_EQ(create.enumerator, "TolvekIdd");
    EXPECT_EQ(create.parent, "HTREE\\ROOT\\0");
    EXPECT_EQ(create.cb_size, 72u);
    EXPECT_EQ(create.instance_id, "TolvekMonitor-0000002a");
    EXPECT_EQ(create.hardware_ids, std::string("Root\\TolvekIdd\0\0", 16)) << "one id, two NULs";
    EXPECT_EQ(create.compatible_ids, std::nullopt);
    EXPECT_EQ(create.container_id, std::nullopt);
    EXPECT_EQ(create.capability_flags, 0x0000000Bu) << "removable, silent, driver required";
    EXPECT_EQ(create.description, "Tolvek Virtual Monitor");
    EXPECT_EQ(create.location, std::nullopt);
    EXPECT_FALSE(create.security_descriptor_present);

    EXPECT_EQ(create.property_count, 1u);
    ASSERT_EQ(create.properties.size(), 1u);
    const testing::LedgerProperty& property = create.properties[0];
    EXPECT_EQ(property.key, "{A4C3D9F2-6B1E-4F7A-9D0C-2E5B8F31C740},2");
    EXPECT_EQ(property.store, 0u);
    EXPECT_EQ(property.locale, std::nullopt);
    EXPECT_EQ(property.type, 0x12u);
    EXPECT_EQ(property.buffer_size, 64u) << "31 characters and the NUL, in bytes";
    EXPECT_EQ(property.buffer, testing::utf16_buffer("1920x1080@60/546f:4c56:0000002a"));
}

TEST_F(MonitorDeviceTest, the_creation_callback_comes_from_another_thread_before_the_create_returns)
{
    testing::script_software_device_standin({{"*", testing::StandinAction::succeed, S_OK, 200}});
    std::optional<UniqueSwDevice> device =
        create_monitor_device(2, 2, 60, MonitorIdentity{0x546F, 0x4C56, 0xFFFFFFFFu});
    ASSERT_TRUE(device.has_value());

    const auto ledger = testing::read_software_device_ledger();
    ASSERT_EQ(ledger.creates().size(), 1u);
    ASSERT_EQ(ledger.callbacks().size(), 1u) << "the create waited for its callback";
    EXPECT_EQ(ledger.creates()[0].instance_id, "TolvekMonitor-ffffffff");
    EXPECT_EQ(ledger.callbacks()[0].device, ledger.creates()[0].device);
    EXPECT_NE(ledger.callbacks()[0].thread, ledger.creates()[0].thread);
    EXPECT_EQ(ledger.callbacks()[0].thread == GetCurrentThreadId(), false);
}

TEST_F(MonitorDeviceTest, the_device_owner_closes_the_device_exactly_once)
{
    std::optional<UniqueSwDevice> device =
        create_monitor_device(1920, 1080, 60, MonitorIdentity{0x546F, 0x4C56, 1});
    ASSERT_TRUE(device.has_value());
    UniqueSwDevice moved = std::move(*device);
    device.reset();
    EXPECT_TRUE(testing::read_software_device_ledger().closes().empty());
    moved.reset();
    const auto closes = testing::read_software_device_ledger().closes();
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_TRUE(closes[0].known);
}

// The ledger is where a service process (another process, another environment) leaves its
// calls for the test that started it: here a child process stands in for it.
TEST_F(MonitorDeviceTest, calls_made_in_another_process_reach_this_processs_ledger)
{
    const std::wstring child =
        L"\"" +
        (testing::executable_folder() / L"display_helper_monitor_device_tests.exe").wstring() +
        L"\" --gtest_filter=MonitorDeviceTest.the_device_owner_closes_the_device_exactly_once";
    const auto outcome = testing::run_process(child, std::chrono::seconds{60});
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->exit_code, 0u) << outcome->standard_output;

    const auto ledger = testing::read_software_device_ledger();
    ASSERT_EQ(ledger.creates().size(), 1u);
    ASSERT_EQ(ledger.closes().size(), 1u);
    EXPECT_NE(ledger.creates()[0].process, GetCurrentProcessId());
    EXPECT_EQ(ledger.closes()[0].process, ledger.creates()[0].process);
}

// The balance check that every Wine-side test ends with must see both faults it exists for.
TEST(SoftwareDeviceLedger, a_device_left_open_and_a_handle_closed_twice_are_both_reported)
{
    testing::reset_software_device_standin();
    std::optional<UniqueSwDevice> device =
        create_monitor_device(1920, 1080, 60, MonitorIdentity{0x546F, 0x4C56, 3});
    ASSERT_TRUE(device.has_value());
    const HSWDEVICE raw = device->release();
    EXPECT_EQ(testing::read_software_device_ledger().imbalances().size(), 1u) << "left open";

    software_device_api().close(raw);
    EXPECT_TRUE(testing::read_software_device_ledger().imbalances().empty());
    software_device_api().close(raw);
    EXPECT_EQ(testing::read_software_device_ledger().imbalances().size(), 1u) << "closed twice";
    testing::reset_software_device_standin();
}

} // namespace
} // namespace tolvek
