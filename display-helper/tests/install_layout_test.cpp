#include "setup/install_layout.h"

#include <gtest/gtest.h>

#include "setup/windows_path.h"

namespace tolvek {
namespace {

TEST(InstallLayout, the_helper_is_looked_for_in_display_helper_then_beside_then_in_deps)
{
    EXPECT_EQ(helper_candidates(u"C:\\Tolvek App"),
              (std::vector<std::u16string>{
                  u"C:\\Tolvek App\\display-helper\\tolvek-display-helper.exe",
                  u"C:\\Tolvek App\\tolvek-display-helper.exe",
                  u"C:\\Tolvek App\\deps\\tolvek-display-helper.exe",
              }));
}

TEST(InstallLayout, the_driver_package_sits_in_the_helpers_driver_folder)
{
    EXPECT_EQ(driver_package_path(u"C:\\App\\deps\\tolvek-display-helper.exe"),
              u"C:\\App\\deps\\driver\\TolvekIdd.inf");
}

TEST(InstallLayout, paths_join_with_one_separator_and_split_at_the_last)
{
    EXPECT_EQ(join_windows_path(u"C:\\", u"deps"), u"C:\\deps");
    EXPECT_EQ(join_windows_path(u"C:/a/", u"deps"), u"C:/a/deps");
    EXPECT_EQ(join_windows_path(u"", u"deps"), u"deps");
    EXPECT_EQ(parent_directory(u"C:\\a b\\x.exe"), u"C:\\a b");
    EXPECT_EQ(parent_directory(u"C:/a/x.exe"), u"C:/a");
    EXPECT_EQ(parent_directory(u"x.exe"), u"");
}

} // namespace
} // namespace tolvek
