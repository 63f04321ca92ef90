#include "service/request_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/protocol_lines.h"

namespace tolvek {
namespace {

using testing::kFailed;
using testing::kLimit;
using testing::kOk;
using testing::kPong;
using testing::kRefused;
using testing::kUnknown;
using testing::line_of;

// What the fake devices saw: every create asked for, every device closed.
struct DeviceRecord {
    struct Asked {
        std::uint32_t width, height, refresh_hz;
        MonitorIdentity identity;
        bool creation_lock_held;
    };
    std::vector<Asked> asked;
    std::vector<std::uint32_t> closed; // serials
    bool lock_held_at_a_close = false;
};

// A device that records its own close, once, wherever it was moved to.
class FakeDevice {
public:
    FakeDevice(DeviceRecord& record, std::mutex& lock, std::uint32_t serial)
        : record_(&record), lock_(&lock), serial_(serial)
    {
    }
    FakeDevice(FakeDevice&& other) noexcept
        : record_(std::exchange(other.record_, nullptr)), lock_(other.lock_), serial_(other.serial_)
    {
    }
    FakeDevice& operator=(FakeDevice&&) = delete;
    ~FakeDevice()
    {
        if (record_ == nullptr) {
            return;
        }
        record_->closed.push_back(serial_);
        if (lock_->try_lock()) {
            lock_->unlock();
        } else {
            record_->lock_held_at_a_close = true;
        }
    }

private:
    DeviceRecord* record_;
    std::mutex* lock_;
    std::uint32_t serial_;
};

std::string create_line(std::uint32_t serial, std::uint32_t width = 1920,
                        std::uint32_t height = 1080, std::uint32_t refresh_hz = 60,
                        std::uint32_t vendor_id = 21615, std::uint32_t product_id = 19542)
{
    return encode_request(Create{width, height, refresh_hz, vendor_id, product_id, serial});
}

std::string destroy_line(std::uint32_t serial)
{
    return encode_request(Destroy{serial});
}

std::string reply_of(const Reply& reply)
{
    return encode_reply(reply);
}

class DispatchTest : public ::testing::Test {
protected:
    std::mutex creation_lock;
    DeviceRecord record;
    bool next_create_fails = false;
    RequestDispatcher<FakeDevice> dispatcher{
        creation_lock,
        [this](std::uint32_t width, std::uint32_t height, std::uint32_t refresh_hz,
               const MonitorIdentity& identity) -> std::optional<FakeDevice> {
            const bool held = !creation_lock.try_lock();
            if (!held) {
                creation_lock.unlock();
            }
            record.asked.push_back({width, height, refresh_hz, identity, held});
            if (std::exchange(next_create_fails, false)) {
                return std::nullopt;
            }
            return FakeDevice{record, creation_lock, identity.serial};
        }};

