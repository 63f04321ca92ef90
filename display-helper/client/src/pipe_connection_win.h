#pragma once

// The client's end of one connection to the helper's pipe. A read is pending on the pipe for
// as long as the connection stands, so its end shows at once, also while no request is in
// flight (the helper never writes unprompted, so a read completes only with a reply or with
// the end): the connection's watcher thread waits on that read and reports the end. A
// request's own thread writes its line and then takes the reply from the same read, so a
// round trip costs no hand-over between threads.
//
// The system cancels the pending I/O of a thread that exits, and a request may come from a
// thread that ends right after it. So the read that stays pending while the connection is
// idle is always started by the watcher, which lives as long as the connection; a request's
// thread starts a read only when none is pending, and waits for it to complete before it
// returns. The two kinds of read signal different events, so that the watcher sleeps through
// a run of requests and starts its read once they pause.

#include <windows.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "monitor_client.h"
#include "reply_lines.h"
#include "tolvek/owners_win.h"

namespace tolvek::display {

class PipeConnection final : public Connection {
public:
    // Takes over an opened pipe (overlapped, byte mode) and starts watching it.
    [[nodiscard]] static ClientResult<std::unique_ptr<PipeConnection>>
    start(UniqueHandle pipe, EndHandler on_end, std::chrono::milliseconds reply_limit);

    // Stops the watcher without a report, and closes the pipe.
    ~PipeConnection() override;

    [[nodiscard]] ClientResult<std::string> exchange(std::string_view request_line) override;

    // Whether the connection has ended, as far as can be seen now.
    [[nodiscard]] bool ended();

    PipeConnection(UniqueHandle pipe, EndHandler on_end, std::chrono::milliseconds reply_limit);

private:
    [[nodiscard]] bool begin();
    void watch();

    // With io_lock_ held: takes the result of the pending read if it has completed.
    void settle_read();
    // With io_lock_ held: starts the next read, which signals `event`.
    void start_read(HANDLE event);

    // Marks the end of a request for the watcher.
    class RequestEnd {
    public:
        explicit RequestEnd(PipeConnection& connection) : connection_(connection) {}
        ~RequestEnd()
        {
            const std::lock_guard lock{connection_.io_lock_};
            connection_.last_request_end_ = std::chrono::steady_clock::now();
        }
        RequestEnd(const RequestEnd&) = delete;
        RequestEnd& operator=(const RequestEnd&) = delete;

    private:
        PipeConnection& connection_;
    };
    void end(ErrorKind why);
    [[nodiscard]] ClientError end_error() const;

    [[nodiscard]] bool write_all(std::string_view bytes,
                                 std::chrono::steady_clock::time_point deadline);

    UniqueHandle pipe_;
    EndHandler on_end_;
    std::chrono::milliseconds reply_limit_;
    UniqueHandle watch_read_event_;   // the watcher's read; manual reset
    UniqueHandle request_read_event_; // a request's read; manual reset
    UniqueHandle reply_event_; // auto reset: the watcher took a reply, or the connection ended
    UniqueHandle write_event_;
    UniqueHandle stop_event_; // tells the watcher to stop without a report
    std::thread watcher_;

    std::mutex io_lock_; // the pending read, what it brought, and the end
    OVERLAPPED read_overlapped_{};
    char read_buffer_[512];
    bool read_pending_ = false;
    std::chrono::steady_clock::time_point last_request_end_{};
    ReplyLines replies_;
    bool ended_ = false;
    ErrorKind end_kind_ = ErrorKind::connection_lost;
    bool end_reported_ = false;
};

} // namespace tolvek::display
