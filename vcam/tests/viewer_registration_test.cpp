// The camera's viewer registration against a record in plain memory that the project's own
// viewer table created: claiming, heartbeats, losing the slot, racing claimants, release.

#include "viewer_registration.h"

#include "in_memory_section.h"
#include "shared_memory.h"
#include "viewer_section_layout.h"
#include "viewer_table.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace tolvek::vcam {
namespace {

using testing::InMemorySection;

constexpr std::uint64_t kNow = 1'000'000;

class ViewerRegistrationTest : public ::testing::Test {
protected:
    std::atomic_ref<std::uint64_t> owner(std::uint32_t slot)
    {
        return shared_field<std::uint64_t>(record.base(), viewer_slot_owner_offset(slot));
    }
    std::atomic_ref<std::uint64_t> heartbeat(std::uint32_t slot)
    {
        return shared_field<std::uint64_t>(record.base(), viewer_slot_heartbeat_offset(slot));
    }
    std::uint64_t id_counter()
    {
        return shared_field<std::uint64_t>(record.base(), kViewerIdCounterOffset).load();
    }

    InMemorySection record{kViewerSectionSize};
    ViewerTable table{record.base()};
};

TEST_F(ViewerRegistrationTest, the_first_refresh_claims_the_first_free_slot_with_a_new_id)
{
    owner(0).store(42);
    ViewerRegistration registration{record.opener()};

    registration.refresh(kNow);

    ASSERT_TRUE(registration.holds_slot());
    EXPECT_EQ(registration.slot_index(), 1u);
    EXPECT_EQ(registration.viewer_id(), 1u);
    EXPECT_EQ(owner(1).load(), 1u);
    EXPECT_EQ(heartbeat(1).load(), kNow);
}

TEST_F(ViewerRegistrationTest, a_held_slot_gets_a_heartbeat_at_every_refresh_and_nothing_else)
{
    ViewerRegistration registration{record.opener()};
    registration.refresh(kNow);

    registration.refresh(kNow + 33);
    registration.refresh(kNow + 66);

    EXPECT_EQ(heartbeat(0).load(), kNow + 66);
    EXPECT_EQ(id_counter(), 1u);
    EXPECT_EQ(record.open_attempts(), 1);
}

TEST_F(ViewerRegistrationTest, an_absent_record_is_tried_at_most_every_500ms)
{
    record.set_available(false);
    ViewerRegistration registration{record.opener()};

    registration.refresh(kNow);
    registration.refresh(kNow + 499);
    EXPECT_EQ(record.open_attempts(), 1);
    registration.refresh(kNow + 500);
    EXPECT_EQ(record.open_attempts(), 2);
    EXPECT_FALSE(registration.is_open());

    record.set_available(true);
    registration.refresh(kNow + 1000);
    EXPECT_TRUE(registration.holds_slot());
}

TEST_F(ViewerRegistrationTest, a_record_with_a_wrong_magic_or_version_is_unmapped_again)
{
    auto version = shared_field<std::uint32_t>(record.base(), kViewerVersionOffset);
    version.store(2);
    ViewerRegistration registration{record.opener()};

    registration.refresh(kNow);

    EXPECT_FALSE(registration.is_open());
    EXPECT_EQ(record.live_views(), 0);
    EXPECT_EQ(owner(0).load(), 0u);
    EXPECT_EQ(id_counter(), 0u);

    version.store(kViewerSectionVersion);
    registration.refresh(kNow + 500);
    EXPECT_TRUE(registration.holds_slot());
}

// Catches a ninth claimant that overwrites a slot, and retries faster than twice a second.
TEST_F(ViewerRegistrationTest, a_ninth_viewer_holds_no_slot_and_retries_every_500ms_with_a_new_id)
{
    std::vector<std::unique_ptr<ViewerRegistration>> viewers;
    for (int index = 0; index < 9; ++index) {
        viewers.push_back(std::make_unique<ViewerRegistration>(record.opener()));
        viewers.back()->refresh(kNow);
    }
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        EXPECT_TRUE(viewers[slot]->holds_slot());
        EXPECT_EQ(viewers[slot]->slot_index(), slot);
        EXPECT_EQ(owner(slot).load(), slot + 1);
    }
    ViewerRegistration& ninth = *viewers[8];
    EXPECT_FALSE(ninth.holds_slot());
    EXPECT_EQ(ninth.viewer_id(), 9u);

    ninth.refresh(kNow + 499);
    EXPECT_EQ(id_counter(), 9u);
    ninth.refresh(kNow + 500);
    EXPECT_EQ(ninth.viewer_id(), 10u);
    EXPECT_FALSE(ninth.holds_slot());

