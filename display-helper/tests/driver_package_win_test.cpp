// Adding and removing the driver package through the fake pnputil in the test prefix's
// C:\windows\system32, the system folder: the exact command lines, how the utility's answers are
// judged, and the simulated driver store they change.

#include "setup/driver_package_win.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/setup_test_support_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

using Calls = std::vector<std::vector<std::string>>;
using testing::StoredPackage;

// Would catch a utility found through SystemRoot: install and uninstall run elevated with an
// environment that a process of the same user can set beforehand.
TEST(DriverPackage, the_system_folders_utility_runs_whatever_system_root_says)
{
    const testing::FakePnputil fake;
    const testing::ScopedTempDir elsewhere; // holds no pnputil at all
    const testing::ScopedEnvironmentVariable root{L"SystemRoot", elsewhere.path().wstring()};
    EXPECT_EQ(pnputil_path(), system_folder().value() + u"\\pnputil.exe");

    const Status added = add_driver_package(u"C:\\d\\TolvekIdd.inf");
    ASSERT_TRUE(added.ok()) << added.error().text;
    EXPECT_EQ(fake.calls(), (Calls{{"/add-driver", "C:\\d\\TolvekIdd.inf", "/install"}}));
}

TEST(DriverPackage, add_passes_the_inf_path_as_one_argument_and_succeeds_on_exit_code_zero)
{
    const testing::FakePnputil fake;
    const std::u16string inf = u"C:\\Program Files\\Tolvek \"App\"\\driver\\TolvekIdd.inf";
    const Status added = add_driver_package(inf);
    ASSERT_TRUE(added.ok()) << added.error().text;
    EXPECT_EQ(fake.calls(), (Calls{{"/add-driver", utf16_to_utf8(inf).value(), "/install"}}));
    EXPECT_EQ(fake.store(), (std::vector<StoredPackage>{{"oem40.inf", "tolvekidd.inf"}}));
}

TEST(DriverPackage, any_non_zero_exit_refuses_the_add_with_the_trimmed_decoded_output)
{
    const testing::FakePnputil fake;
    fake.put_file("refusal.out", "\r\n  Adding the driver package failed:\r\n"
                                 "\xC4nderung \xFF verweigert\r\n\r\nCode 5  \r\n");
    fake.put_file("refusal.err", "standard error is not reported");
    for (const int code : {1, -536870397, 259}) {
        fake.reply("add-driver", "exit " + std::to_string(code) +
                                     "\nstdout-file refusal.out\nstderr-file refusal.err\n");
        const Status added = add_driver_package(u"C:\\d\\TolvekIdd.inf");
        ASSERT_FALSE(added.ok()) << code;
        EXPECT_EQ(added.error().text, "the driver package was refused: Adding the driver package "
                                      "failed:\r\n\xEF\xBF\xBDnderung \xEF\xBF\xBD verweigert"
                                      "\r\n\r\nCode 5");
    }
}

TEST(DriverPackage, remove_deletes_the_first_listed_package_and_a_second_remove_the_next)
{
    const testing::FakePnputil fake;
    fake.set_store({{"oem3.inf", "other.inf"},
                    {"oem7.inf", "tolvekidd.inf"},
                    {"oem9.inf", "other2.inf"},
                    {"oem12.inf", "TolvekIdd.inf"}});

    ASSERT_TRUE(remove_driver_package().ok());
    EXPECT_EQ(fake.store(), (std::vector<StoredPackage>{{"oem3.inf", "other.inf"},
                                                        {"oem9.inf", "other2.inf"},
                                                        {"oem12.inf", "TolvekIdd.inf"}}));
    ASSERT_TRUE(remove_driver_package().ok());
    ASSERT_TRUE(remove_driver_package().ok()); // nothing left: listed, nothing deleted

    EXPECT_EQ(fake.store(),
              (std::vector<StoredPackage>{{"oem3.inf", "other.inf"}, {"oem9.inf", "other2.inf"}}));
    EXPECT_EQ(fake.calls(), (Calls{{"/enum-drivers"},
                                   {"/delete-driver", "oem7.inf", "/uninstall", "/force"},
                                   {"/enum-drivers"},
                                   {"/delete-driver", "oem12.inf", "/uninstall", "/force"},
                                   {"/enum-drivers"}}));
}

TEST(DriverPackage, the_listing_counts_whatever_its_exit_code)
{
    const testing::FakePnputil fake;
    fake.put_file("listing.out", "Published Name: oem4.inf\nOriginal Name: tolvekidd.inf\n");
    fake.reply("enum-drivers", "exit 3\nstdout-file listing.out\n");
    fake.set_store({{"oem4.inf", "tolvekidd.inf"}});
    ASSERT_TRUE(remove_driver_package().ok());
    EXPECT_TRUE(fake.store().empty());
}

TEST(DriverPackage, a_refused_delete_reports_the_utilitys_output)
{
    const testing::FakePnputil fake;
    fake.set_store({{"oem7.inf", "tolvekidd.inf"}});
    fake.put_file("busy.out", "  Failed to delete driver package: in use.\r\n");
    fake.reply("delete-driver", "exit 5\nstdout-file busy.out\n");
    const Status removed = remove_driver_package();
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().text,
              "the driver package would not go: Failed to delete driver package: in use.");
}

// Moves the prefix's fake pnputil out of the system folder for as long as the object lives.
class UtilityMovedAway {
public:
    UtilityMovedAway() : path_(pnputil_path()), aside_(path_ + u".away")
    {
        moved_ =
            MoveFileExW(as_wide(path_.c_str()), as_wide(aside_.c_str()), MOVEFILE_REPLACE_EXISTING);
    }
    ~UtilityMovedAway()
    {
        if (moved_) {
            MoveFileExW(as_wide(aside_.c_str()), as_wide(path_.c_str()), MOVEFILE_REPLACE_EXISTING);
        }
    }
    UtilityMovedAway(const UtilityMovedAway&) = delete;
    UtilityMovedAway& operator=(const UtilityMovedAway&) = delete;

    [[nodiscard]] bool moved() const { return moved_; }

private:
    std::u16string path_;
    std::u16string aside_;
    bool moved_ = false;
};

TEST(DriverPackage, a_utility_that_cannot_start_is_reported_for_every_operation)
{
    const UtilityMovedAway away;
    ASSERT_TRUE(away.moved());
    const std::regex not_run{R"(pnputil would not run: .+ \(os error [23]\))"};
    const Status added = add_driver_package(u"C:\\d\\TolvekIdd.inf");
    ASSERT_FALSE(added.ok());
    EXPECT_TRUE(std::regex_match(added.error().text, not_run)) << added.error().text;
    const Status removed = remove_driver_package();
    ASSERT_FALSE(removed.ok());
    EXPECT_TRUE(std::regex_match(removed.error().text, not_run)) << removed.error().text;
}

} // namespace
} // namespace tolvek
