// Registration of the camera in the real registry of the test prefix, through the functions
// and through the tool itself, for the hosts of this test's bitness: in the registry view
// that COM reads in them. Every test leaves the camera unregistered.

#include "camera_registration_win.h"

#include <windows.h>
#include <dshow.h>
#include <sddl.h>

#include "camera_registry_layout.h"
#include "class_id_win.h"
#include "com_ptr_win.h"
#include "registry_values_win.h"
#include "support/test_environment_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

#include <gtest/gtest.h>

#include <map>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;

// The registry view of this test's bitness.
constexpr REGSAM kView =
    kThisProgramBitness == HostBitness::bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

std::u16string category_key()
{
    return u"Software\\Classes\\CLSID\\" + std::u16string(kVideoInputCategoryText);
}

std::u16string built_camera_module()
{
    return std::u16string{
        as_utf16((tolvek::testing::executable_folder() / L"tolvek_vcam.dll").wstring())};
}

// Every key below `path` (and `path` itself) as "subkey path" -> "(key)", and every value as
// "subkey path|value name" -> type and data. Empty when the key is absent.
using RegistryTree = std::map<std::wstring, std::wstring>;

void collect_tree(HKEY parent, const std::wstring& path, const std::wstring& shown,
                  RegistryTree& tree)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | kView, key.put()) != ERROR_SUCCESS) {
        return;
    }
    tree[shown] = L"(key)";
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_length = 256;
        BYTE data[2048];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, data, &data_size) !=
            ERROR_SUCCESS) {
            break;
        }
        tree[shown + L"|" + std::wstring(name, name_length)] =
            std::to_wstring(type) + L":" +
            std::wstring(reinterpret_cast<const wchar_t*>(data), data_size / sizeof(wchar_t));
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_length = 256;
        if (RegEnumKeyExW(key.get(), index, name, &name_length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::wstring child(name, name_length);
        collect_tree(key.get(), child, shown + L"\\" + child, tree);
    }
}

RegistryTree registry_tree(const std::u16string& path)
{
    RegistryTree tree;
    collect_tree(HKEY_LOCAL_MACHINE, std::wstring(as_wide(path.c_str())), L"", tree);
    return tree;
}

std::wstring string_value(const std::u16string& key, const wchar_t* name)
{
    return testing::string_value(kThisProgramBitness, key, name);
}

// Makes `key` readable only, as a machine whose administrator locked it would have it.
class LockedKey {
public:
    explicit LockedKey(std::u16string key) : key_(std::move(key))
    {
        set_access(L"D:P(A;;KR;;;WD)"); // everyone: read only
    }
    ~LockedKey()
    {
        set_access(L"D:P(A;;KA;;;WD)"); // everyone: everything, so that clean-up can go on
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, as_wide(key_.c_str()));
    }
    LockedKey(const LockedKey&) = delete;
    LockedKey& operator=(const LockedKey&) = delete;

private:
    void set_access(const wchar_t* descriptor_text)
    {
        UniqueRegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, as_wide(key_.c_str()), 0, nullptr, 0,
                                  WRITE_DAC | kView, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            descriptor_text, SDDL_REVISION_1, &descriptor, nullptr));
        const UniqueLocalMemory<void> owner{descriptor};
        ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor),
                  ERROR_SUCCESS);
    }

    std::u16string key_;
};

class CameraRegistrationWin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(unregister_camera()); }
    void TearDown() override { EXPECT_TRUE(unregister_camera()); }
};

TEST_F(CameraRegistrationWin, the_registered_class_id_is_the_one_the_camera_serves)
{
    wchar_t text[40];
    ASSERT_EQ(StringFromGUID2(CLSID_VirtualCamera, text, 40), 39);
    EXPECT_EQ(as_utf16(text), kCameraClassIdText);
}

