#pragma once

// Where the stand-in cfgmgr32.dll keeps its ledger and finds its script, and how values are
// written there. Shared by the stand-in, which writes the ledger and reads the script, and by
// the tests' support library, which does the opposite. See README.md beside this file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tolvek::standin {

// A fixed place in the Wine prefix, the same for every process of it: a test process and a
// service started by the service manager (with another environment) both reach it.
inline constexpr wchar_t kFolder[] = L"C:\\tolvek-test-doubles\\cfgmgr32";
inline constexpr wchar_t kLedgerPath[] = L"C:\\tolvek-test-doubles\\cfgmgr32\\ledger.txt";
inline constexpr wchar_t kScriptPath[] = L"C:\\tolvek-test-doubles\\cfgmgr32\\script.txt";

// The actions a script line can name.
inline constexpr std::string_view kSucceed = "succeed";
inline constexpr std::string_view kFailAtOnce = "fail_at_once";
inline constexpr std::string_view kFailInCallback = "fail_in_callback";
inline constexpr std::string_view kNeverCallBack = "never_call_back";

// UTF-16 text as a ledger value: in double quotes, printable ASCII as itself except the
// backslash and the quote, which are escaped, and every other unit as \uXXXX (so the NULs of
// a multi-string read \u0000).
inline std::string quote_utf16(std::u16string_view text)
{
    std::string quoted = "\"";
    for (const char16_t unit : text) {
        if (unit == u'\\' || unit == u'"') {
            quoted += '\\';
            quoted += static_cast<char>(unit);
        } else if (unit >= 0x20 && unit < 0x7F) {
            quoted += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            quoted += escape;
        }
    }
    quoted += '"';
    return quoted;
}

// The text of a quoted value; nothing when it is not one.
inline std::optional<std::u16string> unquote_utf16(std::string_view value)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        return std::nullopt;
    }
    value = value.substr(1, value.size() - 2);
    std::u16string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            text += static_cast<char16_t>(static_cast<unsigned char>(value[i]));
        } else if (i + 1 < value.size() && (value[i + 1] == '\\' || value[i + 1] == '"')) {
            text += static_cast<char16_t>(value[++i]);
        } else if (i + 5 < value.size() && value[i + 1] == 'u') {
            const std::string digits{value.substr(i + 2, 4)};
            text += static_cast<char16_t>(std::stoul(digits, nullptr, 16));
            i += 5;
        } else {
            return std::nullopt;
        }
    }
    return text;
}

// Bytes as upper-case hex pairs, and back.
inline std::string hex_bytes(const void* data, std::size_t size)
{
    std::string hex;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        hex += pair;
    }
    return hex;
}

inline std::optional<std::string> bytes_from_hex(std::string_view hex)
{
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair{hex.substr(i, 2)};
        bytes += static_cast<char>(std::stoul(pair, nullptr, 16));
    }
    return bytes;
}

} // namespace tolvek::standin
