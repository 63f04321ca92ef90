#include "connect_rules.h"

namespace tolvek::display {

ConnectStep step_after_open(PipeOpen open, const ServiceSnapshot& service, bool started_here)
{
    switch (open) {
    case PipeOpen::opened:
        return ConnectStep::check_server;
    case PipeOpen::busy:
        return ConnectStep::wait_for_instance;
    case PipeOpen::denied:
        return ConnectStep::fail_denied;
    case PipeOpen::failed:
        return ConnectStep::fail;
    case PipeOpen::missing:
        break;
    }
    switch (service.state) {
    case ServiceRunState::stopped:
        // A stop after this connect's own start is the service failing to serve; a stop
        // before it, or of an instance that was already going, is met with a start.
        return started_here ? ConnectStep::fail_stopped : ConnectStep::start_service;
    case ServiceRunState::starting:
    case ServiceRunState::running: // the pipe opens right after the service reports running
    case ServiceRunState::stopping:
        return ConnectStep::wait_for_pipe;
    }
    return ConnectStep::wait_for_pipe;
}

ServerVerdict judge_server(std::uint32_t server_process_id, const ServiceSnapshot& service,
                           std::optional<std::uint32_t> seen_before)
{
    const bool service_process = service.process_id != 0 && server_process_id == service.process_id;
    switch (service.state) {
    case ServiceRunState::running:
    case ServiceRunState::starting:
        return service_process ? ServerVerdict::genuine : ServerVerdict::impostor;
    case ServiceRunState::stopping:
        // Its pipe closes as it stops; a connection to it would end at once.
        return ServerVerdict::retry;
    case ServiceRunState::stopped:
        // The pipe may be the last instance of a service that has just stopped: look again.
        return seen_before == server_process_id ? ServerVerdict::impostor : ServerVerdict::retry;
    }
    return ServerVerdict::retry;
}

EarlyEndMeaning meaning_of_early_end(std::uint32_t checked_process_id, const ServiceSnapshot& now)
{
    const bool same_service_runs =
        now.state == ServiceRunState::running && now.process_id == checked_process_id;
    return same_service_runs ? EarlyEndMeaning::dropped_as_another_user
                             : EarlyEndMeaning::service_went;
}

} // namespace tolvek::display
