#include "camera_registration_win.h"

#include <windows.h>
#include <dshow.h>

#include "com_ptr_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::vcam {

namespace {

constexpr REGSAM view_of(HostBitness bitness)
{
    return bitness == HostBitness::bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// The registry view COM reads in the hosts this program registers for.
constexpr REGSAM kThisView = view_of(kThisProgramBitness);

Error registry_error(std::string_view what, const std::u16string& key, LSTATUS status)
{
    return Error{std::string(what) + " under HKLM\\" + utf16_to_utf8_lossy(key) + ": " +
                 win32_error_text(static_cast<DWORD>(status))};
}

Result<std::u16string> full_path(std::u16string_view path)
{
    const std::u16string given(path);
    Result<std::u16string> full = read_system_text([&given](wchar_t* buffer, DWORD capacity) {
        return GetFullPathNameW(as_wide(given.c_str()), capacity, buffer, nullptr);
    });
    if (!full) {
        return Error{"the camera module path is not usable: " + utf16_to_utf8_lossy(given) + ": " +
                     full.error().text};
    }
    return full;
}

// A camera module exists and exports DllGetClassObject. It is mapped without running its
// entry point or loading its imports: nothing of it runs here.
Status check_camera_module(const std::u16string& path)
{
    if (!is_file(path)) {
        return Error{"the camera module is missing: " + utf16_to_utf8_lossy(path)};
    }
    const UniqueLibrary module{
        LoadLibraryExW(as_wide(path.c_str()), nullptr, DONT_RESOLVE_DLL_REFERENCES)};
    if (!module) {
        return Error{"the camera module would not load: " + utf16_to_utf8_lossy(path) + ": " +
                     win32_error_text(GetLastError())};
    }
    if (GetProcAddress(module.get(), "DllGetClassObject") == nullptr) {
        return Error{"not a camera module: " + utf16_to_utf8_lossy(path) +
                     " exports no DllGetClassObject"};
    }
    return success();
}

Status write_value(const RegistryValue& value)
{
    UniqueRegistryKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, as_wide(value.key.c_str()), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kThisView, nullptr,
                                     key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(char16_t));
        status =
            RegSetValueExW(key.get(), value.name.empty() ? nullptr : as_wide(value.name.c_str()), 0,
                           REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()), bytes);
    }
    if (status != ERROR_SUCCESS) {
        return registry_error("the camera could not be registered", value.key, status);
    }
    return success();
}

// Removes `path` with all its subkeys and values from `view`; nothing to do when it is
// absent.
Status remove_key_tree(const std::u16string& path, REGSAM view)
{
    UniqueRegistryKey key;
    // Opening for deletion first tells missing rights apart from a key that is not there.
    LSTATUS status = RegOpenKeyExW(
        HKEY_LOCAL_MACHINE, as_wide(path.c_str()), 0,
        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, key.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return success();
    }
    if (status == ERROR_SUCCESS) {
        status = RegDeleteTreeW(key.get(), nullptr); // the subkeys and values
    }
    if (status == ERROR_SUCCESS) {
        status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, as_wide(path.c_str()), view, 0);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return registry_error("the camera could not be unregistered", path, status);
    }
    return success();
}

// The category's instance key goes when the camera was the last device in it, as it was
// before registration made it. A key that another device uses meanwhile is not empty, and
// RegDeleteKeyExW refuses a key with subkeys, so nothing of others is lost.
void remove_if_empty(const std::u16string& path, REGSAM view)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, as_wide(path.c_str()), 0, KEY_QUERY_VALUE | view,
                      key.put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0) {
        // A failure leaves an empty key behind, which lists nothing: tidying up only.
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, as_wide(path.c_str()), view, 0);
    }
}

Result<CLSID> camera_class_id()
{
    CLSID class_id{};
    // The text views a literal, so it ends in a null.
    if (const HRESULT result = CLSIDFromString(as_wide(kCameraClassIdText.data()), &class_id);
        FAILED(result)) {
        return Error{"the camera's class identifier is not one: " + hresult_error_text(result)};
    }
    return class_id;
}

