#include "connect_rules.h"

namespace tolvek::display {

ConnectStep step_after_open(PipeOpen open, const ServiceSnapshot& service, StartRequest start)
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
    if (start == StartRequest::none) {
        return ConnectStep::start_service;
    }
    if (service.state != ServiceRunState::stopped) {
        return ConnectStep::wait_for_pipe; // it opens its pipe right after it reports running
    }
    // Stopped after this connect's own start: the service will not serve, and a second start
    // would only fail the same way. Stopped after being found running: it went meanwhile.
    return start == StartRequest::accepted ? ConnectStep::fail_stopped : ConnectStep::start_service;
}

ServerVerdict judge_server(std::uint32_t server_process_id, const ServiceSnapshot& service,
                           ServerEnd server_end)
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
        return server_end == ServerEnd::open ? ServerVerdict::impostor : ServerVerdict::retry;
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
