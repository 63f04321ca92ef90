// The frame reader against a section in plain memory, written by the project's own
// publisher: opening and its throttle, header checks, the slot sequence protocol, freshness,
// buffer sizes, and a writer publishing as fast as it can while samples are filled.

#include "frame_reader.h"

#include "frame_patterns.h"
#include "frame_publisher.h"
#include "frame_section_layout.h"
#include "in_memory_section.h"
#include "shared_memory.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::InMemorySection;

const MonotonicTime kStart = MonotonicTime{} + 10s;
constexpr auto kSentinel = std::byte{0xAB};

class FrameReaderTest : public ::testing::Test {
protected:
    void publish_pattern(std::uint32_t pattern)
    {
        publisher.publish_with(
            [&](FramePixels pixels) { testing::draw_pattern(pixels.data(), pattern); });
    }

    std::atomic_ref<std::uint32_t> header_word(std::size_t offset)
    {
        return shared_field<std::uint32_t>(section.base(), offset);
    }

    std::uint32_t latest_slot() { return header_word(kLatestSlotOffset).load(); }

    FilledSample fill(MonotonicTime now)
    {
        return reader.fill_sample(sample.data(), sample.size(), now);
    }

    InMemorySection section{kFrameSectionSize};
    FramePublisher publisher{section.base()};
    FrameReader reader{section.opener(), kStart};
    std::vector<std::byte> sample = std::vector<std::byte>(kFrameSize, kSentinel);
};

TEST_F(FrameReaderTest, the_sample_that_opens_the_section_already_carries_the_newest_frame)
{
    publish_pattern(7);

    const FilledSample filled = fill(kStart);

    EXPECT_EQ(filled.content, SampleContent::frame);
    EXPECT_EQ(filled.data_length, kFrameSize);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 7));
    EXPECT_TRUE(reader.is_open());
}

TEST_F(FrameReaderTest, each_sample_carries_the_frame_published_last)
{
    for (std::uint32_t pattern = 1; pattern <= 4; ++pattern) {
        publish_pattern(pattern);
        ASSERT_EQ(fill(kStart + pattern * 10ms).content, SampleContent::frame);
        EXPECT_TRUE(testing::is_whole_pattern(sample.data(), pattern)) << pattern;
    }
}

TEST_F(FrameReaderTest, an_absent_section_gives_the_fill_colour_and_is_tried_at_most_every_500ms)
{
    section.set_available(false);

    EXPECT_EQ(fill(kStart).content, SampleContent::fill_no_section);
    EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));
    EXPECT_EQ(fill(kStart + 499ms).content, SampleContent::fill_no_section);
    EXPECT_EQ(section.open_attempts(), 1);

    EXPECT_EQ(fill(kStart + 500ms).content, SampleContent::fill_no_section);
    EXPECT_EQ(section.open_attempts(), 2);

    // The producer appears: the next allowed attempt opens it and delivers at once.
    section.set_available(true);
    publish_pattern(3);
    EXPECT_EQ(fill(kStart + 999ms).content, SampleContent::fill_no_section);
    EXPECT_EQ(fill(kStart + 1000ms).content, SampleContent::frame);
    EXPECT_EQ(section.open_attempts(), 3);
}

TEST_F(FrameReaderTest, a_wrong_magic_or_version_is_treated_as_absent_and_unmapped_again)
{
    publish_pattern(1);
    header_word(kFrameMagicOffset).store(0x3156'4B55);
    EXPECT_EQ(fill(kStart).content, SampleContent::fill_no_section);
    EXPECT_EQ(section.live_views(), 0);
    EXPECT_FALSE(reader.is_open());

    header_word(kFrameMagicOffset).store(kFrameSectionMagic);
    header_word(kFrameVersionOffset).store(2);
    EXPECT_EQ(fill(kStart + 500ms).content, SampleContent::fill_no_section);
    EXPECT_EQ(section.live_views(), 0);
    EXPECT_EQ(section.open_attempts(), 2);

    header_word(kFrameVersionOffset).store(kFrameSectionVersion);
    EXPECT_EQ(fill(kStart + 600ms).content, SampleContent::fill_no_section) << "throttled";
    EXPECT_EQ(fill(kStart + 1000ms).content, SampleContent::frame);
    EXPECT_EQ(section.live_views(), 1);
}

TEST_F(FrameReaderTest, an_open_section_is_not_checked_again)
{
    publish_pattern(1);
    ASSERT_EQ(fill(kStart).content, SampleContent::frame);

    header_word(kFrameMagicOffset).store(0);
    publish_pattern(2);

    EXPECT_EQ(fill(kStart + 10ms).content, SampleContent::frame);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 2));
    EXPECT_EQ(section.open_attempts(), 1);
}

