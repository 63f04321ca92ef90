#include "log_file.h"

#include <cstdio>

#include "setup/windows_path.h"

namespace tolvek {

LogWriteMode log_write_mode(std::optional<std::uint64_t> current_size)
{
    return current_size && *current_size > kLogSizeLimit ? LogWriteMode::empty_first
                                                         : LogWriteMode::append;
}

bool log_folder_trusted(const FileFacts& folder, std::string_view owner_sid,
                        std::string_view own_account_sid)
{
    if (!folder.is_directory || folder.is_reparse_point || owner_sid.empty()) {
        return false;
    }
    return owner_sid == own_account_sid || owner_sid == kLocalSystemSid ||
           owner_sid == kAdministratorsSid;
}

bool log_file_plain(const FileFacts& file)
{
    return !file.is_directory && !file.is_reparse_point && file.link_count == 1;
}

std::optional<std::u16string> log_path_below(std::u16string_view program_data)
{
    if (program_data.empty()) {
        return std::nullopt;
    }
    return join_windows_path(program_data, u"Tolvek\\display-helper.log");
}

std::string format_timestamp(const LocalDateTime& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

std::string format_log_line(std::string_view timestamp, std::string_view message)
{
    std::string line;
    line.reserve(timestamp.size() + message.size() + 2);
    line.append(timestamp);
    line += ' ';
    line.append(message);
    line += '\n';
    return line;
}

} // namespace tolvek
