// Adding and removing the driver package through the fake pnputil in the test prefix's
// C:\windows\system32: the exact command lines, how the utility's answers are judged, and
// the simulated driver store they change.

#include "setup/driver_package_win.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/setup_test_support_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

using Calls = std::vector<std::vector<std::string>>;
using testing::StoredPackage;

TEST(DriverPackage, the_utility_is_found_through_system_root)
{
    {
        const testing::ScopedEnvironmentVariable root{L"SystemRoot", L"D:\\Win"};
        EXPECT_EQ(pnputil_path(), u"D:\\Win\\System32\\pnputil.exe");
    }
    const std::u16string fallback = u"C:\\Windows\\System32\\pnputil.exe";
    {
        const testing::ScopedEnvironmentVariable root{L"SystemRoot", std::nullopt};
        EXPECT_EQ(pnputil_path(), fallback);
    }
    {
        const testing::ScopedEnvironmentVariable root{L"SystemRoot",
                                                      std::wstring{L"C:\\W"} + wchar_t(0xDC00)};
        EXPECT_EQ(pnputil_path(), fallback);
    }
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

TEST(DriverPackage, a_utility_that_cannot_start_is_reported_for_every_operation)
{
    const testing::ScopedTempDir empty_root;
    const testing::ScopedEnvironmentVariable root{L"SystemRoot", empty_root.path().wstring()};
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
