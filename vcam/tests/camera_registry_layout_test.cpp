#include "camera_registry_layout.h"

#include "tolvek/text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvek::vcam {
namespace {

constexpr char16_t kClassKey[] =
    u"Software\\Classes\\CLSID\\{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}";
constexpr char16_t kInstanceKey[] =
    u"Software\\Classes\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\"
    u"{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}";

TEST(CameraRegistryLayout, the_class_names_the_module_by_its_path_for_every_apartment)
{
    const std::u16string server_key = std::u16string(kClassKey) + u"\\InprocServer32";
    const std::vector<RegistryValue> expected{
        {kClassKey, u"", u"Tolvek Camera"},
        {server_key, u"", u"C:\\Program Files\\Tolvek\\tolvek_vcam.dll"},
        {server_key, u"ThreadingModel", u"Both"},
    };
    EXPECT_EQ(camera_class_values(u"C:\\Program Files\\Tolvek\\tolvek_vcam.dll"), expected);
}

// Unregistration deletes these keys whole: each must be the camera's own, never a key that
// other classes or devices share.
TEST(CameraRegistryLayout, removed_keys_are_named_by_the_camera_class_and_hold_every_written_value)
{
    const std::vector<std::u16string> keys = camera_registry_keys();
    EXPECT_EQ(keys, (std::vector<std::u16string>{kInstanceKey, kClassKey}));
    for (const RegistryValue& value : camera_class_values(u"x.dll")) {
        EXPECT_TRUE(std::any_of(keys.begin(), keys.end(), [&](const std::u16string& key) {
            return value.key.starts_with(key);
        }));
    }
    EXPECT_EQ(video_input_instances_key() + u"\\" + std::u16string(kCameraClassIdText),
              kInstanceKey);
}

TEST(CameraRegistryLayout, the_modules_and_the_32_bit_program_sit_beside_the_tool)
{
    struct Case {
        std::u16string_view tool;
        std::u16string_view module;
        std::u16string_view x86_module;
        std::u16string_view x86_program;
    };
    for (const Case& layout : {
             Case{u"C:\\dist\\tolvek-vcam-register.exe", u"C:\\dist\\tolvek_vcam.dll",
                  u"C:\\dist\\x86\\tolvek_vcam.dll", u"C:\\dist\\x86\\tolvek-vcam-register.exe"},
             Case{u"\\\\server\\share\\tools\\r.exe", u"\\\\server\\share\\tools\\tolvek_vcam.dll",
                  u"\\\\server\\share\\tools\\x86\\tolvek_vcam.dll",
                  u"\\\\server\\share\\tools\\x86\\tolvek-vcam-register.exe"},
             Case{u"C:/dist/r.exe", u"C:/dist/tolvek_vcam.dll", u"C:/dist/x86\\tolvek_vcam.dll",
                  u"C:/dist/x86\\tolvek-vcam-register.exe"},
             Case{u"r.exe", u"tolvek_vcam.dll", u"x86\\tolvek_vcam.dll",
                  u"x86\\tolvek-vcam-register.exe"},
         }) {
        SCOPED_TRACE(utf16_to_utf8_lossy(layout.tool));
        EXPECT_EQ(module_beside_program(layout.tool), layout.module);
        EXPECT_EQ(x86_module_beside_program(layout.tool), layout.x86_module);
        EXPECT_EQ(x86_registration_program_beside(layout.tool), layout.x86_program);
    }
}

} // namespace
} // namespace tolvek::vcam
