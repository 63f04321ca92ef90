// The client's logic against the helper's own request handling (RequestDispatcher) behind a
// connection seam: reply words as error kinds, the lost connection told once, restore with
// its all-or-nothing rule, calls from inside the lost notice, and many threads on one client.

#include "monitor_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "service/request_dispatch.h"

namespace tolvek::display {
namespace {

using namespace std::chrono_literals;

// The helper as far as the client can tell: connections, each with the session's own
// dispatcher, and a record of every device made and closed.
class FakeHelper {
public:
    struct Device; // closes itself in the record

    class FakeConnection final : public Connection {
    public:
        FakeConnection(FakeHelper& helper, int number, EndHandler on_end)
            : helper_(helper), number_(number), on_end_(std::move(on_end)),
              dispatcher_(helper.creation_lock_, [this](std::uint32_t width, std::uint32_t height,
                                                        std::uint32_t, const MonitorIdentity& id) {
                  return helper_.make_device(number_, width, height, id.serial);
              })
        {
        }
        ~FakeConnection() override
        {
            const std::lock_guard lock{helper_.lock_};
            dispatcher_.close_all();
            ++helper_.connections_closed_;
        }

        ClientResult<std::string> exchange(std::string_view line) override
        {
            std::string reply;
            {
                const std::lock_guard lock{helper_.lock_};
                if (ended_) {
                    return ClientError{ErrorKind::connection_lost, "gone"};
                }
                if (helper_.garbage_replies_) {
                    return std::string{"garbage"};
                }
                reply = encode_reply(dispatcher_.handle_line(line));
                reply.pop_back();
                ++exchanges_;
            }
            if (helper_.end_after_exchanges_ == exchanges_ && number_ > 1) {
                end_from_outside();
            }
            return reply;
        }

        // As the service dying: its monitors go, and the watcher reports from its thread.
        void end_from_outside()
        {
            {
                const std::lock_guard lock{helper_.lock_};
                ended_ = true;
                dispatcher_.close_all();
            }
            std::thread{on_end_}.join();
        }

        [[nodiscard]] std::set<std::uint32_t> serials_held()
        {
            const std::lock_guard lock{helper_.lock_};
            return helper_.held_by(number_);
        }

    private:
        FakeHelper& helper_;
        int number_;
        EndHandler on_end_;
        RequestDispatcher<Device> dispatcher_;
        bool ended_ = false;
        int exchanges_ = 0;
    };

    struct Device {
        FakeHelper* helper;
        int connection;
        std::uint32_t serial;
        Device(FakeHelper* h, int c, std::uint32_t s) : helper(h), connection(c), serial(s) {}
        Device(Device&& other) noexcept
            : helper(std::exchange(other.helper, nullptr)), connection(other.connection),
              serial(other.serial)
        {
        }
        Device& operator=(Device&&) = delete;
        ~Device()
        {
            if (helper != nullptr) {
                helper->live_.erase({connection, serial}); // under the helper's lock
            }
        }
    };

    class FakeConnector final : public Connector {
    public:
        explicit FakeConnector(FakeHelper& helper) : helper_(helper) {}
        ClientResult<std::unique_ptr<Connection>> connect(EndHandler on_end) override
        {
            const std::lock_guard lock{helper_.lock_};
            if (helper_.refuse_connects_) {
                return ClientError{ErrorKind::start_failed, "the service would not start"};
            }
            auto connection = std::make_unique<FakeConnection>(helper_, ++helper_.connections_,
                                                               std::move(on_end));
            helper_.current_ = connection.get();
            return std::unique_ptr<Connection>{std::move(connection)};
        }

    private:
        FakeHelper& helper_;
    };

    std::optional<Device> make_device(int connection, std::uint32_t width, std::uint32_t height,
                                      std::uint32_t serial)
    {
        // Called with lock_ held, from within the connection's exchange.
        if (failing_serials_.contains(serial)) {
            return std::nullopt;
        }
        made_.push_back({connection, Monitor{width, height, serial}});
        live_.insert({connection, serial});
        return Device{this, connection, serial};
    }

    std::set<std::uint32_t> held_by(int connection) const
    {
        std::set<std::uint32_t> serials;
        for (const auto& [number, serial] : live_) {
            if (number == connection) {
                serials.insert(serial);
            }
        }
        return serials;
    }

