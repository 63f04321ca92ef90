// tolvek-vcam-pattern as a user runs it, under Wine: its exits and error lines, Ctrl+C, and
// its pictures streaming through the registered camera in Wine's real DirectShow graph, read
// back from the captured samples. Wine's graph starts streaming about 200 ms after Run, so
// every wait is on a condition with a deadline.

#include <wincodec.h>

#include "camera_graph_win.h"
#include "class_id_win.h"
#include "feed_process_win.h"
#include "frame_canvas.h"
#include "frame_patterns.h"
#include "frame_producer_win.h"
#include "frame_section_layout.h"
#include "pattern_picture.h"
#include "picture_files_win.h"
#include "producer_process_win.h"
#include "shared_memory.h"
#include "shared_sections_win.h"
#include "support/test_environment_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::CaptureGraph;
using testing::FeedProcess;
using testing::GrabbedSample;
using testing::SampleRecorder;
using testing::SharedConsole;
using Picture = GrabbedSample::Picture;

constexpr auto kLimit = 20s; // far beyond Wine's start of a process or a graph
// Long enough for any test; a feed that a failed test leaves behind ends by itself.
const std::wstring kSafetySeconds = L"120";

std::wstring feed_program()
{
    return L"\"" + testing::beside_this_program(L"tolvek-vcam-pattern.exe") + L"\"";
}

// The feed's frame number in a captured sample.
Picture read_feed_picture(const std::byte* data, long length, std::uint32_t& number)
{
    if (length != static_cast<long>(kFrameSize)) {
        return Picture::other;
    }
    if (testing::is_fill_colour(data, kFrameSize / kBytesPerPixel)) {
        return Picture::fill_colour;
    }
    const std::optional<std::uint64_t> read = read_frame_number(ConstFramePixels(data, kFrameSize));
    if (!read) {
        return Picture::other;
    }
    number = static_cast<std::uint32_t>(*read);
    return Picture::numbered;
}

std::size_t count_of(const std::vector<GrabbedSample>& samples, Picture picture)
{
    return static_cast<std::size_t>(
        std::count_if(samples.begin(), samples.end(),
                      [&](const GrabbedSample& sample) { return sample.picture == picture; }));
}

std::uint64_t frame_counter_of(const SectionView& frame_section)
{
    return load_shared<std::uint64_t>(frame_section.base(), kFrameCounterOffset,
                                      std::memory_order_acquire);
}

class PatternFeedWin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(registration_.error(), ""); }

    // The camera as a host that knows its class id gets it, in a capture graph.
    void build_graph(SampleRecorder* recorder)
    {
        ComPtr<IBaseFilter> camera;
        ASSERT_EQ(CoCreateInstance(CLSID_VirtualCamera, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, camera.put_void()),
                  S_OK);
        ASSERT_EQ(graph_.build(camera, recorder, testing::GraphClock::graph_default), S_OK);
    }

    testing::ComApartment apartment_;
    testing::ScopedCameraRegistration registration_;
    CaptureGraph graph_;
};

TEST_F(PatternFeedWin, it_ends_by_itself_after_the_given_seconds)
{
    const auto outcome = tolvek::testing::run_process(feed_program() + L" --seconds 1", kLimit);

    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->exit_code, 0u);
    EXPECT_EQ(outcome->standard_output,
              "feeding Tolvek Camera with the test pattern while somebody watches; it ends after "
              "1 s or on Ctrl+C\n"
              "nobody watching\n"
              "stopped after publishing 0 frames\n");
    EXPECT_EQ(outcome->standard_error, "");
}

TEST_F(PatternFeedWin, a_failure_is_one_line_on_standard_error_and_exit_code_1)
{
    struct Case {
        std::wstring arguments;
        std::string line_start;
    };
    const std::vector<Case> cases{
        {L"--seconds 0", "--seconds needs a whole number"},
        {L"--image C:\\no\\such\\picture.png", "the image cannot be read: "},
        {L"--seconds 5", "the camera cannot be fed: another producer is running"},
    };
    std::unique_ptr<FrameProducer> first;
    for (const Case& c : cases) {
        if (&c == &cases.back()) {
            ASSERT_EQ(FrameProducer::create(first), S_OK);
        }
        const auto outcome =
            tolvek::testing::run_process(feed_program() + L" " + c.arguments, kLimit);

        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->exit_code, 1u) << c.line_start;
        EXPECT_EQ(outcome->standard_output, "") << c.line_start;
        EXPECT_EQ(outcome->standard_error.rfind(c.line_start, 0), 0u) << outcome->standard_error;
        EXPECT_EQ(std::count(outcome->standard_error.begin(), outcome->standard_error.end(), '\n'),
                  1)
            << outcome->standard_error;
        EXPECT_EQ(outcome->standard_error.back(), '\n');
    }
}

