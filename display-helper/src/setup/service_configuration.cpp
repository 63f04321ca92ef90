#include "setup/service_configuration.h"

#include "text_encoding.h"

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

std::optional<std::string> widened_descriptor(std::string_view descriptor_text,
                                              std::string_view sid_text)
{
    const std::string entry = user_access_entry(sid_text);
    if (descriptor_text.find(entry) != std::string_view::npos) {
        return std::nullopt;
    }
    std::string widened{descriptor_text};
    widened += entry;
    return widened;
}

} // namespace tolvek
