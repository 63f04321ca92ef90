#include "service/listener_rules.h"

namespace tolvek {

bool idle_stop_due(std::uint32_t admitted_connections, std::chrono::milliseconds since_start,
                   std::chrono::milliseconds idle_limit)
{
    return admitted_connections == 0 && since_start >= idle_limit;
}

ListenerStep step_after_wait(WaitEnd end, std::uint32_t admitted_connections,
                             std::chrono::milliseconds since_start,
                             std::chrono::milliseconds idle_limit)
{
    switch (end) {
    case WaitEnd::client_connected:
        return ListenerStep::check_client;
    case WaitEnd::client_gone:
        return ListenerStep::renew_instance; // like a rejected client: a fresh wait begins
    case WaitEnd::stop_signalled:
        return ListenerStep::stop;
    case WaitEnd::timed_out:
        break;
    }
    return idle_stop_due(admitted_connections, since_start, idle_limit)
               ? ListenerStep::stop_idle
               : ListenerStep::renew_instance;
}

OpenFailureStep step_after_open_failure(std::uint32_t error_code,
                                        std::uint32_t instances_held_by_sessions)
{
    return error_code == kPipeBusyError && instances_held_by_sessions > 0
               ? OpenFailureStep::wait_for_a_session_to_end
               : OpenFailureStep::end_listener;
}

} // namespace tolvek
