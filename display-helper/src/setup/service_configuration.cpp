#include "setup/service_configuration.h"

#include "tolvek/text_encoding.h"

namespace tolvek {

std::u16string service_command_line(std::u16string_view helper_path, std::string_view sid_text)
{
    std::u16string line{u'"'};
    line += helper_path;
    line += u"\" service ";
    line += utf8_to_utf16(sid_text);
    return line;
}

std::string user_access_entry(std::string_view sid_text)
{
    std::string entry{"(A;;RPLCLORC;;;"};
    entry += sid_text;
    entry += ')';
    return entry;
}

std::optional<std::string> access_entries_of(std::string_view rendered_dacl)
{
    const std::size_t first = rendered_dacl.find('(');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string{rendered_dacl.substr(first)};
}

std::optional<std::string> widened_descriptor(std::string_view descriptor_text,
                                              std::string_view sid_text,
                                              std::string_view rendered_entry)
{
    if (!rendered_entry.empty() && descriptor_text.find(rendered_entry) != std::string_view::npos) {
        return std::nullopt;
    }
    std::string widened{descriptor_text};
    widened += user_access_entry(sid_text);
    return widened;
}

} // namespace tolvek
