#pragma once

// Cuts the byte stream of one pipe connection into request lines. Platform-free.
//
// A line ends at a line feed; trailing carriage returns are removed so that CR LF works.
// After each read every complete line is taken out; what remains is the start of the next
// line, and more than kLineCap bytes of it drop the connection. A complete line that is not
// valid UTF-8 drops the connection too. Since a read brings at most kReadSize bytes, the
// framer never holds more than kLineCap + kReadSize bytes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

enum class FramingOutcome {
    lines_taken,  // the batch holds every complete line of the stream so far (maybe none)
    over_the_cap, // the connection must be dropped; the batch is empty
};

class LineFramer {
public:
    static constexpr std::size_t kReadSize = 512; // one read never asks for more
    static constexpr std::size_t kLineCap = 512;  // most bytes of an unfinished line held

    // Adds the bytes of one read and replaces `batch` with the complete lines now available,
    // in order. On over_the_cap the framer is spent: the caller ends the connection.
    [[nodiscard]] FramingOutcome take_lines(std::string_view bytes,
                                            std::vector<std::string>& batch);

    // Bytes of the unfinished line held now.
    [[nodiscard]] std::size_t pending_size() const noexcept { return pending_.size(); }

private:
    std::string pending_;
};

} // namespace tolvek
