#pragma once

// Cuts what the helper writes on the client's connection into reply lines and holds the one
// reply that the request in flight waits for. The helper answers each request line with
// exactly one line and writes nothing unprompted, so any other line means the other end is
// not speaking the protocol, and the connection cannot be trusted any more. Platform-free;
// not synchronised (the connection holds it under its lock).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line_framer.h"

namespace tolvek::display {

class ReplyLines {
public:
    // A request is about to be written: its reply may come from now on.
    void expect_reply();

    // Adds the bytes of one read. False when they break the protocol: a line over the cap or
    // not UTF-8, a line that no request waits for, or a second line for one request.
    [[nodiscard]] bool take_bytes(std::string_view bytes);

    [[nodiscard]] bool has_reply() const { return reply_.has_value(); }

    // The reply of the request in flight once it is complete; then no reply is expected.
    [[nodiscard]] std::optional<std::string> take_reply();

private:
    LineFramer framer_;
    std::vector<std::string> batch_;
    std::optional<std::string> reply_;
    bool awaiting_ = false;
};

} // namespace tolvek::display
