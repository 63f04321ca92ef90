#include "setup/uninstall_outcome.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "text_encoding.h"

namespace tolvek {
namespace {

using Range = std::pair<char32_t, char32_t>; // first and last code point, inclusive

// Format characters (general category Cf), separators other than U+0020 (Zs, Zl, Zp) and
// the private-use areas (Co) of the BMP and beyond, in ascending order. The controls and the
// noncharacters follow rules of their own below.
constexpr Range kInvisible[] = {
    {0x00A0, 0x00A0},   {0x00AD, 0x00AD},   {0x0600, 0x0605},     {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},     {0x08E2, 0x08E2},
    {0x1680, 0x1680},   {0x180E, 0x180E},   {0x2000, 0x200F},     {0x2028, 0x202F},
    {0x205F, 0x2064},   {0x2066, 0x206F},   {0x3000, 0x3000},     {0xE000, 0xF8FF},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},   {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},   {0xE0001, 0xE0001},
    {0xE0020, 0xE007F}, {0xF0000, 0xFFFFD}, {0x100000, 0x10FFFD},
};

bool is_control(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool is_noncharacter(char32_t c)
{
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

bool is_invisible(char32_t c)
{
    const auto after =
        std::upper_bound(std::begin(kInvisible), std::end(kInvisible), c,
                         [](char32_t value, const Range& r) { return value < r.first; });
    return after != std::begin(kInvisible) && c <= std::prev(after)->second;
}

void append_escape(std::string& out, char32_t c)
{
    switch (c) {
    case U'"':
        out += "\\\"";
        return;
    case U'\\':
        out += "\\\\";
        return;
    case U'\t':
        out += "\\t";
        return;
    case U'\r':
        out += "\\r";
        return;
    case U'\n':
        out += "\\n";
        return;
    case U'\0':
        out += "\\0";
        return;
    default:
        break;
    }
    char code[16];
    std::snprintf(code, sizeof code, "\\u{%x}", static_cast<unsigned>(c));
    out += code;
}

bool needs_escape(char32_t c)
{
    return c == U'"' || c == U'\\' || is_control(c) || is_invisible(c) || is_noncharacter(c);
}

} // namespace

std::string quoted_for_log(std::string_view text)
{
    std::string out{'"'};
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const std::optional<char32_t> c = decode_utf8_at(text, pos);
        if (!c) {
            out += "\xEF\xBF\xBD"; // U+FFFD
        } else if (needs_escape(*c)) {
            append_escape(out, *c);
        } else {
            out.append(text.substr(start, pos - start));
        }
    }
    out += '"';
    return out;
}

Status unopened_service_outcome(std::uint32_t error_code, std::string_view error_text)
{
    constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
    if (error_code == kErrorServiceDoesNotExist) {
        return success();
    }
    std::string text{"the service would not open: "};
    text += error_text;
    return Error{std::move(text)};
}

std::string outcome_text(const Status& outcome)
{
    return outcome ? "Ok(())" : "Err(" + quoted_for_log(outcome.error().text) + ")";
}

std::string uninstall_log_line(const Status& service, const Status& driver)
{
    return "uninstalled (service: " + outcome_text(service) + ", driver: " + outcome_text(driver) +
           ")";
}

Status uninstall_result(Status service, Status driver)
{
    return service ? std::move(driver) : std::move(service);
}

} // namespace tolvek