TEST_F(PatternFeedWin, ctrl_c_ends_it_with_exit_code_0)
{
    const SharedConsole console;
    ASSERT_TRUE(console.ready());
    FeedProcess feed({});
    ASSERT_TRUE(feed.wait_for_line("nobody watching", 1, kLimit)) << feed.error_output();

    ASSERT_TRUE(console.press_ctrl_c());

    EXPECT_EQ(feed.wait_for_exit(kLimit), 0u);
    EXPECT_TRUE(feed.wait_for_line("stopped after publishing 0 frames", 1, kLimit));
    EXPECT_EQ(feed.error_output(), "");
}

// The feed publishes only while the camera streams, and its frame numbers come through the
// camera, the Smart Tee and the Sample Grabber whole and in order.
TEST_F(PatternFeedWin, the_test_pattern_streams_through_a_capture_graph_numbered_in_order)
{
    const SharedConsole console;
    ASSERT_TRUE(console.ready());
    FeedProcess feed({L"--seconds", kSafetySeconds});
    ASSERT_TRUE(feed.wait_for_line("nobody watching", 1, kLimit)) << feed.error_output();
    const std::unique_ptr<SectionView> frame_section = open_frame_section();
    ASSERT_NE(frame_section, nullptr);
    const std::uint64_t counter_before = frame_counter_of(*frame_section);

    auto recorder = SampleRecorder::create(SampleRecorder::PictureReader(read_feed_picture));
    build_graph(recorder.get());
    ASSERT_TRUE(SUCCEEDED(graph_.control->Run()));
    ASSERT_TRUE(recorder->wait_until(
        [](const auto& samples) { return count_of(samples, Picture::numbered) >= 15; }, kLimit))
        << recorder->count() << " samples";
    EXPECT_TRUE(feed.wait_for_line("1 viewer watching", 1, kLimit));
    ASSERT_EQ(graph_.control->Stop(), S_OK);
    ASSERT_TRUE(feed.wait_for_line("nobody watching", 2, kLimit)) << "the camera has gone";
    const std::uint64_t counter_when_left = frame_counter_of(*frame_section);
    ASSERT_TRUE(console.press_ctrl_c());
    ASSERT_EQ(feed.wait_for_exit(kLimit), 0u);

    EXPECT_EQ(frame_counter_of(*frame_section), counter_when_left)
        << "nothing is published while nobody watches";
    const std::vector<GrabbedSample> samples = recorder->samples();
    EXPECT_EQ(count_of(samples, Picture::other), 0u) << "every picture whole and readable";
    std::vector<std::uint32_t> numbers;
    for (const GrabbedSample& sample : samples) {
        if (sample.picture == Picture::numbered) {
            numbers.push_back(sample.number);
        }
    }
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_GE(std::set<std::uint32_t>(numbers.begin(), numbers.end()).size(), 10u);
    EXPECT_LT(numbers.front(), 30u) << "frames are counted from the first one a camera watched";
    const std::uint64_t published = counter_when_left - counter_before;
    EXPECT_LT(numbers.back(), published);
    const std::vector<std::string> lines = feed.output_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "stopped after publishing " + std::to_string(published) + " frames");
}

TEST_F(PatternFeedWin, a_still_picture_is_shown_whole)
{
    tolvek::testing::ScopedTempDir folder;
    const testing::TopDownPicture picture = testing::varied_picture();
    ASSERT_EQ(testing::write_encoded_picture(folder.path() / L"still.png", GUID_ContainerFormatPng,
                                             picture),
              S_OK);
    std::vector<std::byte> expected(kFrameSize);
    store_top_down_picture(reinterpret_cast<const std::byte*>(picture.pixels.data()), kFrameStride,
                           FramePixels(expected.data(), kFrameSize));

    const SharedConsole console;
    ASSERT_TRUE(console.ready());
    FeedProcess feed(
        {L"--image", (folder.path() / L"still.png").native(), L"--seconds", kSafetySeconds});
    ASSERT_TRUE(feed.wait_for_line("nobody watching", 1, kLimit)) << feed.error_output();
    auto recorder = SampleRecorder::create(
        SampleRecorder::PictureReader([&](const std::byte* data, long length, std::uint32_t&) {
            if (length == static_cast<long>(kFrameSize) &&
                testing::same_bytes(data, expected.data(), kFrameSize)) {
                return Picture::matching;
            }
            return testing::is_fill_colour(data, kFrameSize / kBytesPerPixel) ? Picture::fill_colour
                                                                              : Picture::other;
        }));
    build_graph(recorder.get());
    ASSERT_TRUE(SUCCEEDED(graph_.control->Run()));
    ASSERT_TRUE(recorder->wait_until(
        [](const auto& samples) { return count_of(samples, Picture::matching) >= 5; }, kLimit))
        << recorder->count() << " samples";
    ASSERT_EQ(graph_.control->Stop(), S_OK);
    ASSERT_TRUE(console.press_ctrl_c());
    EXPECT_EQ(feed.wait_for_exit(kLimit), 0u);

    EXPECT_EQ(count_of(recorder->samples(), Picture::other), 0u);
}

} // namespace
} // namespace tolvek::vcam