    viewers[3]->release();
    ninth.refresh(kNow + 1000);
    ASSERT_TRUE(ninth.holds_slot());
    EXPECT_EQ(ninth.slot_index(), 3u);
    EXPECT_EQ(owner(3).load(), 11u);
}

TEST_F(ViewerRegistrationTest, a_slot_taken_away_is_noticed_at_once_and_claimed_anew_after_500ms)
{
    ViewerRegistration registration{record.opener()};
    registration.refresh(kNow);
    ASSERT_EQ(registration.slot_index(), 0u);

    owner(0).store(0); // the producer judged the viewer dead
    registration.refresh(kNow + 100);
    EXPECT_FALSE(registration.holds_slot());
    EXPECT_EQ(id_counter(), 1u);
    EXPECT_EQ(heartbeat(0).load(), kNow) << "no heartbeat into a slot it no longer holds";

    registration.refresh(kNow + 500);
    ASSERT_TRUE(registration.holds_slot());
    EXPECT_EQ(registration.viewer_id(), 2u);
    EXPECT_EQ(owner(0).load(), 2u);
}

TEST_F(ViewerRegistrationTest, a_slot_taken_away_long_after_the_last_attempt_is_claimed_at_once)
{
    ViewerRegistration registration{record.opener()};
    registration.refresh(kNow);
    owner(0).store(77); // given to someone else

    registration.refresh(kNow + 2000);

    ASSERT_TRUE(registration.holds_slot());
    EXPECT_EQ(registration.slot_index(), 1u);
    EXPECT_EQ(owner(0).load(), 77u);
}

// An id of 0 would make the camera "hold" a slot that everybody else sees as free.
TEST_F(ViewerRegistrationTest, a_claim_that_draws_id_0_from_a_wrapped_counter_claims_nothing)
{
    shared_field<std::uint64_t>(record.base(), kViewerIdCounterOffset).store(~std::uint64_t{0});
    ViewerRegistration registration{record.opener()};

    registration.refresh(kNow);
    EXPECT_FALSE(registration.holds_slot());
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        EXPECT_EQ(owner(slot).load(), 0u) << slot;
        EXPECT_EQ(heartbeat(slot).load(), 0u) << slot;
    }

    registration.refresh(kNow + 500);
    ASSERT_TRUE(registration.holds_slot());
    EXPECT_EQ(registration.viewer_id(), 1u);
    EXPECT_EQ(owner(0).load(), 1u);
}

TEST_F(ViewerRegistrationTest, release_frees_the_own_slot_and_unmaps_the_record)
{
    ViewerRegistration registration{record.opener()};
    registration.refresh(kNow);

    registration.release();

    EXPECT_EQ(owner(0).load(), 0u);
    EXPECT_EQ(heartbeat(0).load(), kNow) << "the heartbeat is left as it was";
    EXPECT_FALSE(registration.is_open());
    EXPECT_EQ(record.live_views(), 0);
}

TEST_F(ViewerRegistrationTest, release_after_the_slot_went_to_another_id_leaves_that_slot_alone)
{
    {
        ViewerRegistration registration{record.opener()};
        registration.refresh(kNow);
        owner(0).store(0);
        owner(0).store(5); // freed by the producer, then claimed by viewer 5
    }                      // destruction releases

    EXPECT_EQ(owner(0).load(), 5u);
    EXPECT_EQ(record.live_views(), 0);
}

// Two cameras scan the same free slot at once: the compare-and-exchange lets exactly one
// have it, and the loser goes on to the next free slot in the same attempt.
TEST_F(ViewerRegistrationTest, two_viewers_racing_for_one_free_slot_end_in_two_different_slots)
{
    constexpr int kRounds = 300;
    for (int round = 0; round < kRounds; ++round) {
        for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
            owner(slot).store(slot < 6 ? 1000 + slot : 0);
        }
        ViewerRegistration first{record.opener()};
        ViewerRegistration second{record.opener()};
        std::atomic<int> ready{0};
        const auto race = [&](ViewerRegistration& registration) {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            registration.refresh(kNow);
        };
        std::thread a(race, std::ref(first));
        std::thread b(race, std::ref(second));
        a.join();
        b.join();

        ASSERT_TRUE(first.holds_slot() && second.holds_slot()) << round;
        ASSERT_NE(first.slot_index(), second.slot_index()) << round;
        ASSERT_EQ(first.slot_index() + second.slot_index(), 13u) << round; // slots 6 and 7
        ASSERT_EQ(owner(first.slot_index()).load(), first.viewer_id());
        ASSERT_EQ(owner(second.slot_index()).load(), second.viewer_id());
    }
}

} // namespace
} // namespace tolvek::vcam
