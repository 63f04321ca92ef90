#include "camera_registry_layout.h"

namespace tolvek::vcam {

namespace {

constexpr std::u16string_view kClassesKey = u"Software\\Classes\\CLSID\\";

// `relative_path` in the folder of the program at `program_path`.
std::u16string beside_program(std::u16string_view program_path, std::u16string_view relative_path)
{
    const std::size_t separator = program_path.find_last_of(u"\\/");
    const std::u16string_view folder = separator == std::u16string_view::npos
                                           ? std::u16string_view{}
                                           : program_path.substr(0, separator + 1);
    return std::u16string(folder) + std::u16string(relative_path);
}

} // namespace

std::vector<RegistryValue> camera_class_values(std::u16string_view module_path)
{
    const std::u16string server_key = camera_class_key() + u"\\InprocServer32";
    return {
        {camera_class_key(), u"", std::u16string(kCameraFriendlyName)},
        {server_key, u"", std::u16string(module_path)},
        // Both: COM loads the module into the caller's apartment, whichever it is; every
        // object of the camera is agile.
        {server_key, u"ThreadingModel", u"Both"},
    };
}

std::u16string camera_class_key()
{
    return std::u16string(kClassesKey) + std::u16string(kCameraClassIdText);
}

std::u16string camera_category_entry_key()
{
    return video_input_instances_key() + u"\\" + std::u16string(kCameraClassIdText);
}

std::vector<std::u16string> camera_registry_keys()
{
    return {camera_category_entry_key(), camera_class_key()};
}

std::u16string video_input_instances_key()
{
    return std::u16string(kClassesKey) + std::u16string(kVideoInputCategoryText) + u"\\Instance";
}

std::u16string module_beside_program(std::u16string_view program_path)
{
    return beside_program(program_path, kCameraModuleFileName);
}

std::u16string x86_module_beside_program(std::u16string_view program_path)
{
    return beside_program(program_path, std::u16string(kX86FolderName) + u"\\" +
                                            std::u16string(kCameraModuleFileName));
}

std::u16string x86_registration_program_beside(std::u16string_view program_path)
{
    return beside_program(program_path, std::u16string(kX86FolderName) + u"\\" +
                                            std::u16string(kRegistrationProgramFileName));
}

} // namespace tolvek::vcam
