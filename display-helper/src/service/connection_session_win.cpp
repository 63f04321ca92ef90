#include "service/connection_session_win.h"

#include <array>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "line_framer.h"
#include "log.h"
#include "monitor_device_win.h"
#include "service/request_dispatch.h"

namespace tolvek {
namespace {

using SessionDispatcher = RequestDispatcher<UniqueSwDevice>;

// Overlapped I/O on the session's pipe, one operation at a time, each waited for to its
// end, so the record is never in use when the session leaves.
class PipeConnection {
public:
    PipeConnection(HANDLE pipe, HANDLE event) : pipe_(pipe), event_(event) {}

    // Bytes read into `buffer`; nothing when the connection is over: the client went, the
    // stop path cancelled the read, any other error, or a transfer of 0 bytes.
    std::optional<std::size_t> read(std::span<char> buffer)
    {
        prepare();
        const BOOL started = ReadFile(pipe_, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      nullptr, &overlapped_);
        return finish(started);
    }

    // Whether every byte was written; partial writes are continued.
    bool write_all(std::string_view bytes)
    {
        while (!bytes.empty()) {
            prepare();
            const BOOL started = WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()),
                                           nullptr, &overlapped_);
            const std::optional<std::size_t> written = finish(started);
            if (!written) {
                return false;
            }
            bytes.remove_prefix(*written);
        }
        return true;
    }

private:
    void prepare()
    {
        ResetEvent(event_); // a failure is ignored
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_;
    }

    // Waits for the operation, also when it completed at once, and gives its byte count.
    std::optional<std::size_t> finish(BOOL started)
    {
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return std::nullopt;
        }
        DWORD transferred = 0;
        if (!GetOverlappedResult(pipe_, &overlapped_, &transferred, TRUE /* wait */) ||
            transferred == 0) {
            return std::nullopt;
        }
        return transferred;
    }

    HANDLE pipe_;
    HANDLE event_;
    OVERLAPPED overlapped_{};
};

constexpr std::string_view kOverTheCap = "a line over the cap; dropping the connection";

// Reads, frames and answers requests until the connection ends for any reason.
void serve_requests(PipeConnection& connection, SessionDispatcher& dispatcher)
{
    LineFramer framer;
    std::array<char, LineFramer::kReadSize> read_buffer;
    std::vector<std::string> batch;
    std::string reply;
    reply.reserve(128);
    for (;;) {
        const std::optional<std::size_t> count = connection.read(read_buffer);
        if (!count) {
            return;
        }
        if (framer.take_lines({read_buffer.data(), *count}, batch) ==
            FramingOutcome::over_the_cap) {
            log_line(kOverTheCap);
            return;
        }
        // While a request is handled the pipe is not read: replies keep the order of lines.
        for (const std::string& line : batch) {
            encode_reply(dispatcher.handle_line(line), reply);
            if (!connection.write_all(reply)) {
                return;
            }
        }
    }
}

void end_session(PipeServerState& state, std::uint64_t connection_id, SessionDispatcher& dispatcher)
{
    const std::size_t closed = dispatcher.close_all();
    if (closed > 0) {
        log_line("a connection went, taking " + std::to_string(closed) + " display(s)");
    }
    {
        // Out of the registry before the caller closes the pipe, so the stop path's cancel
        // pass never meets a closed handle.
        const std::lock_guard lock{state.registry_lock};
        state.connection_registry.erase(connection_id);
    }
    if (state.live_connections.fetch_sub(1) == 1) {
        log_line("the last connection went; stopping");
        report_status(SERVICE_STOP_PENDING);
        signal_stop();
    }
}

} // namespace

void run_session(PipeServerState& state, std::uint64_t connection_id, HANDLE pipe,
                 HANDLE pipe_event) noexcept
{
    SessionDispatcher dispatcher{state.creation_lock, create_monitor_device};
    PipeConnection connection{pipe, pipe_event};
    try {
        serve_requests(connection, dispatcher);
    } catch (const std::exception&) {
        // Only memory exhaustion throws here; the connection then ends like on any failure.
    }
    end_session(state, connection_id, dispatcher);
}

} // namespace tolvek
