#include "installed_files.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvek::setup {
namespace {

TEST(InstalledFiles, TheReleaseHoldsBothCamerasInTheLayoutOfTheRegistrationProgram)
{
    const std::vector<std::u16string> files = release_files();
    for (const char16_t* expected :
         {u"tolvek-display-helper.exe", u"tolvek-setup.exe", u"tolvek-monitors.exe",
          u"tolvek-vcam-pattern.exe", u"tolvek-vcam-register.exe", u"tolvek_vcam.dll",
          u"x86\\tolvek-vcam-register.exe", u"x86\\tolvek_vcam.dll", u"LICENSE.txt",
          u"README.txt"}) {
        EXPECT_NE(std::find(files.begin(), files.end(), expected), files.end())
            << std::string(expected, expected + std::char_traits<char16_t>::length(expected));
    }
}

struct OwnershipCase {
    std::u16string folder;
    std::u16string file_name;
    bool setups;
};

TEST(InstalledFiles, RemoveTakesSetupsFilesAndWhatInstallingThemLeftOnly)
{
    const OwnershipCase cases[] = {
        {u"", u"tolvek_vcam.dll", true},
        {u"", u"tolvek-setup.exe", true},
        {u"", u"tolvek_vcam.dll.new", true},
        {u"", u"tolvek_vcam.dll.1.old", true},
        {u"", u"tolvek_vcam.dll.42.old", true},
        {u"x86", u"tolvek_vcam.dll", true},
        {u"x86", u"tolvek-vcam-register.exe.3.old", true},
        {u"driver", u"TolvekIdd.inf", true},
        {u"driver", u"anything.cat", true},
        // Somebody else's.
        {u"", u"TOLVEK_VCAM.DLL", false},
        {u"", u"notes.txt", false},
        {u"", u"tolvek_vcam.dll.old", false},
        {u"", u"tolvek_vcam.dll..old", false},
        {u"", u"tolvek_vcam.dll.1.2.old", false},
        {u"", u"tolvek_vcam.dll.x.old", false},
        {u"", u"tolvek_vcam.dll.1.old.new", false},
        {u"x86", u"tolvek-display-helper.exe", false},
        {u"x86", u"README.txt", false},
        {u"other", u"tolvek_vcam.dll", false},
    };
    for (const OwnershipCase& c : cases) {
        EXPECT_EQ(installed_by_setup(c.folder, c.file_name), c.setups)
            << std::string(c.folder.begin(), c.folder.end()) << " / "
            << std::string(c.file_name.begin(), c.file_name.end());
    }
}

TEST(InstalledFiles, SetAsideNamesAreNumberedAndKnownAgain)
{
    EXPECT_EQ(set_aside_name(u"C:\\T\\tolvek_vcam.dll", 7), u"C:\\T\\tolvek_vcam.dll.7.old");
    EXPECT_EQ(staged_copy_name(u"C:\\T\\a.exe"), u"C:\\T\\a.exe.new");
    EXPECT_TRUE(is_set_aside_name(set_aside_name(u"C:\\T\\a.exe", 12)));
    for (const char16_t* other : {u"C:\\T\\a.exe", u"a.old", u"a..old", u"a.1x.old", u".old"}) {
        EXPECT_FALSE(is_set_aside_name(other));
    }
}

TEST(InstalledFiles, FoldersGoDeepestFirstAndTheInstallFolderLast)
{
    const std::vector<std::u16string> folders = installed_folders();
    ASSERT_FALSE(folders.empty());
    EXPECT_EQ(folders.back(), u"");
    EXPECT_EQ(path_in(u"C:\\P\\Tolvek", u""), u"C:\\P\\Tolvek");
    EXPECT_EQ(path_in(u"C:\\P\\Tolvek", u"x86"), u"C:\\P\\Tolvek\\x86");
}

} // namespace
} // namespace tolvek::setup
