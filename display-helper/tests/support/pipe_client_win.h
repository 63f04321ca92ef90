#pragma once

// The client end of a named pipe as a test drives it: bytes written exactly as given, reply
// lines read with a time limit, and the end of the connection seen from the client's side.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "tolvek/owners_win.h"

namespace tolvek::testing {

class PipeClient {
public:
    // Opens the pipe for overlapped I/O; check connected() for the outcome.
    explicit PipeClient(const std::wstring& pipe_name);

    [[nodiscard]] bool connected() const { return pipe_.valid(); }
    [[nodiscard]] DWORD open_error() const { return open_error_; }

    // Writes all bytes in one WriteFile; false when it fails or does not finish in time.
    bool write(std::string_view bytes, DWORD timeout_ms = 5000);

    // The next line with its line feed; nothing when none is complete within the time, or
    // the connection ended first.
    [[nodiscard]] std::optional<std::string> read_line(DWORD timeout_ms = 5000);

    // Whether the server ended the connection within the time with no further byte sent.
    // Bytes that did arrive are kept in unread().
    [[nodiscard]] bool sees_end_without_bytes(DWORD timeout_ms = 5000);

    [[nodiscard]] const std::string& unread() const { return received_; }

    void close() { pipe_.reset(); }

private:
    enum class ReadOutcome { bytes, ended, timed_out };
    ReadOutcome read_some(DWORD timeout_ms);

    UniqueHandle pipe_;
    UniqueHandle event_;
    DWORD open_error_ = 0;
    std::string received_;
};

} // namespace tolvek::testing
