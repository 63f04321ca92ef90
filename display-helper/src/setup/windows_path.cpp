#include "setup/windows_path.h"

namespace tolvek {
namespace {

bool is_separator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

} // namespace

std::u16string join_windows_path(std::u16string_view base, std::u16string_view name)
{
    std::u16string path{base};
    if (!path.empty() && !is_separator(path.back())) {
        path += u'\\';
    }
    path += name;
    return path;
}

std::u16string_view parent_directory(std::u16string_view path)
{
    const std::size_t last = path.find_last_of(u"\\/");
    return last == std::u16string_view::npos ? std::u16string_view{} : path.substr(0, last);
}

} // namespace tolvek
