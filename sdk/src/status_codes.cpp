#include "status_codes.h"

#include <string_view>

#include "producer_texts.h"

namespace tolvek::sdk {
namespace {

using display::ErrorKind;

struct ClientStatus {
    ErrorKind kind;
    tolvek_status status;
};

// Every kind of the display client's failures with the status that reports it. Running out of
// memory and a failed system call are general statuses, shared with the producer.
constexpr ClientStatus kClientStatuses[] = {
    {ErrorKind::not_installed, TOLVEK_ERROR_NOT_INSTALLED},
    {ErrorKind::access_denied, TOLVEK_ERROR_ACCESS_DENIED},
    {ErrorKind::start_failed, TOLVEK_ERROR_START_FAILED},
    {ErrorKind::pipe_busy, TOLVEK_ERROR_PIPE_BUSY},
    {ErrorKind::timed_out, TOLVEK_ERROR_TIMED_OUT},
    {ErrorKind::impostor, TOLVEK_ERROR_IMPOSTOR},
    {ErrorKind::connection_lost, TOLVEK_ERROR_CONNECTION_LOST},
    {ErrorKind::refused, TOLVEK_ERROR_REFUSED},
    {ErrorKind::limit, TOLVEK_ERROR_LIMIT},
    {ErrorKind::failed, TOLVEK_ERROR_MONITOR_FAILED},
    {ErrorKind::unknown, TOLVEK_ERROR_UNKNOWN_SERIAL},
    {ErrorKind::protocol, TOLVEK_ERROR_PROTOCOL},
    {ErrorKind::usage, TOLVEK_ERROR_USAGE},
    {ErrorKind::out_of_memory, TOLVEK_ERROR_OUT_OF_MEMORY},
    {ErrorKind::system, TOLVEK_ERROR_SYSTEM},
};

// The client's own text of a kind. Its texts are string literals, so the view's data ends
// with a NUL and lives for the whole program.
const char* client_kind_text(ErrorKind kind) noexcept
{
    return display::error_kind_text(kind).data();
}

} // namespace

tolvek_status status_of(ErrorKind kind) noexcept
{
    for (const ClientStatus& entry : kClientStatuses) {
        if (entry.kind == kind) {
            return entry.status;
        }
    }
    return TOLVEK_ERROR_INTERNAL; // a kind added to the client without a status here
}

const char* status_text(tolvek_status status) noexcept
{
    switch (status) {
    case TOLVEK_OK:
        return "ok";
    case TOLVEK_ERROR_INVALID_ARGUMENT:
        return "an argument of the call is not valid";
    case TOLVEK_ERROR_BUFFER_TOO_SMALL:
        return "the caller's buffer is too small for the answer";
    case TOLVEK_ERROR_INTERNAL:
        return "an unexpected failure inside the SDK";
    case TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING:
        return vcam::kAnotherProducerRunningText;
    default:
        break;
    }
    for (const ClientStatus& entry : kClientStatuses) {
        if (entry.status == status) {
            return client_kind_text(entry.kind);
        }
    }
    return "unknown status";
}

} // namespace tolvek::sdk
