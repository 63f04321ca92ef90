#include "pipe_connection_win.h"

#include <system_error>
#include <utility>

#include "client_errors.h"
#include "tolvek/error_text_win.h"

namespace tolvek::display {
namespace {

using Clock = std::chrono::steady_clock;

// How long the connection goes without a request before the watcher keeps a read pending
// again. Within a run of requests each reads its own reply, so the watcher does not wake for
// every reply; a loss in such a pause is still seen well within a second.
constexpr std::chrono::milliseconds kQuietBeforeWatching{50};

DWORD milliseconds_until(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<DWORD>(left);
}

UniqueHandle manual_reset_event()
{
    return UniqueHandle{CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr)};
}

} // namespace

PipeConnection::PipeConnection(UniqueHandle pipe, EndHandler on_end,
                               std::chrono::milliseconds reply_limit)
    : pipe_(std::move(pipe)), on_end_(std::move(on_end)), reply_limit_(reply_limit),
      watch_read_event_(manual_reset_event()), request_read_event_(manual_reset_event()),
      reply_event_(CreateEventW(nullptr, FALSE /* auto reset */, FALSE, nullptr)),
      write_event_(manual_reset_event()), stop_event_(manual_reset_event())
{
}

ClientResult<std::unique_ptr<PipeConnection>>
PipeConnection::start(UniqueHandle pipe, EndHandler on_end, std::chrono::milliseconds reply_limit)
{
    auto connection =
        std::make_unique<PipeConnection>(std::move(pipe), std::move(on_end), reply_limit);
    if (!connection->begin()) {
        return pipe_error("the connection to the helper could not be watched",
                          win32_error_text(GetLastError()));
    }
    return connection;
}

