#pragma once

// The display client's logic, free of the platform: requests and their replies, the list of
// monitors held, the lost connection and its restore, and which calls wait for which. The
// connection itself is reached through a seam (Connector, Connection): the Windows shell
// opens the helper's pipe; native tests put the helper's own request handling behind it.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "request_protocol.h"
#include "tolvek/display_client.h"

namespace tolvek::display {

// One connection to the helper. Closing it (its destructor) ends the connection, and with it
// every monitor the helper made on it.
class Connection {
public:
    virtual ~Connection() = default;

    // Writes one request line (without its line feed) and waits for its reply line. Fails
    // with connection_lost, timed_out or protocol; after any failure the connection is spent.
    [[nodiscard]] virtual ClientResult<std::string> exchange(std::string_view request_line) = 0;
};

// Called from the connection's own thread when it ends while nobody closed it.
using EndHandler = std::function<void()>;

class Connector {
public:
    virtual ~Connector() = default;

    // A connection to the helper that answered a ping.
    [[nodiscard]] virtual ClientResult<std::unique_ptr<Connection>> connect(EndHandler on_end) = 0;
};

// The helper's version over a fresh connection: the first request of every connection.
[[nodiscard]] ClientResult<std::string> ping_over(Connection& connection);

// How the client tells that its connection was lost.
struct LostNotices {
    // Called with the client's state lock held whenever connection_lost() changes, with its
    // new value: keeps a waitable event in step. Must not call the client.
    std::function<void(bool lost)> mark;
    // Called once per lost connection, with no lock of the client held (the lost-connection
    // callback).
    std::function<void()> tell;
};

class MonitorClient {
public:
    MonitorClient(std::unique_ptr<Connector> connector, LostNotices notices);
    ~MonitorClient();
    MonitorClient(const MonitorClient&) = delete;
    MonitorClient& operator=(const MonitorClient&) = delete;

    // The first connection. Called once, before anything else.
    [[nodiscard]] ClientStatus open();

    [[nodiscard]] ClientResult<std::string> ping();
    [[nodiscard]] ClientResult<Monitor> create(std::uint32_t width, std::uint32_t height,
                                               std::uint32_t serial);
    [[nodiscard]] ClientStatus destroy(std::uint32_t serial);
    [[nodiscard]] ClientStatus restore();

    [[nodiscard]] std::vector<Monitor> monitors() const;
    [[nodiscard]] bool connection_lost() const;

private:
    // Request helpers; each is called with request_lock_ held.
    [[nodiscard]] ClientResult<Reply> request(const Request& request);
    [[nodiscard]] ClientStatus carry_out(const Request& request);
    ClientError drop_connection(ClientError error);
    [[nodiscard]] ClientStatus connect_anew();

    // The end of the connection of `generation`, however it was noticed. True when it made
    // the client lost, which is then told once.
    bool mark_ended(std::uint64_t generation);
    [[nodiscard]] bool current_connection_ended() const;
    void tell_lost();

    std::unique_ptr<Connector> connector_;
    LostNotices notices_;

    // Taken by every call that talks to the helper, for the whole call: requests take turns,
    // and only such a call changes connection_.
    std::mutex request_lock_;
    std::unique_ptr<Connection> connection_;

    // Guards what the connection's thread and the quick queries reach; never held while
    // waiting for the helper.
    mutable std::mutex state_lock_;
    std::vector<Monitor> monitors_; // held, or to be restored, in creation order
    std::uint64_t generation_ = 0;  // the number of the latest connection
    bool current_ended_ = false;    // the latest connection has ended
    bool lost_ = false;             // what connection_lost() says
};

} // namespace tolvek::display
