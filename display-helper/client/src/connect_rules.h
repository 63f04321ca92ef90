#pragma once

// The decisions of a connect to the helper, free of the platform: what follows an attempt to
// open the pipe given what the service manager says of the service, whether the process
// serving the pipe is the service, and what a connection that ends before its first reply
// means. The Windows shell (helper_connector_win.cpp) opens, asks and waits; these decide.

#include <cstdint>

namespace tolvek::display {

enum class PipeOpen {
    opened,
    missing, // no instance of the pipe exists: the service is not serving
    busy,    // every instance is taken
    denied,  // the pipe's access list leaves this user out
    failed,  // any other error
};

enum class ServiceRunState { stopped, starting, running, stopping };

struct ServiceSnapshot {
    ServiceRunState state = ServiceRunState::stopped;
    std::uint32_t process_id = 0; // 0 unless the service's process runs
};

enum class ConnectStep {
    check_server,      // see who serves the opened pipe
    start_service,     // ask the service manager to start the service
    wait_for_pipe,     // the service is starting (or stopping, to be started again): try again
    wait_for_instance, // wait for a free instance of the pipe
    fail_denied,
    fail_stopped, // the service this connect started has stopped without opening its pipe
    fail,
};

// How this connect's latest request to start the service went.
enum class StartRequest {
    none,            // not asked yet
    accepted,        // the service manager started it
    already_running, // the manager holds it running (or on its way out)
};

// The service is asked to start whenever the pipe is missing and this connect has not asked
// yet, whatever state the manager reports: a service whose process was ended from outside
// may still be reported running (Wine's manager does so until the next start request, which
// it then carries out), and a start request costs nothing when the service truly runs.
[[nodiscard]] ConnectStep step_after_open(PipeOpen open, const ServiceSnapshot& service,
                                          StartRequest start);

enum class ServerVerdict {
    genuine,  // the running service serves the pipe
    impostor, // another program does
    retry,    // the service is between states: close the pipe and try again
};

enum class ServerEnd {
    open,   // the server end of the connected instance is there
    closed, // the server closed it: the instance is dead
};

// A pipe that is still served while the service is stopped is held by another program; a
// closed one may be the last instance of a service that has just stopped.
[[nodiscard]] ServerVerdict judge_server(std::uint32_t server_process_id,
                                         const ServiceSnapshot& service, ServerEnd server_end);

enum class EarlyEndMeaning {
    dropped_as_another_user, // the same service runs on: admission turned this user away
    service_went,            // the service stopped or changed meanwhile: try again
};

// A connection that ended before answering its first request, given the service process
// that was checked and what the service manager says now.
[[nodiscard]] EarlyEndMeaning meaning_of_early_end(std::uint32_t checked_process_id,
                                                   const ServiceSnapshot& now);

} // namespace tolvek::display