bool PipeConnection::begin()
{
    if (!watch_read_event_ || !request_read_event_ || !reply_event_ || !write_event_ ||
        !stop_event_) {
        return false;
    }
    try {
        watcher_ = std::thread{&PipeConnection::watch, this};
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

PipeConnection::~PipeConnection()
{
    if (watcher_.joinable()) {
        SetEvent(stop_event_.get());
        watcher_.join();
    }
    if (read_pending_) {
        // The record and the buffer are this object's: the read must be over before they go.
        CancelIoEx(pipe_.get(), &read_overlapped_);
        DWORD unused = 0;
        GetOverlappedResult(pipe_.get(), &read_overlapped_, &unused, TRUE /* wait */);
    }
}

ClientResult<std::string> PipeConnection::exchange(std::string_view request_line)
{
    const auto deadline = Clock::now() + reply_limit_;
    {
        const std::lock_guard lock{io_lock_};
        settle_read();
        if (ended_) {
            return end_error();
        }
        replies_.expect_reply();
    }
    std::string line{request_line};
    line += '\n';
    if (!write_all(line, deadline)) {
        const std::lock_guard lock{io_lock_};
        return end_error();
    }
    const RequestEnd request_end{*this};
    // The reply comes through the pending read: whichever of this thread and the watcher sees
    // its completion first takes it, and this thread hears of it through either event.
    for (;;) {
        HANDLE events[] = {reply_event_.get(), nullptr};
        {
            const std::lock_guard lock{io_lock_};
            settle_read();
            if (std::optional<std::string> reply = replies_.take_reply()) {
                return *std::move(reply);
            }
            if (ended_) {
                return end_error();
            }
            if (Clock::now() >= deadline) {
                end(ErrorKind::timed_out); // the reply would come out of turn now
                return end_error();
            }
            if (!read_pending_) {
                // This thread waits for the read to complete before it returns.
                start_read(request_read_event_.get());
            }
            events[1] = read_overlapped_.hEvent;
        }
        WaitForMultipleObjects(2, events, FALSE /* any */, milliseconds_until(deadline));
    }
}

bool PipeConnection::ended()
{
    const std::lock_guard lock{io_lock_};
    settle_read();
    return ended_;
}

void PipeConnection::watch()
{
    for (;;) {
        bool ended = false;
        bool report = false;
        DWORD wait_ms = INFINITE;
        {
            const std::lock_guard lock{io_lock_};
            settle_read();
            if (replies_.has_reply()) {
                SetEvent(reply_event_.get()); // for the request's thread, which waits for it
            }
            if (!ended_ && !read_pending_) {
                // Requests in a row read for themselves; the watch resumes once they pause.
                const auto quiet = Clock::now() - last_request_end_;
                if (quiet >= kQuietBeforeWatching) {
                    start_read(watch_read_event_.get());
                } else {
                    wait_ms = static_cast<DWORD>(
                        std::chrono::ceil<std::chrono::milliseconds>(kQuietBeforeWatching - quiet)
                            .count());
                }
            } else if (read_pending_ && read_overlapped_.hEvent != watch_read_event_.get()) {
                wait_ms = static_cast<DWORD>(kQuietBeforeWatching.count()); // a request's read
            }
            ended = ended_;
            report = ended_ && !end_reported_;
            end_reported_ = ended_;
        }
        if (ended) {
            if (report) {
                on_end_();
            }
            return;
        }
        const HANDLE events[] = {stop_event_.get(), watch_read_event_.get()};
        if (WaitForMultipleObjects(2, events, FALSE /* any */, wait_ms) == WAIT_OBJECT_0) {
            return; // told to stop
        }
    }
}

void PipeConnection::settle_read()
{
    if (!read_pending_) {
        return;
    }
    DWORD count = 0;
    if (!GetOverlappedResult(pipe_.get(), &read_overlapped_, &count, FALSE /* no wait */)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) {
            return; // still pending
        }
        read_pending_ = false;
        end(ErrorKind::connection_lost); // broken pipe: the service stopped or died
        return;
    }
    read_pending_ = false;
    if (count == 0) {
        end(ErrorKind::connection_lost);
    } else if (!replies_.take_bytes({read_buffer_, count})) {
        end(ErrorKind::protocol);
    }
}

void PipeConnection::start_read(HANDLE event)
{
    read_overlapped_ = OVERLAPPED{};
    read_overlapped_.hEvent = event; // ReadFile resets it as the read begins
    if (ReadFile(pipe_.get(), read_buffer_, sizeof read_buffer_, nullptr, &read_overlapped_) ||
        GetLastError() == ERROR_IO_PENDING) {
        read_pending_ = true; // done at once or not, settle_read takes the outcome
        return;
    }
    end(ErrorKind::connection_lost);
}

void PipeConnection::end(ErrorKind why)
{
    if (!ended_) {
        ended_ = true;
        end_kind_ = why;
    }
    SetEvent(reply_event_.get());
}

ClientError PipeConnection::end_error() const
{
    switch (end_kind_) {
    case ErrorKind::timed_out:
        return no_reply_error(reply_limit_);
    case ErrorKind::protocol:
        return {ErrorKind::protocol, "the display helper wrote what no request asked for; the "
                                     "connection was dropped"};
    default:
        return connection_lost_error();
    }
}

bool PipeConnection::write_all(std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = write_event_.get(); // WriteFile resets it as the write begins
        const BOOL done = WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                    nullptr, &overlapped);
        if (!done && GetLastError() != ERROR_IO_PENDING) {
            const std::lock_guard lock{io_lock_};
            end(ErrorKind::connection_lost);
            return false;
        }
        DWORD written = 0;
        // A request line fits the pipe's buffer, so the write is mostly done at once.
        if (!done && WaitForSingleObject(write_event_.get(), milliseconds_until(deadline)) !=
                         WAIT_OBJECT_0) {
            CancelIoEx(pipe_.get(), &overlapped);
            GetOverlappedResult(pipe_.get(), &overlapped, &written, TRUE /* wait */);
            const std::lock_guard lock{io_lock_};
            end(ErrorKind::timed_out);
            return false;
        }
        if (!GetOverlappedResult(pipe_.get(), &overlapped, &written, FALSE) || written == 0) {
            const std::lock_guard lock{io_lock_};
            end(ErrorKind::connection_lost);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

} // namespace tolvek::display
