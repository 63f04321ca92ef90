#include "monitor_client.h"

#include <algorithm>
#include <utility>

#include "client_errors.h"
#include "monitor_values.h"

namespace tolvek::display {
namespace {

// Set while a lost-connection notice runs on this thread. A call that talks to the helper
// would wait there for the request lock, which the thread that is being told may hold, or
// for the connection's thread, which may be this very thread.
thread_local bool telling_lost = false;

class TellingLost {
public:
    TellingLost() { telling_lost = true; }
    ~TellingLost() { telling_lost = false; }
    TellingLost(const TellingLost&) = delete;
    TellingLost& operator=(const TellingLost&) = delete;
};

} // namespace

ClientResult<std::string> ping_over(Connection& connection)
{
    ClientResult<std::string> line = connection.exchange(encode_request(Ping{}));
    if (!line) {
        return std::move(line).error();
    }
    const std::optional<Reply> reply = parse_reply(line.value());
    if (!reply || !reply->ok || !reply->version) {
        return unreadable_reply_error(line.value());
    }
    return *reply->version;
}

MonitorClient::MonitorClient(std::unique_ptr<Connector> connector, LostNotices notices)
    : connector_(std::move(connector)), notices_(std::move(notices))
{
}

MonitorClient::~MonitorClient()
{
    const std::lock_guard lock{request_lock_};
    connection_.reset(); // the helper lets go of every monitor of the connection
}

ClientStatus MonitorClient::open()
{
    const std::lock_guard lock{request_lock_};
    return connect_anew();
}

ClientResult<std::string> MonitorClient::ping()
{
    if (telling_lost) {
        return lost_callback_error();
    }
    const std::lock_guard lock{request_lock_};
    ClientResult<Reply> reply = request(Ping{});
    if (!reply) {
        return std::move(reply).error();
    }
    if (!reply.value().version) {
        return unreadable_reply_error(encode_reply(reply.value()));
    }
    return *reply.value().version;
}

ClientResult<Monitor> MonitorClient::create(std::uint32_t width, std::uint32_t height,
                                            std::uint32_t serial)
{
    if (telling_lost) {
        return lost_callback_error();
    }
    const std::lock_guard lock{request_lock_};
    if (ClientStatus done = carry_out(monitor_create(width, height, serial)); !done) {
        return std::move(done).error();
    }
    const Monitor monitor{width, height, serial};
    const std::lock_guard state{state_lock_};
    monitors_.push_back(monitor);
    return monitor;
}

ClientStatus MonitorClient::destroy(std::uint32_t serial)
{
    if (telling_lost) {
        return lost_callback_error();
    }
    const std::lock_guard lock{request_lock_};
    const auto forget = [this, serial] {
        const std::lock_guard state{state_lock_};
        std::erase_if(monitors_, [serial](const Monitor& m) { return m.serial == serial; });
    };
    if (connection_lost()) {
        // The helper let go of it with the connection; it only leaves the restore list.
        forget();
        return {};
    }
    ClientStatus done = carry_out(Destroy{serial});
    if (done || done.error().kind == ErrorKind::unknown) {
        forget(); // gone from the helper either way
    }
    return done;
}

ClientStatus MonitorClient::restore()
{
    if (telling_lost) {
        return lost_callback_error();
    }
    const std::lock_guard lock{request_lock_};
    if (!connection_lost()) {
        return {};
    }
    connection_.reset(); // what is left of the lost one
    if (ClientStatus connected = connect_anew(); !connected) {
        return connected;
    }
    for (const Monitor& monitor : monitors()) {
        if (ClientStatus made =
                carry_out(monitor_create(monitor.width, monitor.height, monitor.serial));
            !made) {
            connection_.reset(); // all or nothing: the helper lets go of what was made again
            return made;
        }
    }
    const std::lock_guard state{state_lock_};
    if (current_ended_) {
        // It ended right after the last reply; its notice found the client still lost.
        return connection_lost_error();
    }
    lost_ = false;
    notices_.mark(false);
    return {};
}

std::vector<Monitor> MonitorClient::monitors() const
{
    const std::lock_guard state{state_lock_};
    return monitors_;
}

bool MonitorClient::connection_lost() const
{
    const std::lock_guard state{state_lock_};
    return lost_;
}

bool MonitorClient::current_connection_ended() const
{
    const std::lock_guard state{state_lock_};
    return current_ended_;
}

ClientStatus MonitorClient::connect_anew()
{
    std::uint64_t generation = 0;
    {
        const std::lock_guard state{state_lock_};
        generation = ++generation_; // the end of an older connection is no news now
        current_ended_ = false;
    }
    ClientResult<std::unique_ptr<Connection>> connection = connector_->connect([this, generation] {
        if (mark_ended(generation)) {
            tell_lost();
        }
    });
    if (!connection) {
        mark_ended(generation); // a restore that failed leaves the client lost, as it was
        return std::move(connection).error();
    }
    connection_ = std::move(connection).value();
    return {};
}

ClientResult<Reply> MonitorClient::request(const Request& request)
{
    if (!connection_ || current_connection_ended()) {
        return connection_lost_error();
    }
    ClientResult<std::string> line = connection_->exchange(encode_request(request));
    if (!line) {
        return drop_connection(std::move(line).error());
    }
    std::optional<Reply> reply = parse_reply(line.value());
    if (!reply) {
        return drop_connection(unreadable_reply_error(line.value()));
    }
    return *std::move(reply);
}

ClientStatus MonitorClient::carry_out(const Request& request)
{
    ClientResult<Reply> reply = this->request(request);
    if (!reply) {
        return std::move(reply).error();
    }
    if (!reply.value().ok) {
        return reply_error(*reply.value().error, request);
    }
    return {};
}

ClientError MonitorClient::drop_connection(ClientError error)
{
    std::uint64_t generation = 0;
    {
        const std::lock_guard state{state_lock_};
        generation = generation_;
    }
    const bool newly_lost = mark_ended(generation);
    connection_.reset(); // waits for the connection's thread, which may be telling the end too
    if (newly_lost) {
        tell_lost();
    }
    return error;
}

bool MonitorClient::mark_ended(std::uint64_t generation)
{
    const std::lock_guard state{state_lock_};
    if (generation != generation_) {
        return false;
    }
    current_ended_ = true;
    if (lost_) {
        return false;
    }
    lost_ = true;
    notices_.mark(true);
    return true;
}

void MonitorClient::tell_lost()
{
    const TellingLost telling;
    notices_.tell();
}

} // namespace tolvek::display
