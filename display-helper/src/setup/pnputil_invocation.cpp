#include "setup/pnputil_invocation.h"

#include <array>

#include "setup/windows_path.h"
#include "tolvek/text_encoding.h"

namespace tolvek {
namespace {

// The Unicode White_Space characters in UTF-8. UTF-8 is self-synchronising, so on valid
// text a match at either end is always a whole character.
constexpr std::array<std::string_view, 25> kWhiteSpace = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

enum class End { front, back };

// The length of the white space character at that end of `text`; 0 when there is none.
std::size_t white_space_at(std::string_view text, End end)
{
    for (const std::string_view space : kWhiteSpace) {
        if (end == End::back ? text.ends_with(space) : text.starts_with(space)) {
            return space.size();
        }
    }
    return 0;
}

} // namespace

std::u16string pnputil_path_in(std::optional<std::u16string_view> system_folder)
{
    const bool usable = system_folder && !system_folder->empty();
    return join_windows_path(usable ? *system_folder : kFallbackSystemFolder, u"pnputil.exe");
}

std::string utility_output_text(std::string_view output)
{
    const std::string decoded = decode_utf8_lossy(output);
    std::string_view text = decoded;
    while (const std::size_t n = white_space_at(text, End::front)) {
        text.remove_prefix(n);
    }
    while (const std::size_t n = white_space_at(text, End::back)) {
        text.remove_suffix(n);
    }
    return std::string{text};
}

} // namespace tolvek