    // What tests set and read, under the lock.
    void fail_creates_of(std::uint32_t serial)
    {
        const std::lock_guard lock{lock_};
        failing_serials_.insert(serial);
    }
    void stop_failing()
    {
        const std::lock_guard lock{lock_};
        failing_serials_.clear();
    }
    void refuse_connects(bool refuse)
    {
        const std::lock_guard lock{lock_};
        refuse_connects_ = refuse;
    }
    void reply_garbage()
    {
        const std::lock_guard lock{lock_};
        garbage_replies_ = true;
    }
    // A connection after the first ends from outside right after its n-th reply.
    void end_connections_after(int exchanges) { end_after_exchanges_ = exchanges; }

    void kill_current() { current_->end_from_outside(); }
    std::set<std::uint32_t> held_now() { return current_->serials_held(); }

    std::vector<Monitor> made_on(int connection)
    {
        const std::lock_guard lock{lock_};
        std::vector<Monitor> monitors;
        for (const auto& [number, monitor] : made_) {
            if (number == connection) {
                monitors.push_back(monitor);
            }
        }
        return monitors;
    }
    std::size_t live_devices()
    {
        const std::lock_guard lock{lock_};
        return live_.size();
    }
    int connections()
    {
        const std::lock_guard lock{lock_};
        return connections_;
    }
    int connections_closed()
    {
        const std::lock_guard lock{lock_};
        return connections_closed_;
    }

private:
    std::mutex lock_;
    std::mutex creation_lock_;
    std::vector<std::pair<int, Monitor>> made_;
    std::set<std::pair<int, std::uint32_t>> live_;
    std::set<std::uint32_t> failing_serials_;
    bool refuse_connects_ = false;
    bool garbage_replies_ = false;
    std::atomic<int> end_after_exchanges_{0};
    int connections_ = 0;
    int connections_closed_ = 0;
    FakeConnection* current_ = nullptr;
};

// What the client told: the lost flag as the event holds it, and each lost notice.
struct Told {
    std::mutex lock;
    bool lost_marked = false;
    int lost_notices = 0;
    std::function<void()> during_notice;
};

class MonitorClientTest : public ::testing::Test {
protected:
    MonitorClientTest()
        : client(std::make_unique<FakeHelper::FakeConnector>(helper),
                 LostNotices{[this](bool lost) { told.lost_marked = lost; },
                             [this] {
                                 if (told.during_notice) {
                                     told.during_notice();
                                 }
                                 const std::lock_guard lock{told.lock};
                                 ++told.lost_notices;
                             }})
    {
    }

    void SetUp() override { ASSERT_TRUE(client.open()); }

    int lost_notices()
    {
        const std::lock_guard lock{told.lock};
        return told.lost_notices;
    }

    FakeHelper helper;
    Told told;
    MonitorClient client;
};

TEST_F(MonitorClientTest, ping_gives_the_helpers_version)
{
    const ClientResult<std::string> version = client.ping();
    ASSERT_TRUE(version);
    EXPECT_EQ(version.value(), "0.0.0");
}

TEST_F(MonitorClientTest, each_reply_word_comes_back_as_its_own_error_kind)
{
    for (std::uint32_t serial = 1; serial <= 4; ++serial) {
        ASSERT_TRUE(client.create(1920, 1080, serial));
    }
    ASSERT_TRUE(client.destroy(4));
    helper.fail_creates_of(9);
    struct Case {
        const char* what;
        std::function<ClientStatus()> call;
        ErrorKind expected;
    };
    const auto create = [this](std::uint32_t w, std::uint32_t h, std::uint32_t serial) {
        return [this, w, h, serial]() -> ClientStatus {
            if (auto made = client.create(w, h, serial); !made) {
                return made.error();
            }
            return {};
        };
    };
    const std::vector<Case> cases = {
        {"an odd width", create(1921, 1080, 5), ErrorKind::refused},
        {"a serial held already", create(1920, 1080, 2), ErrorKind::refused},
        {"a device that is not made", create(1920, 1080, 9), ErrorKind::failed},
        {"a destroy of a serial not held", [this] { return client.destroy(7); },
         ErrorKind::unknown},
    };
    for (const Case& c : cases) {
        const ClientStatus outcome = c.call();
        ASSERT_FALSE(outcome) << c.what;
        EXPECT_EQ(outcome.error().kind, c.expected) << c.what << ": " << outcome.error().text;
    }
    ASSERT_TRUE(client.create(1280, 720, 5));
    const ClientResult<Monitor> fifth = client.create(1280, 720, 6);
    ASSERT_FALSE(fifth);
    EXPECT_EQ(fifth.error().kind, ErrorKind::limit);
    EXPECT_EQ(
        client.monitors(),
        (std::vector<Monitor>{{1920, 1080, 1}, {1920, 1080, 2}, {1920, 1080, 3}, {1280, 720, 5}}));
    EXPECT_FALSE(client.connection_lost()) << "a refusal leaves the connection as it was";
}

TEST_F(MonitorClientTest, a_lost_connection_is_told_once_and_requests_fail_until_restored)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    helper.kill_current();
    EXPECT_TRUE(client.connection_lost());
    EXPECT_TRUE(told.lost_marked);
    EXPECT_EQ(lost_notices(), 1);