TEST_F(CameraRegistrationWin, registering_writes_the_class_and_the_video_input_entry)
{
    const Result<std::u16string> registered = register_camera(built_camera_module());
    ASSERT_TRUE(registered) << registered.error().text;
    EXPECT_EQ(registered.value(), built_camera_module());

    EXPECT_EQ(string_value(camera_class_key(), nullptr), L"Tolvek Camera");
    EXPECT_EQ(string_value(camera_class_key() + u"\\InprocServer32", nullptr),
              as_wide(built_camera_module().c_str()));
    EXPECT_EQ(string_value(camera_class_key() + u"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(string_value(camera_category_entry_key(), L"FriendlyName"), L"Tolvek Camera");
    EXPECT_EQ(string_value(camera_category_entry_key(), L"CLSID"),
              as_wide(std::u16string(kCameraClassIdText).c_str()));
    EXPECT_GT(
        testing::binary_value_size(kThisProgramBitness, camera_category_entry_key(), L"FilterData"),
        0u)
        << "the filter mapper's description of the pin and its media type";
}

// What the entry's FilterData is for: hosts that look for filters by media type, pin
// category and merit find the camera exactly when they ask for what it offers.
TEST_F(CameraRegistrationWin, hosts_matching_filters_by_media_type_and_merit_find_the_camera)
{
    ASSERT_TRUE(register_camera(built_camera_module()));
    const ComApartment apartment;
    ComPtr<IFilterMapper2> mapper;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IFilterMapper2, mapper.put_void()),
              S_OK);
    struct Case {
        const char* name;
        GUID subtype;
        DWORD merit;
        bool found;
    };
    for (const Case& search : {
             Case{"RGB32 video, capture sources included", MEDIASUBTYPE_RGB32, MERIT_DO_NOT_USE,
                  true},
             Case{"another subtype", MEDIASUBTYPE_YUY2, MERIT_DO_NOT_USE, false},
             Case{"a merit above that of capture sources", MEDIASUBTYPE_RGB32, MERIT_DO_NOT_USE + 1,
                  false},
         }) {
        SCOPED_TRACE(search.name);
        const GUID output_type[] = {MEDIATYPE_Video, search.subtype};
        ComPtr<IEnumMoniker> matches;
        ASSERT_EQ(mapper->EnumMatchingFilters(matches.put(), 0, FALSE, search.merit, FALSE, 0,
                                              nullptr, nullptr, nullptr, // no input
                                              FALSE, TRUE, 1, output_type, nullptr,
                                              &PIN_CATEGORY_CAPTURE),
                  S_OK);
        bool found = false;
        ComPtr<IMoniker> moniker;
        while (matches->Next(1, moniker.put(), nullptr) == S_OK) {
            UniqueTaskMemory<wchar_t> name;
            ASSERT_EQ(moniker->GetDisplayName(nullptr, nullptr, name.put()), S_OK);
            found = found || std::wstring_view(name.get())
                                 .ends_with(as_wide(std::u16string(kCameraClassIdText).c_str()));
        }
        EXPECT_EQ(found, search.found);
    }
}

TEST_F(CameraRegistrationWin, a_relative_path_is_registered_as_the_full_path)
{
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(tolvek::testing::executable_folder().c_str()));
    const Result<std::u16string> registered = register_camera(u"tolvek_vcam.dll");
    SetCurrentDirectoryW(previous);

    ASSERT_TRUE(registered) << registered.error().text;
    EXPECT_EQ(string_value(camera_class_key() + u"\\InprocServer32", nullptr),
              as_wide(built_camera_module().c_str()));
}

TEST_F(CameraRegistrationWin, registering_twice_changes_nothing)
{
    ASSERT_TRUE(register_camera(built_camera_module()));
    const RegistryTree once = registry_tree(category_key());
    const RegistryTree class_once = registry_tree(camera_class_key());

    ASSERT_TRUE(register_camera(built_camera_module()));
    EXPECT_EQ(registry_tree(category_key()), once);
    EXPECT_EQ(registry_tree(camera_class_key()), class_once);
    EXPECT_EQ(class_once.size(), 5u) << "two keys and their three values";
}

TEST_F(CameraRegistrationWin, unregistering_leaves_the_registry_as_it_was_found)
{
    const RegistryTree before = registry_tree(category_key());
    ASSERT_TRUE(register_camera(built_camera_module()));
    ASSERT_NE(registry_tree(category_key()), before);

    ASSERT_TRUE(unregister_camera());
    EXPECT_EQ(registry_tree(category_key()), before);
    EXPECT_TRUE(registry_tree(camera_class_key()).empty());
}

TEST_F(CameraRegistrationWin, unregistering_keeps_the_entries_of_other_devices)
{
    const std::u16string other = video_input_instances_key() + u"\\OtherCamera";
    UniqueRegistryKey other_key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, as_wide(other.c_str()), 0, nullptr, 0,
                              KEY_SET_VALUE | kView, nullptr, other_key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(other_key.get(), L"FriendlyName", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(L"Other"), sizeof L"Other"),
              ERROR_SUCCESS);
    ASSERT_TRUE(register_camera(built_camera_module()));

    ASSERT_TRUE(unregister_camera());
    EXPECT_EQ(string_value(other, L"FriendlyName"), L"Other");
    EXPECT_EQ(string_value(camera_category_entry_key(), L"FriendlyName"), L"(absent)");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, as_wide(other.c_str()));
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, as_wide(other.c_str()), kView, 0);
}

TEST_F(CameraRegistrationWin, unregistering_succeeds_when_nothing_is_registered)
{
    EXPECT_TRUE(unregister_camera());
    EXPECT_TRUE(unregister_camera());
}

