#include "setup/published_name.h"

#include <vector>

namespace tolvek {
namespace {

char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ascii_lowered(std::string_view text)
{
    std::string lowered{text};
    for (char& c : lowered) {
        c = ascii_lower(c);
    }
    return lowered;
}

bool is_ascii_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_word_character(char c)
{
    return is_ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.';
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator)
{
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
}

std::vector<std::string_view> listing_entries(std::string_view listing)
{
    std::vector<std::string_view> entries;
    for (const std::string_view piece : split(listing, "\r\n\r\n")) {
        for (const std::string_view entry : split(piece, "\n\n")) {
            entries.push_back(entry);
        }
    }
    return entries;
}

bool is_published_name(std::string_view word)
{
    const std::string lowered = ascii_lowered(word);
    const std::string_view text = lowered;
    if (text.size() < 7 || !text.starts_with("oem") || !text.ends_with(".inf")) {
        return false;
    }
    for (const char c : text.substr(3, text.size() - 7)) {
        if (!is_ascii_digit(c)) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> first_published_name(std::string_view entry)
{
    for (std::size_t pos = 0; pos < entry.size();) {
        if (!is_word_character(entry[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < entry.size() && is_word_character(entry[end])) {
            ++end;
        }
        const std::string_view word = entry.substr(pos, end - pos);
        if (is_published_name(word)) {
            return std::string{word};
        }
        pos = end;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> find_published_name(std::string_view listing)
{
    for (const std::string_view entry : listing_entries(listing)) {
        if (ascii_lowered(entry).find(kDriverPackageFileName) != std::string::npos) {
            // Only the first entry naming the package counts, published name or not.
            return first_published_name(entry);
        }
    }
    return std::nullopt;
}

} // namespace tolvek
