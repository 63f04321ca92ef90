#include "setup/published_name.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

constexpr std::string_view kCrLfListing = "Microsoft PnP Utility\r\n"
                                          "\r\n"
                                          "Published Name:     oem3.inf\r\n"
                                          "Original Name:      other.inf\r\n"
                                          "\r\n"
                                          "Published Name:     oem12.inf\r\n"
                                          "Original Name:      tolvekidd.inf\r\n"
                                          "Provider Name:      Tolvek\r\n"
                                          "\r\n"
                                          "Published Name:     oem13.inf\r\n"
                                          "Original Name:      tolvekidd.inf\r\n";

TEST(PublishedName, the_first_entry_naming_the_package_gives_its_published_name)
{
    EXPECT_EQ(find_published_name(kCrLfListing), "oem12.inf");
}

TEST(PublishedName, lf_only_blank_lines_separate_entries_like_crlf_ones)
{
    EXPECT_EQ(find_published_name("Published Name: oem3.inf\nOriginal Name: other.inf\n\n"
                                  "Published Name: oem7.inf\nOriginal Name: tolvekidd.inf\n"),
              "oem7.inf");
    // Without a blank line the two packages are one entry, whose first name is oem3.inf.
    EXPECT_EQ(find_published_name("Published Name: oem3.inf\nOriginal Name: other.inf\n"
                                  "Published Name: oem7.inf\nOriginal Name: tolvekidd.inf\n"),
              "oem3.inf");
}

TEST(PublishedName, file_name_case_is_ignored_and_the_published_name_keeps_its_case)
{
    EXPECT_EQ(find_published_name("Published Name: OEM12.INF\r\nOriginal Name: TOLVEKIDD.INF"),
              "OEM12.INF");
    EXPECT_EQ(find_published_name("Published Name: Oem5.Inf\nOriginal Name: TolvekIdd.inf"),
              "Oem5.Inf");
}

TEST(PublishedName, only_oem_digits_inf_words_qualify)
{
    const auto in_entry = [](std::string_view words) {
        return find_published_name("Original Name: tolvekidd.inf " + std::string{words});
    };
    EXPECT_EQ(in_entry("oem.inf"), "oem.inf");
    EXPECT_EQ(in_entry("oem12a.inf oem12.infx xoem1.inf oem1.in oem-1.inf"), std::nullopt);
    EXPECT_EQ(in_entry("oem12a.inf oem12.infx oem4.inf"), "oem4.inf");
    // Words are cut at anything but letters, digits and dots.
    EXPECT_EQ(in_entry("(oem9.inf)"), "oem9.inf");
    EXPECT_EQ(in_entry("\xC3\xA9oem8.inf\xC3\xA9"), "oem8.inf");
}

TEST(PublishedName, a_matching_entry_without_published_name_ends_the_search)
{
    EXPECT_EQ(find_published_name("Original Name: tolvekidd.inf\r\n\r\n"
                                  "Published Name: oem13.inf\r\nOriginal Name: tolvekidd.inf"),
              std::nullopt);
}

TEST(PublishedName, a_listing_without_the_package_gives_nothing)
{
    EXPECT_EQ(find_published_name(""), std::nullopt);
    EXPECT_EQ(find_published_name("Published Name: oem1.inf\r\nOriginal Name: tolvek.inf"),
              std::nullopt);
    EXPECT_EQ(find_published_name("tolvekidd.in f oem1.inf"), std::nullopt);
}

} // namespace
} // namespace tolvek
