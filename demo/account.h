#pragma once

// The account that a step of the end-to-end run prints: one line for each thing it did or
// saw, set in under the step's heading, and whether everything went as it should.

#include <chrono>
#include <string>
#include <string_view>

namespace tolvek::demo {

class Account {
public:
    // What the step did or saw.
    void line(std::string_view text);
    // What it read or received, set in under the line before.
    void detail(std::string_view text);
    // Whether `holds`; when it does not, prints `failure` as a failure and remembers it.
    bool expect(bool holds, std::string_view failure);

    [[nodiscard]] bool failed() const { return failed_; }
    [[nodiscard]] int exit_code() const { return failed_ ? 1 : 0; }

private:
    bool failed_ = false;
};

// "1.25 s" with the given number of decimals.
[[nodiscard]] std::string seconds_text(std::chrono::duration<double> duration, int decimals = 2);

// `value` with exactly `decimals` decimals.
[[nodiscard]] std::string decimal_text(double value, int decimals);

// "0x" and 8 upper-case hexadecimal digits.
[[nodiscard]] std::string hex_text(unsigned long value);

} // namespace tolvek::demo
