#pragma once

// What a connection session decides for one request line: the value checks of a create, the
// per-connection limit, duplicate serials, destroys of serials not held, and the replies.
// Platform-free: the software devices are reached through a seam (a function that makes
// one, and the device type's destructor, which closes it), so the decisions are tested
// natively as well.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "monitor_identity.h"
#include "monitor_values.h"
#include "request_protocol.h"

namespace tolvek {

// The monitors of one connection, by serial. Each device closes itself when it leaves the
// table, so a destroy and the end of the connection close each exactly once.
template <class Device>
using MonitorTable = std::map<std::uint32_t, Device>;

template <class Device>
class RequestDispatcher {
public:
    // Makes one device; nothing when it was not made (the creator logs why). Called with
    // the creation lock held.
    using CreateDevice = std::function<std::optional<Device>(
        std::uint32_t width, std::uint32_t height, std::uint32_t refresh_hz,
        const MonitorIdentity& identity)>;

    RequestDispatcher(std::mutex& creation_lock, CreateDevice create_device)
        : creation_lock_(creation_lock), create_device_(std::move(create_device))
    {
    }

    // Carries out the request of one line and gives its reply.
    [[nodiscard]] Reply handle_line(std::string_view line)
    {
        const std::optional<Request> request = parse_request(line);
        if (!request) {
            return Reply::failure(ReplyError::refused);
        }
        struct Visitor {
            RequestDispatcher& self;
            Reply operator()(const Create& create) const { return self.create(create); }
            Reply operator()(const Destroy& destroy) const { return self.destroy(destroy); }
            Reply operator()(const Ping&) const { return Reply::pong(); }
        };
        return std::visit(Visitor{*this}, *request);
    }

    // Closes every device still held, as the connection ends, and says how many there were.
    std::size_t close_all()
    {
        const std::size_t count = monitors_.size();
        monitors_.clear();
        return count;
    }

    [[nodiscard]] std::size_t monitor_count() const noexcept { return monitors_.size(); }

private:
    Reply create(const Create& create)
    {
        // Values first, then the limit, then the serial: a full table answers "limit" even
        // for a serial it holds, and a bad value answers "refused" even when it is full.
        if (!create_values_accepted(create)) {
            return Reply::failure(ReplyError::refused);
        }
        if (monitors_.size() >= kMonitorsPerConnection) {
            return Reply::failure(ReplyError::limit);
        }
        if (monitors_.contains(create.serial)) {
            return Reply::failure(ReplyError::refused);
        }
        std::optional<Device> device = create_device_locked(create);
        if (!device) {
            return Reply::failure(ReplyError::failed);
        }
        monitors_.emplace(create.serial, std::move(*device));
        return Reply::success();
    }

    // The creation lock covers the creation alone, not the reply that follows.
    std::optional<Device> create_device_locked(const Create& create)
    {
        const std::lock_guard lock{creation_lock_};
        return create_device_(create.width, create.height, kMonitorRefreshHz,
                              MonitorIdentity{kMonitorVendorId, kMonitorProductId, create.serial});
    }

    Reply destroy(const Destroy& destroy)
    {
        // The node leaves the table first, so the device closes after it is gone from it
        // and without any lock held.
        auto node = monitors_.extract(destroy.serial);
        if (node.empty()) {
            return Reply::failure(ReplyError::unknown);
        }
        return Reply::success();
    }

    std::mutex& creation_lock_;
    CreateDevice create_device_;
    MonitorTable<Device> monitors_;
};

} // namespace tolvek
