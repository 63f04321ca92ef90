// The producer's viewer table: the record it creates, and counting live viewers while
// freeing the slots of viewers whose heartbeat went stale.

#include "viewer_table.h"

#include "in_memory_section.h"
#include "shared_memory.h"
#include "viewer_registration.h"
#include "viewer_section_layout.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tolvek::vcam {
namespace {

using testing::InMemorySection;

constexpr std::uint64_t kNow = 5'000'000;

class ViewerTableTest : public ::testing::Test {
protected:
    std::atomic_ref<std::uint64_t> owner(std::uint32_t slot)
    {
        return shared_field<std::uint64_t>(record.base(), viewer_slot_owner_offset(slot));
    }
    void hold(std::uint32_t slot, std::uint64_t id, std::uint64_t heartbeat)
    {
        owner(slot).store(id);
        shared_field<std::uint64_t>(record.base(), viewer_slot_heartbeat_offset(slot))
            .store(heartbeat);
    }

    InMemorySection record{kViewerSectionSize};
};

TEST_F(ViewerTableTest, a_new_record_gets_the_header_and_free_slots)
{
    std::memset(record.base(), 0x77, kViewerSectionSize);

    ViewerTable table{record.base()};

    EXPECT_EQ(std::memcmp(record.base(), "TKVW", 4), 0);
    EXPECT_EQ(shared_field<std::uint32_t>(record.base(), kViewerVersionOffset).load(), 1u);
    EXPECT_EQ(shared_field<std::uint64_t>(record.base(), kViewerIdCounterOffset).load(), 0u);
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        EXPECT_EQ(owner(slot).load(), 0u);
    }
    EXPECT_EQ(table.count_live_viewers(kNow), 0u);
}

TEST_F(ViewerTableTest, a_record_still_in_use_is_continued)
{
    ViewerTable earlier{record.base()};
    ViewerRegistration camera{record.opener()};
    camera.refresh(kNow);

    ViewerTable later{record.base()};

    EXPECT_EQ(owner(0).load(), camera.viewer_id());
    EXPECT_EQ(later.count_live_viewers(kNow + 10), 1u);
}

TEST_F(ViewerTableTest, fresh_heartbeats_count_and_stale_slots_are_freed)
{
    ViewerTable table{record.base()};
    hold(0, 11, kNow - 10);
    hold(2, 12, kNow - ViewerTable::kDefaultStaleAfterMs + 1);
    hold(3, 13, kNow - ViewerTable::kDefaultStaleAfterMs); // silent for exactly the limit
    hold(5, 14, kNow + 5); // written after the producer took its time
    hold(7, 15, 0);

    EXPECT_EQ(table.count_live_viewers(kNow), 3u);

    EXPECT_EQ(owner(0).load(), 11u);
    EXPECT_EQ(owner(2).load(), 12u);
    EXPECT_EQ(owner(3).load(), 0u);
    EXPECT_EQ(owner(5).load(), 14u);
    EXPECT_EQ(owner(7).load(), 0u);
}

// The slot a crashed camera left behind becomes free for the next one.
TEST_F(ViewerTableTest, a_crashed_viewers_slot_goes_to_the_next_camera)
{
    ViewerTable table{record.base()};
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        hold(slot, 100 + slot, slot == 4 ? kNow - 60'000 : kNow);
    }
    ViewerRegistration camera{record.opener()};
    camera.refresh(kNow);
    ASSERT_FALSE(camera.holds_slot());

    EXPECT_EQ(table.count_live_viewers(kNow + 100, 1000), 7u);
    camera.refresh(kNow + 500);

    ASSERT_TRUE(camera.holds_slot());
    EXPECT_EQ(camera.slot_index(), 4u);
    EXPECT_EQ(table.count_live_viewers(kNow + 600, 1000), 8u);
}

} // namespace
} // namespace tolvek::vcam
