// The producer's frame publisher: the header it writes, the writer rules it follows, and how
// it continues a section that an earlier producer left behind.

#include "frame_publisher.h"

#include "frame_patterns.h"
#include "frame_section_layout.h"
#include "in_memory_section.h"
#include "shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>

namespace tolvek::vcam {
namespace {

using testing::InMemorySection;

class FramePublisherTest : public ::testing::Test {
protected:
    template <class T = std::uint32_t>
    std::atomic_ref<T> field(std::size_t offset)
    {
        return shared_field<T>(section.base(), offset);
    }
    std::uint32_t latest_slot() { return field(kLatestSlotOffset).load(); }
    std::uint32_t sequence(std::uint32_t slot) { return field(slot_sequence_offset(slot)).load(); }
    const std::byte* pixels(std::uint32_t slot)
    {
        return section.base() + slot_pixels_offset(slot);
    }
    void publish_pattern(FramePublisher& publisher, std::uint32_t pattern)
    {
        publisher.publish_with(
            [&](FramePixels frame) { testing::draw_pattern(frame.data(), pattern); });
    }

    InMemorySection section{kFrameSectionSize};
};

TEST_F(FramePublisherTest, a_new_section_gets_the_header_and_nothing_published)
{
    FramePublisher publisher{section.base()};

    EXPECT_EQ(field(kFrameMagicOffset).load(), 0x3156'4B54u);
    EXPECT_EQ(std::memcmp(section.base(), "TKV1", 4), 0);
    EXPECT_EQ(field(kFrameVersionOffset).load(), 1u);
    EXPECT_EQ(field<std::uint64_t>(kFrameCounterOffset).load(), 0u);
    EXPECT_EQ(publisher.frame_counter(), 0u);
}

TEST_F(FramePublisherTest, publishing_writes_another_slot_then_points_readers_at_it)
{
    FramePublisher publisher{section.base()};
    for (std::uint32_t pattern = 1; pattern <= 4; ++pattern) {
        const std::uint32_t before = latest_slot();
        const std::uint32_t slot = (before + 1) % kFrameSlotCount;
        const std::uint32_t sequence_before = sequence(slot);

        publish_pattern(publisher, pattern);

        EXPECT_NE(latest_slot(), before) << "the slot readers copy is never rewritten";
        EXPECT_EQ(latest_slot(), slot);
        EXPECT_EQ(sequence(slot), sequence_before + 2)
            << "odd while writing, a new even value after";
        EXPECT_TRUE(testing::is_whole_pattern(pixels(slot), pattern));
        EXPECT_EQ(publisher.frame_counter(), pattern);
    }
}

TEST_F(FramePublisherTest, publish_copies_the_given_pixels)
{
    FramePublisher publisher{section.base()};
    const auto frame = testing::pattern_frame(12);

    publisher.publish(ConstFramePixels(frame.data(), kFrameSize));

    EXPECT_EQ(std::memcmp(pixels(latest_slot()), frame.data(), kFrameSize), 0);
}

TEST_F(FramePublisherTest, a_section_of_an_earlier_producer_is_continued)
{
    {
        FramePublisher earlier{section.base()};
        for (std::uint32_t pattern = 0; pattern < 5; ++pattern) {
            publish_pattern(earlier, pattern);
        }
    }
    const std::uint32_t latest = latest_slot();

    FramePublisher later{section.base()};

    EXPECT_EQ(later.frame_counter(), 5u) << "a camera still holding the section keeps its frame";
    EXPECT_EQ(latest_slot(), latest);
    publish_pattern(later, 6);
    EXPECT_EQ(later.frame_counter(), 6u);
    EXPECT_EQ(latest_slot(), (latest + 1) % kFrameSlotCount);
}

TEST_F(FramePublisherTest, a_section_with_another_header_is_initialised)
{
    std::memset(section.base(), 0x5A, kFrameHeaderSize);

    FramePublisher publisher{section.base()};

    EXPECT_EQ(field(kFrameMagicOffset).load(), kFrameSectionMagic);
    EXPECT_EQ(publisher.frame_counter(), 0u);
    EXPECT_EQ(latest_slot(), 0u);
}

TEST_F(FramePublisherTest, the_frame_counter_skips_0_when_it_wraps)
{
    FramePublisher publisher{section.base()};
    field<std::uint64_t>(kFrameCounterOffset).store(std::numeric_limits<std::uint64_t>::max());

    publish_pattern(publisher, 1);

    EXPECT_EQ(publisher.frame_counter(), 1u);
}

// A draw that fails half-way must leave readers on the previous frame, and the slot must be
// usable again afterwards.
TEST_F(FramePublisherTest, a_frame_abandoned_half_drawn_is_never_published)
{
    FramePublisher publisher{section.base()};
    publish_pattern(publisher, 1);
    const std::uint32_t published = latest_slot();
    const std::uint32_t abandoned = (published + 1) % kFrameSlotCount;
    const std::uint32_t sequence_before = sequence(abandoned);

    EXPECT_THROW(
        publisher.publish_with([](FramePixels) { throw std::runtime_error("draw failed"); }),
        std::runtime_error);

    EXPECT_EQ(latest_slot(), published);
    EXPECT_EQ(publisher.frame_counter(), 1u);
    EXPECT_EQ(sequence(abandoned) % 2, 1u) << "readers see the slot as being written";

    publish_pattern(publisher, 2);
    EXPECT_EQ(latest_slot(), abandoned);
    EXPECT_EQ(sequence(abandoned) % 2, 0u);
    EXPECT_NE(sequence(abandoned), sequence_before);
}

} // namespace
} // namespace tolvek::vcam
