#include "installed_files.h"

#include <algorithm>

#include "camera_registry_layout.h"
#include "setup/install_layout.h"
#include "setup/windows_path.h"

namespace tolvek::setup {
namespace {

constexpr std::u16string_view kStagedSuffix = u".new";
constexpr std::u16string_view kSetAsideSuffix = u".old";

std::u16string in_x86(std::u16string_view name)
{
    return join_windows_path(vcam::kX86FolderName, name);
}

// The release files directly in `folder`, by name.
std::vector<std::u16string> release_file_names_in(std::u16string_view folder)
{
    std::vector<std::u16string> names;
    for (const std::u16string& path : release_files()) {
        if (parent_directory(path) == folder) {
            const std::size_t name_start = folder.empty() ? 0 : folder.size() + 1;
            names.push_back(path.substr(name_start));
        }
    }
    return names;
}

// Whether `file_name` is `name` followed by `.` , one or more decimal digits and ".old".
bool is_set_aside_copy_of(std::u16string_view file_name, std::u16string_view name)
{
    return file_name.size() > name.size() + 1 && file_name.substr(0, name.size()) == name &&
           file_name[name.size()] == u'.' && is_set_aside_name(file_name.substr(name.size())) &&
           file_name.find(u'.', name.size() + 1) == file_name.size() - kSetAsideSuffix.size();
}

// Windows compares file names without regard to case; setup writes every name itself, in
// one case, so a name written otherwise is not one of its own.
bool belongs_to_release_file(std::u16string_view file_name, std::u16string_view name)
{
    return file_name == name || file_name == staged_copy_name(name) ||
           is_set_aside_copy_of(file_name, name);
}

} // namespace

std::vector<std::u16string> release_files()
{
    return {
        std::u16string(kHelperFileName),
        u"tolvek-monitors.exe",
        std::u16string(kSetupFileName),
        u"tolvek-vcam-pattern.exe",
        std::u16string(vcam::kRegistrationProgramFileName),
        std::u16string(vcam::kCameraModuleFileName),
        std::u16string(kLicenceFileName),
        std::u16string(kReadmeFileName),
        in_x86(vcam::kRegistrationProgramFileName),
        in_x86(vcam::kCameraModuleFileName),
    };
}

std::vector<std::u16string> installed_folders()
{
    return {std::u16string(kDriverFolderName), std::u16string(vcam::kX86FolderName), u""};
}

bool installed_by_setup(std::u16string_view folder, std::u16string_view file_name)
{
    if (folder == kDriverFolderName) {
        return true;
    }
    const std::vector<std::u16string> names = release_file_names_in(folder);
    return std::any_of(names.begin(), names.end(), [&](const std::u16string& name) {
        return belongs_to_release_file(file_name, name);
    });
}

std::u16string staged_copy_name(std::u16string_view path)
{
    return std::u16string(path) + std::u16string(kStagedSuffix);
}

std::u16string set_aside_name(std::u16string_view path, unsigned number)
{
    std::u16string name(path);
    name += u'.';
    for (const char digit : std::to_string(number)) {
        name += static_cast<char16_t>(digit);
    }
    return name + std::u16string(kSetAsideSuffix);
}

bool is_set_aside_name(std::u16string_view path)
{
    if (path.size() < kSetAsideSuffix.size() ||
        path.substr(path.size() - kSetAsideSuffix.size()) != kSetAsideSuffix) {
        return false;
    }
    const std::u16string_view rest = path.substr(0, path.size() - kSetAsideSuffix.size());
    const std::size_t dot = rest.find_last_of(u'.');
    if (dot == std::u16string_view::npos || dot + 1 == rest.size()) {
        return false;
    }
    const std::u16string_view number = rest.substr(dot + 1);
    return std::all_of(number.begin(), number.end(),
                       [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::u16string path_in(std::u16string_view folder, std::u16string_view relative)
{
    return relative.empty() ? std::u16string(folder) : join_windows_path(folder, relative);
}

} // namespace tolvek::setup