TEST_F(FrameReaderTest, nothing_published_yet_gives_the_fill_colour)
{
    const FilledSample filled = fill(kStart);

    EXPECT_EQ(filled.content, SampleContent::fill_nothing_published);
    EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));
    EXPECT_TRUE(reader.is_open());
}

TEST_F(FrameReaderTest, a_latest_slot_beyond_the_third_gives_the_fill_colour)
{
    publish_pattern(1);
    header_word(kLatestSlotOffset).store(3);

    EXPECT_EQ(fill(kStart).content, SampleContent::fill_bad_latest_slot);
    EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));
}

TEST_F(FrameReaderTest, a_slot_kept_odd_by_its_writer_gives_the_fill_colour_on_every_sample)
{
    publish_pattern(1);
    header_word(slot_sequence_offset(latest_slot())).fetch_add(1);

    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(fill(kStart + attempt * 33ms).content, SampleContent::fill_slot_busy);
        EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));
    }
    // The writer finishes: the frame returns at once.
    header_word(slot_sequence_offset(latest_slot())).fetch_add(1);
    EXPECT_EQ(fill(kStart + 99ms).content, SampleContent::frame);
}

TEST_F(FrameReaderTest, an_unchanged_frame_is_repeated_for_just_under_100ms_then_filled)
{
    publish_pattern(5);
    ASSERT_EQ(fill(kStart).content, SampleContent::frame);

    EXPECT_EQ(fill(kStart + 99ms).content, SampleContent::frame);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 5));
    EXPECT_EQ(fill(kStart + 100ms).content, SampleContent::fill_stale);
    EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));
    EXPECT_EQ(fill(kStart + 250ms).content, SampleContent::fill_stale);

    publish_pattern(6);
    EXPECT_EQ(fill(kStart + 300ms).content, SampleContent::frame) << "a new frame returns at once";
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 6));
    EXPECT_EQ(fill(kStart + 399ms).content, SampleContent::frame);
    EXPECT_EQ(fill(kStart + 400ms).content, SampleContent::fill_stale);
}

TEST_F(FrameReaderTest, a_clock_that_goes_back_counts_as_no_time_passed)
{
    publish_pattern(1);
    ASSERT_EQ(fill(kStart).content, SampleContent::frame);

    EXPECT_EQ(fill(kStart - 5s).content, SampleContent::frame);
}

TEST_F(FrameReaderTest, a_buffer_one_byte_short_of_a_frame_gets_whole_pixels_of_fill_colour)
{
    publish_pattern(1);
    sample.assign(kFrameSize - 1, kSentinel);

    const FilledSample filled = fill(kStart);

    EXPECT_EQ(filled.content, SampleContent::fill_small_buffer);
    EXPECT_EQ(filled.data_length, 3'686'399u);
    EXPECT_TRUE(testing::is_fill_colour(sample.data(), 921'599));
    EXPECT_EQ(sample[kFrameSize - 4], kSentinel);
    EXPECT_EQ(sample[kFrameSize - 3], kSentinel);
    EXPECT_EQ(sample[kFrameSize - 2], kSentinel);
}

TEST_F(FrameReaderTest, tiny_and_empty_buffers_are_filled_without_overrun)
{
    section.set_available(false);
    for (const std::size_t size : {0u, 3u, 5u, 19u}) {
        std::vector<std::byte> tiny(size + 1, kSentinel);
        const FilledSample filled =
            reader.fill_sample(tiny.data(), size, kStart + size * 1s); // open attempts allowed
        EXPECT_EQ(filled.data_length, size);
        EXPECT_TRUE(testing::is_fill_colour(tiny.data(), size / 4)) << size;
        for (std::size_t index = size / 4 * 4; index <= size; ++index) {
            EXPECT_EQ(tiny[index], kSentinel) << size << " " << index;
        }
    }
}

TEST_F(FrameReaderTest, a_buffer_larger_than_a_frame_gets_the_frame_at_its_start_and_no_more)
{
    publish_pattern(9);
    sample.assign(kFrameSize + 100, kSentinel);

    const FilledSample filled = fill(kStart);

    EXPECT_EQ(filled.content, SampleContent::frame);
    EXPECT_EQ(filled.data_length, kFrameSize);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 9));
    for (std::size_t index = kFrameSize; index < sample.size(); ++index) {
        ASSERT_EQ(sample[index], kSentinel) << index;
    }
}

