#pragma once

// What registering the camera writes below HKEY_LOCAL_MACHINE, in the registry view of the
// hosts it is for: its COM class, so that COM can load the module by the class identifier,
// and its entry in DirectShow's video input device category, so that hosts list it as
// "Tolvek Camera" (that entry is written by the system's filter mapper). And where the
// modules and the registration programs of both bitnesses sit. Platform-free: keys and texts
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
inline constexpr std::u16string_view kRegistrationProgramFileName = u"tolvek-vcam-register.exe";
// The folder beside the 64-bit tool that holds the 32-bit camera module and the 32-bit
// registration program: a 32-bit host loads only a 32-bit module, registered in the 32-bit
// registry view, which only a 32-bit program registers through the filter mapper.
inline constexpr std::u16string_view kX86FolderName = u"x86";

// The hosts a registration is for: COM in a 64-bit process reads the 64-bit registry view,
// in a 32-bit process the 32-bit one.
enum class HostBitness { bits64, bits32 };

// One string value (REG_SZ).
struct RegistryValue {
    std::u16string key;  // below HKEY_LOCAL_MACHINE
    std::u16string name; // empty: the key's default value
    std::u16string data;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// The values of the camera's class, which registration writes before the category entry,
// so that a half-finished registration never lists a camera that COM cannot load.
[[nodiscard]] std::vector<RegistryValue> camera_class_values(std::u16string_view module_path);

// The camera's class key, and its entry in the video input device category.
[[nodiscard]] std::u16string camera_class_key();
[[nodiscard]] std::u16string camera_category_entry_key();

// The keys registration creates, each named by the camera's class identifier and so wholly
// the camera's: the category entry and the class. Unregistration removes them with
// everything in them, in this order.
[[nodiscard]] std::vector<std::u16string> camera_registry_keys();

// The category's "Instance" key, which other devices share: unregistration removes it only
// when nothing is left in it.
[[nodiscard]] std::u16string video_input_instances_key();

// The camera module in the folder of the program at `program_path`.
[[nodiscard]] std::u16string module_beside_program(std::u16string_view program_path);

// The 32-bit camera module and the 32-bit registration program in the x86 folder beside the
// program at `program_path`.
[[nodiscard]] std::u16string x86_module_beside_program(std::u16string_view program_path);
[[nodiscard]] std::u16string x86_registration_program_beside(std::u16string_view program_path);

} // namespace tolvek::vcam