    const ClientResult<std::string> pinged = client.ping();
    const ClientResult<Monitor> made = client.create(1280, 720, 2);
    ASSERT_FALSE(pinged);
    ASSERT_FALSE(made);
    EXPECT_EQ(pinged.error().kind, ErrorKind::connection_lost);
    EXPECT_EQ(made.error().kind, ErrorKind::connection_lost);
    EXPECT_EQ(lost_notices(), 1) << "told once per lost connection";
    EXPECT_EQ(client.monitors(), (std::vector<Monitor>{{1920, 1080, 1}}))
        << "the list restore brings back";
}

TEST_F(MonitorClientTest, restore_makes_every_monitor_again_with_its_mode_and_serial_in_order)
{
    ASSERT_TRUE(client.create(2560, 1440, 7));
    ASSERT_TRUE(client.create(1920, 1080, 3));
    helper.kill_current();

    ASSERT_TRUE(client.restore());
    EXPECT_FALSE(client.connection_lost());
    EXPECT_FALSE(told.lost_marked);
    EXPECT_EQ(helper.connections(), 2);
    EXPECT_EQ(helper.made_on(2), (std::vector<Monitor>{{2560, 1440, 7}, {1920, 1080, 3}}));
    EXPECT_EQ(client.monitors(), helper.made_on(2));
    EXPECT_TRUE(client.ping());

    helper.kill_current();
    EXPECT_EQ(lost_notices(), 2) << "a second loss is told again";
}

TEST_F(MonitorClientTest, restore_while_connected_does_nothing)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    ASSERT_TRUE(client.restore());
    EXPECT_EQ(helper.connections(), 1);
    EXPECT_EQ(helper.held_now(), (std::set<std::uint32_t>{1}));
}

TEST_F(MonitorClientTest, a_failed_restore_holds_nothing_stays_lost_and_can_be_tried_again)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    ASSERT_TRUE(client.create(1280, 720, 2));
    helper.kill_current();

    helper.refuse_connects(true);
    ClientStatus restored = client.restore();
    ASSERT_FALSE(restored);
    EXPECT_EQ(restored.error().kind, ErrorKind::start_failed);
    helper.refuse_connects(false);

    helper.fail_creates_of(2);
    restored = client.restore();
    ASSERT_FALSE(restored);
    EXPECT_EQ(restored.error().kind, ErrorKind::failed);
    EXPECT_TRUE(client.connection_lost());
    EXPECT_TRUE(told.lost_marked);
    EXPECT_EQ(helper.live_devices(), 0u) << "the monitor made before the failure went again";
    EXPECT_EQ(client.monitors(), (std::vector<Monitor>{{1920, 1080, 1}, {1280, 720, 2}}));
    EXPECT_EQ(lost_notices(), 1) << "a failed restore is no new loss";

    helper.stop_failing();
    ASSERT_TRUE(client.restore());
    EXPECT_EQ(helper.held_now(), (std::set<std::uint32_t>{1, 2}));
}