TEST_F(CameraRegistrationWin, a_missing_or_foreign_module_is_refused_and_nothing_is_written)
{
    const std::u16string missing = u"C:\\nowhere\\tolvek_vcam.dll";
    const Result<std::u16string> absent = register_camera(missing);
    ASSERT_FALSE(absent);
    EXPECT_EQ(absent.error().text, "the camera module is missing: C:\\nowhere\\tolvek_vcam.dll");

    const std::u16string folder{as_utf16(tolvek::testing::executable_folder().wstring())};
    EXPECT_FALSE(register_camera(folder)) << "a folder is no module";

    const Result<std::u16string> foreign = register_camera(u"C:\\windows\\system32\\kernel32.dll");
    ASSERT_FALSE(foreign);
    EXPECT_EQ(foreign.error().text,
              "not a camera module: C:\\windows\\system32\\kernel32.dll exports no "
              "DllGetClassObject");

    const Result<std::u16string> not_an_image = register_camera(u"C:\\windows\\win.ini");
    ASSERT_FALSE(not_an_image);
    EXPECT_EQ(not_an_image.error().text,
              "the camera module would not load: C:\\windows\\win.ini: " +
                  win32_error_text(ERROR_BAD_EXE_FORMAT));

    EXPECT_TRUE(registry_tree(camera_class_key()).empty());
    EXPECT_TRUE(registry_tree(camera_category_entry_key()).empty());
}

TEST_F(CameraRegistrationWin, missing_rights_are_reported_with_the_registry_error)
{
    {
        const LockedKey locked(camera_class_key());
        const Result<std::u16string> registered = register_camera(built_camera_module());
        ASSERT_FALSE(registered);
        EXPECT_EQ(registered.error().text, "the camera could not be registered under HKLM\\" +
                                               utf16_to_utf8_lossy(camera_class_key()) + ": " +
                                               win32_error_text(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(registry_tree(camera_category_entry_key()).empty())
            << "the category lists no camera whose class is not written";
    }
    {
        // The class, since Wine's filter mapper removes a category entry that grants reading
        // only all the same.
        ASSERT_TRUE(register_camera(built_camera_module()));
        const LockedKey locked(camera_class_key());
        const Status removed = unregister_camera();
        ASSERT_FALSE(removed);
        EXPECT_EQ(removed.error().text, "the camera could not be unregistered under HKLM\\" +
                                            utf16_to_utf8_lossy(camera_class_key()) + ": " +
                                            win32_error_text(ERROR_ACCESS_DENIED));
    }
}

// The tool as a user runs it: one line of outcome, exit code 0 or 1.
class RegistrationTool : public CameraRegistrationWin {
protected:
    static tolvek::testing::ProcessOutcome run_tool(const std::wstring& arguments)
    {
        const std::wstring command_line =
            L"\"" + (tolvek::testing::executable_folder() / L"tolvek-vcam-register.exe").wstring() +
            L"\" " + arguments;
        const auto outcome = tolvek::testing::run_process(command_line, 30s);
        EXPECT_TRUE(outcome.has_value()) << "the tool did not start or did not end";
        return outcome.value_or(tolvek::testing::ProcessOutcome{999, {}, {}});
    }
};

// The build folder has no x86 folder: the 64-bit tool registers its own module alone and
// says so.
TEST_F(RegistrationTool, registers_the_module_beside_it_and_unregisters_it)
{
    const std::string module = utf16_to_utf8_lossy(built_camera_module());
    const std::string expected =
        kThisProgramBitness == HostBitness::bits64
            ? "registered Tolvek Camera for 64-bit hosts: " + module +
                  "; not for 32-bit hosts: the camera module is missing: " +
                  utf16_to_utf8_lossy(as_utf16(
                      (tolvek::testing::executable_folder() / L"x86\\tolvek_vcam.dll").wstring()))
            : "registered Tolvek Camera for 32-bit hosts: " + module;
    const tolvek::testing::ProcessOutcome registered = run_tool(L"register");
    EXPECT_EQ(registered.exit_code, 0u) << registered.standard_error;
    EXPECT_EQ(registered.standard_output, expected + "\n");
    EXPECT_EQ(registered.standard_error, "");
    EXPECT_EQ(string_value(camera_class_key() + u"\\InprocServer32", nullptr),
              as_wide(built_camera_module().c_str()));

    const tolvek::testing::ProcessOutcome unregistered = run_tool(L"unregister");
    EXPECT_EQ(unregistered.exit_code, 0u) << unregistered.standard_error;
    EXPECT_EQ(unregistered.standard_output, "unregistered Tolvek Camera\n");
    EXPECT_TRUE(registry_tree(camera_class_key()).empty());
}

TEST_F(RegistrationTool, failures_end_with_one_line_on_standard_error_and_exit_code_1)
{
    const tolvek::testing::ProcessOutcome usage = run_tool(L"regster");
    EXPECT_EQ(usage.exit_code, 1u);
    EXPECT_EQ(usage.standard_error,
              "usage: tolvek-vcam-register register [path-to-dll] | unregister\n");
    EXPECT_EQ(usage.standard_output, "");

    const tolvek::testing::ProcessOutcome missing = run_tool(L"register \"C:\\no where\\x.dll\"");
    EXPECT_EQ(missing.exit_code, 1u);
    EXPECT_EQ(missing.standard_error, "the camera module is missing: C:\\no where\\x.dll\n");
    EXPECT_EQ(missing.standard_output, "");
}

} // namespace
} // namespace tolvek::vcam
