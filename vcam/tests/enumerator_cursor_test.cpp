// The two-position cursor of the camera's enumerators: what Next may hand out, and Skip's
// end without wrap-around.

#include "enumerator_cursor.h"

#include <gtest/gtest.h>

namespace tolvek::vcam {
namespace {

TEST(EnumeratorCursor, hands_out_the_one_item_once_until_reset)
{
    EnumeratorCursor cursor;
    EXPECT_EQ(cursor.available(0), 0u);
    EXPECT_EQ(cursor.available(5), 1u);
    cursor.advance(cursor.available(1));
    EXPECT_EQ(cursor.position(), 1u);
    EXPECT_EQ(cursor.available(1), 0u);
    cursor.reset();
    EXPECT_EQ(cursor.available(1), 1u);
}

TEST(EnumeratorCursor, skip_stops_at_the_end_and_says_when_it_was_cut_short)
{
    EnumeratorCursor fresh;
    EXPECT_TRUE(fresh.skip(1));
    EXPECT_EQ(fresh.position(), 1u);

    EnumeratorCursor two;
    EXPECT_FALSE(two.skip(2));
    EXPECT_EQ(two.position(), 1u);

    EnumeratorCursor at_end{1};
    EXPECT_TRUE(at_end.skip(0));
    EXPECT_EQ(at_end.position(), 1u);
    // 1 + 0xFFFFFFFF wraps to 0 in 32 bits, which would put the cursor back at the start.
    EXPECT_FALSE(at_end.skip(0xFFFF'FFFFu));
    EXPECT_EQ(at_end.position(), 1u);

    EnumeratorCursor start;
    EXPECT_TRUE(start.skip(0));
    EXPECT_EQ(start.position(), 0u);
}

} // namespace
} // namespace tolvek::vcam