Result<ComPtr<IFilterMapper2>> filter_mapper()
{
    ComPtr<IFilterMapper2> mapper;
    if (const HRESULT result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IFilterMapper2, mapper.put_void());
        FAILED(result)) {
        return Error{"the system's filter mapper is not available: " + hresult_error_text(result)};
    }
    return mapper;
}

// What both edits of the category entry work with.
struct CategoryEntryEditor {
    CLSID class_id;
    ComPtr<IFilterMapper2> mapper;
};

Result<CategoryEntryEditor> category_entry_editor()
{
    Result<CLSID> class_id = camera_class_id();
    if (!class_id) {
        return std::move(class_id).error();
    }
    Result<ComPtr<IFilterMapper2>> mapper = filter_mapper();
    if (!mapper) {
        return std::move(mapper).error();
    }
    return CategoryEntryEditor{class_id.value(), std::move(mapper).value()};
}

// The category entry as hosts read it: one output pin in the capture category carrying video
// in the camera's one subtype, and the merit of capture sources, which a graph never picks
// on its own. The filter mapper writes it with FriendlyName and CLSID, and the FilterData
// that hosts match filters by media type or merit with.
Status write_category_entry()
{
    Result<CategoryEntryEditor> editor = category_entry_editor();
    if (!editor) {
        return std::move(editor).error();
    }
    const auto& [class_id, mapper] = editor.value();
    const REGPINTYPES media_type{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &media_type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter{};
    filter.dwVersion = 2; // pins described by REGFILTERPINS2
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    const std::u16string name(kCameraFriendlyName);
    if (const HRESULT result =
            mapper->RegisterFilter(class_id, as_wide(name.c_str()),
                                   nullptr, // no moniker wanted back
                                   &CLSID_VideoInputDeviceCategory,
                                   nullptr, // the instance key is named by the class identifier
                                   &filter);
        FAILED(result)) {
        return Error{"the camera could not be registered as a video input device: " +
                     hresult_error_text(result)};
    }
    return success();
}

// Removes the category entry through the filter mapper; nothing to do when it is absent.
Status remove_category_entry()
{
    Result<CategoryEntryEditor> editor = category_entry_editor();
    if (!editor) {
        return std::move(editor).error();
    }
    const auto& [class_id, mapper] = editor.value();
    const HRESULT result =
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, class_id);
    if (FAILED(result) && result != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return Error{"the camera could not be unregistered as a video input device: " +
                     hresult_error_text(result)};
    }
    return success();
}

} // namespace

bool is_file(std::u16string_view path)
{
    const std::u16string terminated(path);
    const DWORD attributes = GetFileAttributesW(as_wide(terminated.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

Result<std::u16string> register_camera(std::u16string_view module_path)
{
    Result<std::u16string> path = full_path(module_path);
    if (!path) {
        return path;
    }
    TOLVEK_TRY(check_camera_module(path.value()));
    for (const RegistryValue& value : camera_class_values(path.value())) {
        TOLVEK_TRY(write_value(value));
    }
    // The filter mapper is a COM object. A caller in a single-threaded apartment stays there:
    // the join then fails, and the mapper serves that apartment as well.
    const ComApartment apartment;
    TOLVEK_TRY(write_category_entry());
    return path;
}

Status unregister_camera()
{
    {
        const ComApartment apartment; // as in register_camera
        TOLVEK_TRY(remove_category_entry());
    }
    return remove_camera_keys(kThisProgramBitness);
}

Status remove_camera_keys(HostBitness bitness)
{
    for (const std::u16string& key : camera_registry_keys()) {
        TOLVEK_TRY(remove_key_tree(key, view_of(bitness)));
    }
    remove_if_empty(video_input_instances_key(), view_of(bitness));
    return success();
}

Result<std::u16string> module_beside_this_program()
{
    const Result<std::u16string> program = module_path();
    if (!program) {
        return Error{"the program's own path is unknown: " + program.error().text};
    }
    return module_beside_program(program.value());
}

} // namespace tolvek::vcam
