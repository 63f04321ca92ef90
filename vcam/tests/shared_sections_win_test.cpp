// The camera's reader and viewer registration on the real section path: OpenFileMappingW and
// MapViewOfFile against sections that another process creates with the producer library, or
// makes in shapes the library never makes (reserved pages, too small).

#include "shared_sections_win.h"

#include "frame_patterns.h"
#include "frame_producer_win.h"
#include "frame_reader.h"
#include "frame_section_layout.h"
#include "producer_process_win.h"
#include "tolvek/owners_win.h"
#include "viewer_registration.h"
#include "viewer_section_layout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::ProducerProcess;

const MonotonicTime kStart = MonotonicTime{} + 100s;

TEST(SharedSectionsWin, without_a_producer_the_camera_shows_the_fill_colour_and_stays_unregistered)
{
    EXPECT_EQ(open_frame_section(), nullptr);
    EXPECT_EQ(open_viewer_section(), nullptr);

    FrameReader reader{open_frame_section, kStart};
    std::vector<std::byte> sample(kFrameSize);
    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart).content,
              SampleContent::fill_no_section);
    EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));

    ViewerRegistration registration{open_viewer_section};
    registration.refresh(GetTickCount64());
    EXPECT_FALSE(registration.is_open());
}

TEST(SharedSectionsWin, a_frame_published_by_another_process_reaches_the_sample_until_it_is_stale)
{
    ProducerProcess producer(L"hold", 42);
    ASSERT_TRUE(producer.wait_until_ready());

    FrameReader reader{open_frame_section, kStart};
    std::vector<std::byte> sample(kFrameSize);
    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart).content,
              SampleContent::frame);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 42));

    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart + 150ms).content,
              SampleContent::fill_stale);
    EXPECT_EQ(producer.quit_and_count_viewers(), 0u);
}

TEST(SharedSectionsWin, frames_streamed_by_another_process_arrive_whole)
{
    ProducerProcess producer(L"stream", 1000);
    ASSERT_TRUE(producer.wait_until_ready());

    FrameReader reader{open_frame_section, MonotonicClock::now()};
    std::vector<std::byte> sample(kFrameSize);
    int whole = 0;
    int changes = 0;
    std::uint32_t previous = 0;
    for (int index = 0; index < 300; ++index) {
        const FilledSample filled =
            reader.fill_sample(sample.data(), sample.size(), MonotonicClock::now());
        if (filled.content != SampleContent::frame) {
            EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel));
            continue;
        }
        const std::uint32_t pattern = testing::pattern_named_by(sample.data());
        ASSERT_TRUE(testing::is_whole_pattern(sample.data(), pattern)) << "torn at " << index;
        ++whole;
        changes += pattern != previous;
        previous = pattern;
    }
    EXPECT_GT(whole, 0);
    EXPECT_GT(changes, 1) << "the producer must have published during the samples";
    EXPECT_EQ(producer.quit_and_count_viewers(), 0u);
}

TEST(SharedSectionsWin, the_producer_counts_a_registered_camera_until_it_releases_its_slot)
{
    {
        ProducerProcess producer(L"hold", 1);
        ASSERT_TRUE(producer.wait_until_ready());
        ViewerRegistration registration{open_viewer_section};
        registration.refresh(GetTickCount64());
        ASSERT_TRUE(registration.holds_slot());
        EXPECT_EQ(registration.slot_index(), 0u);
        EXPECT_EQ(registration.viewer_id(), 1u);

        EXPECT_EQ(producer.quit_and_count_viewers(), 1u);
    }
    {
        ProducerProcess producer(L"hold", 1);
        ASSERT_TRUE(producer.wait_until_ready());
        ViewerRegistration registration{open_viewer_section};
        registration.refresh(GetTickCount64());
        ASSERT_TRUE(registration.holds_slot());
        registration.release();

        EXPECT_EQ(producer.quit_and_count_viewers(), 0u);
    }
}

