#include "tolvek/text_encoding.h"

namespace tolvek {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

} // namespace

std::optional<char32_t> decode_utf8_at(std::string_view bytes, std::size_t& pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }

    std::size_t length = 0;
    char32_t code = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        if (lead == 0xE0) {
            second_low = 0xA0; // overlong
        } else if (lead == 0xED) {
            second_high = 0x9F; // surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        if (lead == 0xF0) {
            second_low = 0x90; // overlong
        } else if (lead == 0xF4) {
            second_high = 0x8F; // above U+10FFFF
        }
    } else {
        ++pos;
        return std::nullopt;
    }

    std::size_t i = pos + 1;
    for (std::size_t k = 1; k < length; ++k, ++i) {
        const unsigned char low = k == 1 ? second_low : 0x80;
        const unsigned char high = k == 1 ? second_high : 0xBF;
        if (i >= bytes.size() || byte(i) < low || byte(i) > high) {
            pos = i;
            return std::nullopt;
        }
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    pos = i;
    return code;
}

namespace {

void append_utf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t code)
{
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code >> 10));
        out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
}

bool is_high_surrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes the code point at `pos` and advances `pos` past it; an unpaired surrogate yields
// nothing and is passed over alone. `pos` must be within `text`.
std::optional<char32_t> decode_utf16_at(std::u16string_view text, std::size_t& pos)
{
    const char16_t unit = text[pos++];
    if (is_high_surrogate(unit) && pos < text.size() && is_low_surrogate(text[pos])) {
        const char16_t low = text[pos++];
        return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
    }
    if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
        return std::nullopt;
    }
    return unit;
}

} // namespace

std::optional<std::string> utf16_to_utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> code = decode_utf16_at(text, pos);
        if (!code) {
            return std::nullopt;
        }
        append_utf8(out, *code);
    }
    return out;
}

std::string utf16_to_utf8_lossy(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        append_utf8(out, decode_utf16_at(text, pos).value_or(kReplacementCharacter));
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        append_utf16(out, decode_utf8_at(text, pos).value_or(kReplacementCharacter));
    }
    return out;
}

bool is_valid_utf8(std::string_view bytes)
{
    for (std::size_t pos = 0; pos < bytes.size();) {
        if (!decode_utf8_at(bytes, pos)) {
            return false;
        }
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t start = pos;
        if (decode_utf8_at(bytes, pos)) {
            out.append(bytes.substr(start, pos - start));
        } else {
            append_utf8(out, kReplacementCharacter);
        }
    }
    return out;
}

std::string argument_as_shown(std::u16string_view argument)
{
    std::u16string shown(argument);
    for (char16_t& unit : shown) {
        if (unit < u' ' || (unit >= u'\u007F' && unit <= u'\u009F')) {
            unit = static_cast<char16_t>(kReplacementCharacter);
        }
    }
    return utf16_to_utf8_lossy(shown);
}

std::string argument_as_shown(std::string_view utf8_argument)
{
    return argument_as_shown(utf8_to_utf16(utf8_argument));
}

} // namespace tolvek
