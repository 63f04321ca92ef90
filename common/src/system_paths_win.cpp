#include "tolvek/system_paths_win.h"

namespace tolvek {

std::optional<std::u16string> environment_variable(const wchar_t* name)
{
    Result<std::u16string> value = read_system_text([name](wchar_t* buffer, DWORD capacity) {
        return GetEnvironmentVariableW(name, buffer, capacity);
    });
    if (!value) {
        return std::nullopt;
    }
    return std::move(value).value();
}

Result<std::u16string> module_path(HMODULE module)
{
    return read_system_text([module](wchar_t* buffer, DWORD capacity) {
        return GetModuleFileNameW(module, buffer, capacity);
    });
}

Result<std::u16string> system_folder()
{
    return read_system_text(
        [](wchar_t* buffer, DWORD capacity) { return GetSystemDirectoryW(buffer, capacity); });
}

} // namespace tolvek
