#pragma once

// The request and reply lines of the helper's protocol that its tests and benchmarks send and
// expect, without their line feed (line_of() adds it). Platform-free.

#include <string>
#include <string_view>

namespace tolvek::testing {

inline constexpr std::string_view kPing = R"({"op":"ping"})";

inline constexpr std::string_view kPong = R"({"ok":true,"version":"0.0.0"})";
inline constexpr std::string_view kOk = R"({"ok":true})";
inline constexpr std::string_view kRefused = R"({"ok":false,"error":"refused"})";
inline constexpr std::string_view kLimit = R"({"ok":false,"error":"limit"})";
inline constexpr std::string_view kFailed = R"({"ok":false,"error":"failed"})";
inline constexpr std::string_view kUnknown = R"({"ok":false,"error":"unknown"})";

// A request or reply as it travels on the pipe: the text and its line feed.
[[nodiscard]] inline std::string line_of(std::string_view text)
{
    return std::string{text} + '\n';
}

} // namespace tolvek::testing
