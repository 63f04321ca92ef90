#pragma once

// The request protocol spoken on the helper's pipe: one JSON request per line in, one
// compact JSON reply per line out. Platform-free.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tolvek {

struct Create {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t refresh_hz = 0;
    std::uint32_t vendor_id = 0;
    std::uint32_t product_id = 0;
    std::uint32_t serial = 0;

    friend bool operator==(const Create&, const Create&) = default;
};

struct Destroy {
    std::uint32_t serial = 0;

    friend bool operator==(const Destroy&, const Destroy&) = default;
};

struct Ping {
    friend bool operator==(const Ping&, const Ping&) = default;
};

using Request = std::variant<Create, Destroy, Ping>;

enum class ReplyError { refused, limit, failed, unknown };

// "refused", "limit", "failed", "unknown".
[[nodiscard]] std::string_view reply_error_word(ReplyError error);

// The error a word names; nothing for any other text.
[[nodiscard]] std::optional<ReplyError> reply_error_named(std::string_view word);

struct Reply {
    bool ok = false;
    std::optional<ReplyError> error;    // present exactly when ok is false
    std::optional<std::string> version; // present only in the reply to a ping

    [[nodiscard]] static Reply success() { return {true, std::nullopt, std::nullopt}; }
    [[nodiscard]] static Reply failure(ReplyError error) { return {false, error, std::nullopt}; }
    [[nodiscard]] static Reply pong() { return {true, std::nullopt, "0.0.0"}; }

    friend bool operator==(const Reply&, const Reply&) = default;
};

// One line (terminator and trailing carriage returns already removed) to a request, or
// nothing when the line is not a well-formed request. Values are not checked against what
// a create accepts; that needs the connection's state.
[[nodiscard]] std::optional<Request> parse_request(std::string_view line);

// Writes the reply's compact JSON text and the terminating line feed into `out`, replacing
// what it held (its capacity is kept, so a reused buffer allocates nothing).
void encode_reply(const Reply& reply, std::string& out);

[[nodiscard]] std::string encode_reply(const Reply& reply);

// A reply line as a client reads it (its line feed removed), or nothing when it is not one:
// an object with a boolean "ok", an "error" word exactly when ok is false, and optionally a
// "version" text. Keys that a reply does not declare are ignored, so that a later helper may
// add some.
[[nodiscard]] std::optional<Reply> parse_reply(std::string_view line);

// The canonical line of a request as a client writes it: the object form, "op" first, the
// fields in declared order, compact, without a line feed. parse_request gives the request
// back from it.
[[nodiscard]] std::string encode_request(const Request& request);

} // namespace tolvek
