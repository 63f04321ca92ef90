#include "account.h"

#include <cstdio>

namespace tolvek::demo {
namespace {

void print(std::string_view indent, std::string_view text)
{
    std::fwrite(indent.data(), 1, indent.size(), stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout); // the shell interleaves this output with that of other programs
}

} // namespace

void Account::line(std::string_view text)
{
    print("   ", text);
}

void Account::detail(std::string_view text)
{
    print("     ", text);
}

bool Account::expect(bool holds, std::string_view failure)
{
    if (!holds) {
        print("   FAILED: ", failure);
        failed_ = true;
    }
    return holds;
}

std::string seconds_text(std::chrono::duration<double> duration, int decimals)
{
    return decimal_text(duration.count(), decimals) + " s";
}

std::string decimal_text(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string hex_text(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

} // namespace tolvek::demo
