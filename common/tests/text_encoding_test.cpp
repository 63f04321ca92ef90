#include "tolvek/text_encoding.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(TextEncoding, utf16_round_trips_through_utf8_including_supplementary_characters)
{
    const std::u16string text = u"S-1-5-18 \u00e9\u4e2d\U0001F600";
    const auto utf8 = utf16_to_utf8(text);
    ASSERT_TRUE(utf8.has_value());
    EXPECT_EQ(*utf8, "S-1-5-18 \xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8_to_utf16(*utf8), text);
}

TEST(TextEncoding, unpaired_surrogates_are_not_text)
{
    EXPECT_FALSE(utf16_to_utf8(std::u16string{u'a', char16_t(0xD800)}));
    EXPECT_FALSE(utf16_to_utf8(std::u16string{char16_t(0xDC00), u'a'}));
    EXPECT_FALSE(utf16_to_utf8(std::u16string{char16_t(0xD800), u'a'}));
}

TEST(TextEncoding, lossy_utf16_conversion_replaces_only_unpaired_surrogates)
{
    EXPECT_EQ(utf16_to_utf8_lossy(u"C:\\d\u00e9p\\\U0001F600.dll"),
              "C:\\d\xC3\xA9p\\\xF0\x9F\x98\x80.dll");
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{u'a', char16_t{0xD83D}, u'b'}), "a\xEF\xBF\xBD"
                                                                                 "b");
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{u'a', char16_t{0xDE00}}), "a\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{char16_t{0xD83D}}), "\xEF\xBF\xBD");
    // A pair in the wrong order is two unpaired surrogates.
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{char16_t{0xDE00}, char16_t{0xD83D}}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TextEncoding, validity_rejects_overlong_surrogate_truncated_and_out_of_range_forms)
{
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("plain {\"op\":\"ping\"}"));
    EXPECT_TRUE(is_valid_utf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(is_valid_utf8("\xE0\x80\xAF"));     // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));     // encoded surrogate
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xE4\xB8"));         // truncated
    EXPECT_FALSE(is_valid_utf8("\xFF"));
    EXPECT_FALSE(is_valid_utf8("\x80"));
}

TEST(TextEncoding, lossy_decoding_replaces_each_maximal_invalid_part_once)
{
    EXPECT_EQ(decode_utf8_lossy("ok"), "ok");
    EXPECT_EQ(decode_utf8_lossy("a\xFF"
                                "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A truncated three-byte sequence is one replacement, and the byte after it survives.
    EXPECT_EQ(decode_utf8_lossy("\xE4\xB8z"), "\xEF\xBF\xBDz");
    EXPECT_EQ(decode_utf8_lossy("\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TextEncoding, an_argument_is_shown_on_one_plain_line)
{
    const struct {
        std::u16string argument;
        std::string shown;
    } cases[] = {
        {u"1920x1080 \u00e9\U0001F600", "1920x1080 \xC3\xA9\xF0\x9F\x98\x80"},
        {u"a\nb\rc\td", "a\xEF\xBF\xBD"
                        "b\xEF\xBF\xBD"
                        "c\xEF\xBF\xBD"
                        "d"},
        {u"\x1b[2J\x7f\x85\xa0", "\xEF\xBF\xBD[2J\xEF\xBF\xBD\xEF\xBF\xBD\xC2\xA0"},
        {std::u16string{u'a', char16_t{0xD800}}, "a\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(argument_as_shown(c.argument), c.shown);
        // The same argument as UTF-8 (where it is valid) is shown alike.
        if (const std::optional<std::string> utf8 = utf16_to_utf8(c.argument)) {
            EXPECT_EQ(argument_as_shown(std::string_view{*utf8}), c.shown);
        }
    }
}

} // namespace
} // namespace tolvek
