#include "setup/install_layout.h"

#include "setup/windows_path.h"

namespace tolvek {

std::vector<std::u16string> helper_candidates(std::u16string_view program_folder)
{
    return {
        join_windows_path(join_windows_path(program_folder, u"display-helper"), kHelperFileName),
        join_windows_path(program_folder, kHelperFileName),
        join_windows_path(join_windows_path(program_folder, u"deps"), kHelperFileName),
    };
}

std::u16string driver_package_path(std::u16string_view helper_path)
{
    return join_windows_path(join_windows_path(parent_directory(helper_path), kDriverFolderName),
                             u"TolvekIdd.inf");
}

} // namespace tolvek
