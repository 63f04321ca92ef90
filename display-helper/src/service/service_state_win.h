#pragma once

// What the running service's threads share: the two process-wide holders through which any
// thread reports a service state or asks the service to stop, and PipeServerState, the
// record the pipe listener and every connection session work on.
//
// Locks: the two holders' mutexes, the registry lock and the creation lock. No code holds
// two of them at once.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tolvek {

struct PipeServerState {
    explicit PipeServerState(std::string served_user_sid) : user_sid(std::move(served_user_sid)) {}
    PipeServerState(const PipeServerState&) = delete;
    PipeServerState& operator=(const PipeServerState&) = delete;

    // The served user's SID in the system's canonical text form.
    const std::string user_sid;

    // One entry per running session: its pipe handle, which the session owns. The stop path
    // cancels and disconnects every registered pipe under this lock; a session removes its
    // entry before it closes the handle, so the stop path never meets a closed one.
    std::mutex registry_lock;
    std::map<std::uint64_t, HANDLE> connection_registry;

    std::atomic<std::uint64_t> next_connection_id{1};
    std::atomic<std::uint32_t> live_connections{0};     // sessions running now
    std::atomic<std::uint32_t> admitted_connections{0}; // ever admitted; read by the idle rule

    // Held across the creation of one device, so that at most one is created at a time.
    std::mutex creation_lock;
};

// Sends the service status record with `state` (SERVICE_RUNNING accepts STOP and
// SHUTDOWN; every other state accepts nothing). Does nothing while no status handle is
// published.
void report_status(DWORD state);

// Sets the stop event if one is published. Once set it stays set.
void signal_stop();

// Filled by the service main right after the control handler is registered; emptied after
// the final SERVICE_STOPPED report.
void publish_status_handle(SERVICE_STATUS_HANDLE handle);
void withdraw_status_handle();

// Filled as soon as the stop event exists; emptied after the pipe server has returned and
// before the event is closed, so that a late signal finds nothing instead of a closed handle.
void publish_stop_event(HANDLE stop_event);
void withdraw_stop_event();

} // namespace tolvek