TEST_F(MonitorClientTest, a_connection_that_ends_as_restore_finishes_leaves_the_client_lost)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    helper.kill_current();
    // The new connection ends right after its ping and the one create (two exchanges; the
    // ping is the connector's, which the fake leaves out): its end finds the client lost.
    helper.end_connections_after(1);

    const ClientStatus restored = client.restore();
    ASSERT_FALSE(restored);
    EXPECT_EQ(restored.error().kind, ErrorKind::connection_lost);
    EXPECT_TRUE(client.connection_lost());
    EXPECT_TRUE(told.lost_marked) << "the event must not say connected over a dead connection";
}

TEST_F(MonitorClientTest, destroy_while_lost_takes_the_monitor_off_the_restore_list)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    ASSERT_TRUE(client.create(1280, 720, 2));
    helper.kill_current();

    EXPECT_TRUE(client.destroy(1));
    ASSERT_TRUE(client.restore());
    EXPECT_EQ(helper.made_on(2), (std::vector<Monitor>{{1280, 720, 2}}));
}

TEST_F(MonitorClientTest, a_reply_that_does_not_read_drops_the_connection)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    helper.reply_garbage();
    const ClientResult<std::string> pinged = client.ping();
    ASSERT_FALSE(pinged);
    EXPECT_EQ(pinged.error().kind, ErrorKind::protocol);
    EXPECT_TRUE(client.connection_lost());
    EXPECT_EQ(lost_notices(), 1);
    EXPECT_EQ(helper.connections_closed(), 1) << "closed at once: the helper lets go";
    EXPECT_EQ(helper.live_devices(), 0u);
}

TEST_F(MonitorClientTest, calls_from_inside_the_lost_notice_are_refused_instead_of_waiting_forever)
{
    ASSERT_TRUE(client.create(1920, 1080, 1));
    std::vector<ErrorKind> kinds;
    std::vector<Monitor> seen;
    told.during_notice = [&] {
        seen = client.monitors();
        kinds.push_back(client.ping().error().kind);
        kinds.push_back(client.restore().error().kind);
        kinds.push_back(client.destroy(1).error().kind);
        kinds.push_back(client.create(2, 2, 2).error().kind);
    };
    helper.kill_current();
    EXPECT_EQ(kinds, std::vector<ErrorKind>(4, ErrorKind::usage));
    EXPECT_EQ(seen, (std::vector<Monitor>{{1920, 1080, 1}}));
    told.during_notice = nullptr;
    EXPECT_TRUE(client.restore()) << "outside the notice it works";
}

TEST_F(MonitorClientTest, threads_pinging_creating_and_destroying_keep_list_and_helper_in_step)
{
    constexpr int kThreads = 4;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto serial = static_cast<std::uint32_t>(t + 1); // one serial per thread
            for (int round = 0; round < 100; ++round) {
                const bool kept = client.create(2 * (t + 1), 2, serial).ok() &&
                                  client.ping().ok() &&
                                  (round == 99 || client.destroy(serial).ok()); // the last stays
                failures += kept ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::set<std::uint32_t> listed;
    for (const Monitor& monitor : client.monitors()) {
        listed.insert(monitor.serial);
    }
    EXPECT_EQ(listed, helper.held_now());
    EXPECT_EQ(listed, (std::set<std::uint32_t>{1, 2, 3, 4})) << "each keeps its last";
}

TEST_F(MonitorClientTest, destroy_racing_restore_leaves_list_and_helper_in_step)
{
    for (int round = 0; round < 50; ++round) {
        ASSERT_TRUE(client.create(1920, 1080, 1));
        ASSERT_TRUE(client.create(1280, 720, 2));
        helper.kill_current();
        std::thread restorer{[this] { EXPECT_TRUE(client.restore()); }};
        std::thread destroyer{[this] { EXPECT_TRUE(client.destroy(2)); }};
        restorer.join();
        destroyer.join();
        EXPECT_EQ(client.monitors(), (std::vector<Monitor>{{1920, 1080, 1}}));
        EXPECT_EQ(helper.held_now(), (std::set<std::uint32_t>{1}));
        ASSERT_TRUE(client.destroy(1));
    }
}

} // namespace
} // namespace tolvek::display
