#pragma once

// tolvek-vcam-pattern in a process of its own, as a user starts it in a console: on a console
// that the test shares with it, so that a real Ctrl+C reaches it, and with its standard output
// and error read line by line as it writes them.

#include <windows.h>

#include "tolvek/owners_win.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tolvek::vcam::testing {

// A console of the test's own (a test run by ctest has none), which the processes that the
// test starts next share with it, so that its Ctrl+C reaches them.
class SharedConsole {
public:
    SharedConsole();
    ~SharedConsole();
    SharedConsole(const SharedConsole&) = delete;
    SharedConsole& operator=(const SharedConsole&) = delete;

    [[nodiscard]] bool ready() const noexcept { return ready_; }
    // Presses Ctrl+C: every process on the console gets CTRL_C_EVENT; this one lets it pass.
    [[nodiscard]] bool press_ctrl_c() const;

private:
    bool ready_ = false;
};

class FeedProcess {
public:
    // Starts tolvek-vcam-pattern.exe from beside the test with `arguments`, each quoted.
    explicit FeedProcess(const std::vector<std::wstring>& arguments);
    // Ends the feed if it still runs (TerminateProcess) and waits for its streams.
    ~FeedProcess();
    FeedProcess(const FeedProcess&) = delete;
    FeedProcess& operator=(const FeedProcess&) = delete;

    [[nodiscard]] bool started() const noexcept { return process_.valid(); }

    // True once standard output has carried `line` (a whole line) `count` times; false when
    // `limit` passed first or the feed ended without it.
    [[nodiscard]] bool wait_for_line(std::string_view line, std::size_t count,
                                     std::chrono::milliseconds limit);

    // The exit code once the feed has ended; nothing when it did not end within `limit`.
    [[nodiscard]] std::optional<DWORD> wait_for_exit(std::chrono::milliseconds limit) const;

    // The lines written so far, without their line ends.
    [[nodiscard]] std::vector<std::string> output_lines() const;
    [[nodiscard]] std::string error_output() const;

private:
    struct Stream {
        std::string text;
        bool ended = false;
    };
    void read_into(HANDLE pipe, Stream& stream);

    UniqueHandle process_;
    UniqueHandle output_;
    UniqueHandle error_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    Stream output_stream_;
    Stream error_stream_;
    std::thread output_reader_;
    std::thread error_reader_;
};

} // namespace tolvek::vcam::testing
