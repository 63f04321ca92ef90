// Fuzzes the session's line framing: the input is a byte stream cut into reads of up to 512
// bytes (sizes drawn from the input's first byte), and every outcome of the framer is checked
// against a model that splits the whole stream at once: the lines taken are the stream's
// complete lines in order with trailing carriage returns removed, and the connection is
// dropped exactly at the first read after which a complete line is not UTF-8 or more than
// 512 bytes of an unfinished line are held.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "line_framer.h"
#include "tolvek/text_encoding.h"

namespace {

using tolvek::FramingOutcome;
using tolvek::LineFramer;

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// The complete lines of `stream`, raw, and the length of what follows the last line feed.
std::vector<std::string_view> complete_lines(std::string_view stream, std::size_t& tail)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end = stream.find('\n'); end != std::string_view::npos;
         end = stream.find('\n', start)) {
        lines.push_back(stream.substr(start, end - start));
        start = end + 1;
    }
    tail = stream.size() - start;
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::uint32_t seed = data[0] * 2654435761u + 1;
    const std::string_view stream{reinterpret_cast<const char*>(data) + 1, size - 1};

    LineFramer framer;
    std::vector<std::string> taken;
    std::vector<std::string> batch;
    std::size_t consumed = 0;
    while (consumed < stream.size()) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t read = std::min<std::size_t>(1 + (seed >> 16) % LineFramer::kReadSize,
                                                       stream.size() - consumed);
        const FramingOutcome outcome = framer.take_lines(stream.substr(consumed, read), batch);
        consumed += read;

        std::size_t tail = 0;
        const std::vector<std::string_view> raw = complete_lines(stream.substr(0, consumed), tail);
        bool all_utf8 = true;
        for (const std::string_view line : raw) {
            all_utf8 = all_utf8 && tolvek::is_valid_utf8(line);
        }
        if (!all_utf8 || tail > LineFramer::kLineCap) {
            check(outcome == FramingOutcome::over_the_cap);
            check(batch.empty());
            return 0;
        }
        check(outcome == FramingOutcome::lines_taken);
        check(framer.pending_size() == tail);
        taken.insert(taken.end(), batch.begin(), batch.end());
        check(taken.size() == raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            std::string_view expected = raw[i];
            while (!expected.empty() && expected.back() == '\r') {
                expected.remove_suffix(1);
            }
            check(taken[i] == expected);
        }
    }
    return 0;
}
