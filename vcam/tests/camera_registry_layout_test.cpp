#include "camera_registry_layout.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvek::vcam {
namespace {

constexpr char16_t kClassKey[] =
    u"Software\\Classes\\CLSID\\{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}";
constexpr char16_t kInstanceKey[] =
    u"Software\\Classes\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\"
    u"{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}";

TEST(CameraRegistryLayout, the_class_names_the_module_by_its_path_and_the_category_lists_it)
{
    const std::u16string server_key = std::u16string(kClassKey) + u"\\InprocServer32";
    const std::vector<RegistryValue> expected{
        {kClassKey, u"", u"Tolvek Camera"},
        {server_key, u"", u"C:\\Program Files\\Tolvek\\tolvek_vcam.dll"},
        {server_key, u"ThreadingModel", u"Both"},
        {kInstanceKey, u"FriendlyName", u"Tolvek Camera"},
        {kInstanceKey, u"CLSID", u"{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}"},
    };
    EXPECT_EQ(camera_registry_values(u"C:\\Program Files\\Tolvek\\tolvek_vcam.dll"), expected);
}

// Unregistration deletes these keys whole: each must be the camera's own, never a key that
// other classes or devices share.
TEST(CameraRegistryLayout, removed_keys_are_named_by_the_camera_class_and_hold_every_written_value)
{
    const std::vector<std::u16string> keys = camera_registry_keys();
    EXPECT_EQ(keys, (std::vector<std::u16string>{kInstanceKey, kClassKey}));
    for (const RegistryValue& value : camera_registry_values(u"x.dll")) {
        EXPECT_TRUE(std::any_of(keys.begin(), keys.end(), [&](const std::u16string& key) {
            return value.key.starts_with(key);
        }));
    }
    EXPECT_EQ(video_input_instances_key() + u"\\" + std::u16string(kCameraClassIdText),
              kInstanceKey);
}

TEST(CameraRegistryLayout, the_default_module_sits_in_the_program_folder)
{
    EXPECT_EQ(module_beside_program(u"C:\\dist\\tolvek-vcam-register.exe"),
              u"C:\\dist\\tolvek_vcam.dll");
    EXPECT_EQ(module_beside_program(u"\\\\server\\share\\tools\\r.exe"),
              u"\\\\server\\share\\tools\\tolvek_vcam.dll");
    EXPECT_EQ(module_beside_program(u"C:/dist/r.exe"), u"C:/dist/tolvek_vcam.dll");
    EXPECT_EQ(module_beside_program(u"r.exe"), u"tolvek_vcam.dll");
}

} // namespace
} // namespace tolvek::vcam
