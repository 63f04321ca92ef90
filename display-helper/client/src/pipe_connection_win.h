#pragma once

// The client's end of one connection to the helper's pipe. A read is pending on the pipe for
// as long as the connection stands, so its end shows at once, also while no request is in
// flight (the helper never writes unprompted, so a read completes only with a reply or with
// the end): the connection's watcher thread waits on that read and reports the end. A
// request's own thread writes its line and then takes the reply from the same read, so a
// round trip costs no hand-over between threads.
//
// Only the watcher starts reads. The system cancels the pending I/O of a thread that exits,
// and a request may come from a thread that ends right after it; the watcher lives as long as
// the connection.

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
    // With io_lock_ held, on the watcher's thread: starts the next read.
    void start_read();
    void end(ErrorKind why);
    [[nodiscard]] ClientError end_error() const;

    [[nodiscard]] bool write_all(std::string_view bytes,
                                 std::chrono::steady_clock::time_point deadline);

    UniqueHandle pipe_;
    EndHandler on_end_;
    std::chrono::milliseconds reply_limit_;
    UniqueHandle read_event_;  // the pending read's; manual reset
    UniqueHandle reply_event_; // set when a reply is ready or the connection has ended
    UniqueHandle write_event_;
    UniqueHandle read_started_event_; // auto reset: the watcher has started a read
    UniqueHandle stop_event_;         // tells the watcher to stop without a report
    std::thread watcher_;

    std::mutex io_lock_; // the pending read, what it brought, and the end
    OVERLAPPED read_overlapped_{};
    char read_buffer_[512];
    bool read_pending_ = false;
    ReplyLines replies_;
    bool ended_ = false;
    ErrorKind end_kind_ = ErrorKind::connection_lost;
    bool end_reported_ = false;
};

} // namespace tolvek::display
