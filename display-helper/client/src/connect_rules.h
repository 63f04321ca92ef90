#pragma once

// The decisions of a connect to the helper, free of the platform: what follows an attempt to
// open the pipe given what the service manager says of the service, whether the process
// serving the pipe is the service, and what a connection that ends before its first reply
// means. The Windows shell (helper_connector_win.cpp) opens, asks and waits; these decide.

#include <cstdint>
#include <optional>

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

// `started_here`: this connect's own start request succeeded.
[[nodiscard]] ConnectStep step_after_open(PipeOpen open, const ServiceSnapshot& service,
                                          bool started_here);

enum class ServerVerdict {
    genuine,  // the running service serves the pipe
    impostor, // another program does
    retry,    // the service is between states: close the pipe and try again
};

// `seen_before`: the server process of an earlier attempt of this connect that was judged
// `retry`. A pipe that a process other than the service still serves on a second look, while
// the service is not running, is not a service that is going away.
[[nodiscard]] ServerVerdict judge_server(std::uint32_t server_process_id,
                                         const ServiceSnapshot& service,
                                         std::optional<std::uint32_t> seen_before);

enum class EarlyEndMeaning {
    dropped_as_another_user, // the same service runs on: admission turned this user away
    service_went,            // the service stopped or changed meanwhile: try again
};

// A connection that ended before answering its first request, given the service process
// that was checked and what the service manager says now.
[[nodiscard]] EarlyEndMeaning meaning_of_early_end(std::uint32_t checked_process_id,
                                                   const ServiceSnapshot& now);

} // namespace tolvek::display