// A camera keeps the section alive after its producer left; the next producer must carry
// on in it, or the camera would wait for a frame counter that starts again from 0.
TEST(SharedSectionsWin, a_new_producer_carries_on_in_the_section_a_camera_kept_open)
{
    FrameReader reader{open_frame_section, kStart};
    std::vector<std::byte> sample(kFrameSize);
    {
        ProducerProcess first(L"hold", 7);
        ASSERT_TRUE(first.wait_until_ready());
        ASSERT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart).content,
                  SampleContent::frame);
        EXPECT_EQ(first.quit_and_count_viewers(), 0u);
    }
    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart + 200ms).content,
              SampleContent::fill_stale);

    ProducerProcess second(L"hold", 8);
    ASSERT_TRUE(second.wait_until_ready());
    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart + 250ms).content,
              SampleContent::frame);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 8));
    EXPECT_EQ(second.quit_and_count_viewers(), 0u);
}

// True when the section `name` still exists, that is when somebody still holds it open.
bool section_exists(const wchar_t* name)
{
    return static_cast<bool>(UniqueHandle{OpenFileMappingW(FILE_MAP_READ, FALSE, name)});
}

// Under Wine, MapViewOfFile refuses the short section (ERROR_ACCESS_DENIED) and maps the
// reserved one, which VirtualQuery reports as MEM_RESERVE past the header's page: the camera
// must refuse it itself. (Wine lets reserved pages be read; Windows raises an access
// violation, which would end the host.)
TEST(SharedSectionsWin, a_frame_section_with_reserved_pages_or_too_small_is_treated_as_absent)
{
    struct ProducerMode {
        const wchar_t* mode;
        const char* name;
    };
    for (const auto& [mode, name] :
         {ProducerMode{L"reserved", "reserved"}, ProducerMode{L"short", "short"}}) {
        {
            ProducerProcess producer(mode, 0);
            ASSERT_TRUE(producer.wait_until_ready()) << name;
            EXPECT_EQ(open_frame_section(), nullptr) << name;

            FrameReader reader{open_frame_section, kStart};
            std::vector<std::byte> sample(kFrameSize);
            EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart).content,
                      SampleContent::fill_no_section)
                << name;
            EXPECT_TRUE(testing::is_fill_colour(sample.data(), kFrameSize / kBytesPerPixel))
                << name;
            EXPECT_EQ(producer.quit_and_count_viewers(), 0u) << name;
        }
        EXPECT_FALSE(section_exists(kFrameSectionName)) << name << ": the camera kept it open";
    }
}

TEST(SharedSectionsWin, a_viewer_record_with_reserved_pages_is_treated_as_absent)
{
    {
        ProducerProcess producer(L"reserved", 0);
        ASSERT_TRUE(producer.wait_until_ready());
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(open_viewer_section(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));

        ViewerRegistration registration{open_viewer_section};
        registration.refresh(GetTickCount64());
        EXPECT_FALSE(registration.is_open());
        EXPECT_EQ(producer.quit_and_count_viewers(), 0u);
    }
    EXPECT_FALSE(section_exists(kViewerSectionName)) << "the camera kept it open";
}

TEST(SharedSectionsWin, a_camera_that_met_a_reserved_section_takes_a_proper_one_500ms_later)
{
    FrameReader reader{open_frame_section, kStart};
    std::vector<std::byte> sample(kFrameSize);
    {
        ProducerProcess reserved(L"reserved", 0);
        ASSERT_TRUE(reserved.wait_until_ready());
        ASSERT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart).content,
                  SampleContent::fill_no_section);
        EXPECT_EQ(reserved.quit_and_count_viewers(), 0u);
    }
    ProducerProcess proper(L"hold", 5);
    ASSERT_TRUE(proper.wait_until_ready());

    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart + 499ms).content,
              SampleContent::fill_no_section);
    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), kStart + 500ms).content,
              SampleContent::frame);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 5));
    EXPECT_EQ(proper.quit_and_count_viewers(), 0u);
}

// The producer library joins a section that already exists; one made with reserved pages
// would fault at its first frame, so it refuses it.
TEST(SharedSectionsWin, a_producer_refuses_a_section_made_with_reserved_pages)
{
    ProducerProcess reserved(L"reserved", 0);
    ASSERT_TRUE(reserved.wait_until_ready());

    std::unique_ptr<FrameProducer> producer;
    EXPECT_EQ(FrameProducer::create(producer), HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS));
    EXPECT_EQ(producer, nullptr);
    EXPECT_EQ(reserved.quit_and_count_viewers(), 0u);
}

} // namespace
} // namespace tolvek::vcam