TEST_F(FrameReaderTest, closing_unmaps_the_view)
{
    publish_pattern(1);
    ASSERT_EQ(fill(kStart).content, SampleContent::frame);
    ASSERT_EQ(section.live_views(), 1);

    reader.close();

    EXPECT_EQ(section.live_views(), 0);
    EXPECT_FALSE(reader.is_open());
}

// Fills samples while a writer thread publishes as fast as it can, and sorts every sample:
// one whole frame, the fill colour, or torn (parts of two frames, or a shifted copy).
class TornFrameStress : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPatterns = 5; // prime to the three slots

    struct Tally {
        int whole = 0;
        int busy = 0;
        int torn = 0;
        int changes = 0; // samples whose picture differs from the one before
    };

    TornFrameStress()
    {
        for (std::uint32_t pattern = 0; pattern < kPatterns; ++pattern) {
            frames.push_back(testing::pattern_frame(pattern));
        }
        fill_with_fill_colour(fill_frame.data(), fill_frame.size());
        publisher.publish(ConstFramePixels(frames[0].data(), kFrameSize));
    }

    template <class PublishOne>
    Tally fill_samples_while(int samples, PublishOne publish_one)
    {
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            for (std::uint32_t frame = 1; !stop.load(std::memory_order_relaxed); ++frame) {
                publish_one(ConstFramePixels(frames[frame % kPatterns].data(), kFrameSize));
            }
        });
        // The time stands still, so that no sample is stale: only the writer decides.
        FrameReader reader{section.opener(), kStart};
        std::vector<std::byte> sample(kFrameSize);
        Tally tally;
        std::uint32_t previous = kPatterns;
        for (int index = 0; index < samples; ++index) {
            const FilledSample filled = reader.fill_sample(sample.data(), sample.size(), kStart);
            if (filled.content != SampleContent::frame) {
                const bool fill_colour =
                    testing::same_bytes(sample.data(), fill_frame.data(), kFrameSize);
                tally.busy += filled.content == SampleContent::fill_slot_busy && fill_colour;
                tally.torn += !fill_colour;
                continue;
            }
            const std::uint32_t pattern = testing::pattern_named_by(sample.data());
            if (pattern < kPatterns &&
                testing::same_bytes(sample.data(), frames[pattern].data(), kFrameSize)) {
                ++tally.whole;
                tally.changes += pattern != previous;
                previous = pattern;
            } else {
                ++tally.torn;
            }
        }
        stop = true;
        writer.join();
        std::printf("samples %d: whole frames %d, fill colour after four busy attempts %d, torn "
                    "%d; frames published %llu, picture changes seen %d\n",
                    samples, tally.whole, tally.busy, tally.torn,
                    static_cast<unsigned long long>(publisher.frame_counter()), tally.changes);
        return tally;
    }

    std::vector<std::vector<std::byte>> frames;
    std::vector<std::byte> fill_frame = std::vector<std::byte>(kFrameSize);
    InMemorySection section{kFrameSectionSize};
    FramePublisher publisher{section.base()};
};

TEST_F(TornFrameStress, samples_filled_while_the_publisher_writes_are_never_torn)
{
    const Tally tally =
        fill_samples_while(10'000, [&](ConstFramePixels pixels) { publisher.publish(pixels); });

    EXPECT_EQ(tally.torn, 0);
    EXPECT_EQ(tally.whole + tally.busy, 10'000);
    EXPECT_GT(tally.changes, 100) << "the writer must publish while samples are taken";
}

// A writer that breaks the rules and rewrites the very slot readers copy: tears now happen
// all the time, and only the sequence check keeps them out of the samples.
TEST_F(TornFrameStress, a_writer_rewriting_the_latest_slot_in_place_never_gets_a_torn_frame_through)
{
    std::byte* section_base = section.base();
    const std::uint32_t slot = shared_field<std::uint32_t>(section_base, kLatestSlotOffset).load();
    auto sequence = shared_field<std::uint32_t>(section_base, slot_sequence_offset(slot));
    auto counter = shared_field<std::uint64_t>(section_base, kFrameCounterOffset);

    const Tally tally = fill_samples_while(1'000, [&](ConstFramePixels pixels) {
        sequence.store(sequence.load() + 1, std::memory_order_relaxed);
        fence_before_racy_write();
        std::memcpy(section_base + slot_pixels_offset(slot), pixels.data(), kFrameSize);
        sequence.store(sequence.load() + 1, std::memory_order_release);
        counter.store(counter.load() + 1, std::memory_order_release);
    });

    EXPECT_EQ(tally.torn, 0);
    EXPECT_GT(tally.busy, 0) << "the rogue writer must have been met inside the slot";
}

} // namespace
} // namespace tolvek::vcam
