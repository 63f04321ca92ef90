#pragma once

// What registering the camera writes below HKEY_LOCAL_MACHINE: its COM class, so that COM
// can load the module by the class identifier, and its entry in DirectShow's video input
// device category, so that hosts list it as "Tolvek Camera". Platform-free: keys and texts
// are UTF-16, carried as char16_t.

#include <string>
#include <string_view>
#include <vector>

namespace tolvek::vcam {

// CLSID_VirtualCamera as registry text.
inline constexpr std::u16string_view kCameraClassIdText = u"{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}";
// CLSID_VideoInputDeviceCategory, whose instances the system device enumerator lists.
inline constexpr std::u16string_view kVideoInputCategoryText =
    u"{860BB310-5D01-11D0-BD3B-00A0C911CE86}";
inline constexpr std::u16string_view kCameraFriendlyName = u"Tolvek Camera";
inline constexpr std::u16string_view kCameraModuleFileName = u"tolvek_vcam.dll";

// One string value (REG_SZ).
struct RegistryValue {
    std::u16string key;  // below HKEY_LOCAL_MACHINE
    std::u16string name; // empty: the key's default value
    std::u16string data;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// The values registration writes, in the order written: the class before its category
// entry, so that a half-finished registration never lists a camera that COM cannot load.
[[nodiscard]] std::vector<RegistryValue> camera_registry_values(std::u16string_view module_path);

// The keys registration creates, each named by the camera's class identifier and so wholly
// the camera's; unregistration removes them with everything in them, the category entry
// first.
[[nodiscard]] std::vector<std::u16string> camera_registry_keys();

// The category's "Instance" key, which other devices share: unregistration removes it only
// when nothing is left in it.
[[nodiscard]] std::u16string video_input_instances_key();

// The camera module in the folder of the program at `program_path`.
[[nodiscard]] std::u16string module_beside_program(std::u16string_view program_path);

} // namespace tolvek::vcam