    std::string handle(const std::string& line) { return reply_of(dispatcher.handle_line(line)); }
};

TEST_F(DispatchTest, ping_and_lines_that_do_not_parse)
{
    EXPECT_EQ(handle("{\"op\":\"ping\"}"), line_of(kPong));
    EXPECT_EQ(handle(""), line_of(kRefused));
    EXPECT_EQ(handle("{\"op\":\"Create\"}"), line_of(kRefused));
    EXPECT_EQ(handle("{\"op\":\"destroy\",\"serial\":-1}"), line_of(kRefused));
    EXPECT_TRUE(record.asked.empty());
}

TEST_F(DispatchTest, create_hands_the_checked_values_and_fixed_identity_to_the_device_seam)
{
    EXPECT_EQ(handle(create_line(42, 1920, 1080)), line_of(kOk));
    ASSERT_EQ(record.asked.size(), 1u);
    const DeviceRecord::Asked& asked = record.asked[0];
    EXPECT_EQ(asked.width, 1920u);
    EXPECT_EQ(asked.height, 1080u);
    EXPECT_EQ(asked.refresh_hz, 60u);
    EXPECT_EQ(asked.identity.vendor_id, 0x546Fu);
    EXPECT_EQ(asked.identity.product_id, 0x4C56u);
    EXPECT_EQ(asked.identity.serial, 42u);
    EXPECT_TRUE(asked.creation_lock_held);
    EXPECT_EQ(dispatcher.monitor_count(), 1u);
}

TEST_F(DispatchTest, create_values_outside_the_accepted_bounds_are_refused_without_a_device)
{
    struct Case {
        std::string line;
        const char* why;
    };
    const Case refused[] = {
        {create_line(1, 1920, 1080, 59), "rate other than 60"},
        {create_line(1, 1920, 1080, 60, 21616), "other vendor"},
        {create_line(1, 1920, 1080, 60, 21615, 19543), "other product"},
        {create_line(0), "serial 0"},
        {create_line(1, 0, 1080), "width 0"},
        {create_line(1, 1920, 0), "height 0"},
        {create_line(1, 1921, 1080), "odd width"},
        {create_line(1, 1920, 1081), "odd height"},
        {create_line(1, 5122, 2), "width over 5120"},
        {create_line(1, 2, 5122), "height over 5120"},
        {create_line(1, 5120, 2882), "one row of pixels over 14,745,600"},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(handle(c.line), line_of(kRefused)) << c.why;
    }
    EXPECT_TRUE(record.asked.empty());

    EXPECT_EQ(handle(create_line(1, 5120, 2880)), line_of(kOk)) << "exactly 14,745,600 pixels";
    EXPECT_EQ(handle(create_line(2, 2, 2)), line_of(kOk));
    EXPECT_EQ(handle(create_line(3, 5120, 2)), line_of(kOk));
}

TEST_F(DispatchTest, a_connection_holds_four_monitors_and_values_are_checked_before_the_limit)
{
    for (std::uint32_t serial = 1; serial <= 4; ++serial) {
        EXPECT_EQ(handle(create_line(serial)), line_of(kOk));
    }
    EXPECT_EQ(handle(create_line(5)), line_of(kLimit));
    EXPECT_EQ(handle(create_line(1)), line_of(kLimit)) << "the limit comes before the duplicate";
    EXPECT_EQ(handle(create_line(6, 0, 1080)), line_of(kRefused)) << "values come before the limit";
    EXPECT_EQ(record.asked.size(), 4u);

    EXPECT_EQ(handle(destroy_line(4)), line_of(kOk));
    EXPECT_EQ(handle(create_line(1)), line_of(kRefused))
        << "with three held a duplicate is refused";
    EXPECT_EQ(record.asked.size(), 4u);
}

TEST_F(DispatchTest, destroy_closes_once_and_the_serial_can_be_created_again)
{
    EXPECT_EQ(handle(create_line(1)), line_of(kOk));
    EXPECT_EQ(handle(destroy_line(1)), line_of(kOk));
    EXPECT_EQ(record.closed, std::vector<std::uint32_t>{1});
    EXPECT_FALSE(record.lock_held_at_a_close) << "a destroy takes no creation lock";
    EXPECT_EQ(handle(destroy_line(1)), line_of(kUnknown));
    EXPECT_EQ(handle(create_line(1)), line_of(kOk));
    EXPECT_EQ(dispatcher.monitor_count(), 1u);
    EXPECT_EQ(record.closed.size(), 1u);
}

TEST_F(DispatchTest, destroy_of_a_serial_not_held_is_unknown)
{
    EXPECT_EQ(handle(destroy_line(0)), line_of(kUnknown));
    EXPECT_EQ(handle(destroy_line(7)), line_of(kUnknown));
    EXPECT_EQ(handle("[\"destroy\",7]"), line_of(kUnknown));
    EXPECT_TRUE(record.closed.empty());
}

TEST_F(DispatchTest, a_failed_create_answers_failed_and_leaves_the_serial_free)
{
    next_create_fails = true;
    EXPECT_EQ(handle(create_line(9)), line_of(kFailed));
    EXPECT_EQ(dispatcher.monitor_count(), 0u);
    EXPECT_EQ(handle(create_line(9)), line_of(kOk)) << "tried afresh";
    EXPECT_EQ(record.asked.size(), 2u);
}

TEST_F(DispatchTest, close_all_closes_every_device_once_and_counts_them)
{
    for (std::uint32_t serial : {3u, 1u, 2u}) {
        ASSERT_EQ(handle(create_line(serial)), line_of(kOk));
    }
    EXPECT_EQ(dispatcher.close_all(), 3u);
    EXPECT_EQ(record.closed.size(), 3u);
    EXPECT_FALSE(record.lock_held_at_a_close);
    EXPECT_EQ(dispatcher.close_all(), 0u);
    EXPECT_EQ(record.closed.size(), 3u);
}

// Would catch a creation made outside the shared lock: two connections' creates overlap.
TEST(DispatchConcurrency, creates_of_several_connections_never_overlap)
{
    std::mutex creation_lock;
    std::atomic<int> creating{0};
    std::atomic<bool> overlapped{false};
    struct Device {};
    const auto create = [&](std::uint32_t, std::uint32_t, std::uint32_t,
                            const MonitorIdentity&) -> std::optional<Device> {
        if (creating.fetch_add(1) != 0) {
            overlapped = true;
        }
        std::this_thread::yield();
        creating.fetch_sub(1);
        return Device{};
    };
    std::vector<std::thread> connections;
    for (int c = 0; c < 4; ++c) {
        connections.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                RequestDispatcher<Device> dispatcher{creation_lock, create};
                for (std::uint32_t serial = 1; serial <= 4; ++serial) {
                    EXPECT_EQ(encode_reply(dispatcher.handle_line(create_line(serial))),
                              line_of(kOk));
                }
            }
        });
    }
    for (std::thread& connection : connections) {
        connection.join();
    }
    EXPECT_FALSE(overlapped);
}

} // namespace
} // namespace tolvek
