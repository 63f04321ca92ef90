// The recorder's copy of a sample, in Wine's real capture graph with the registered camera
// fed by a producer process: a copy is the whole picture of the sample it names, and a
// picture that never comes gives nothing once the time is up.

#include "sample_recorder_win.h"

#include "camera_graph_win.h"
#include "class_id_win.h"
#include "frame_patterns.h"
#include "producer_process_win.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using Picture = GrabbedSample::Picture;

TEST(SampleRecorderWin, a_capture_copies_the_next_sample_showing_the_picture_asked_for)
{
    const testing::ComApartment apartment;
    const testing::ScopedCameraRegistration registration;
    ASSERT_EQ(registration.error(), "");
    const testing::ProducerProcess producer(L"paced", 1000);
    ASSERT_TRUE(producer.wait_until_ready());
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(CoCreateInstance(CLSID_VirtualCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               camera.put_void()),
              S_OK);
    const auto recorder = SampleRecorder::create(testing::read_test_pattern);
    CaptureGraph graph;
    ASSERT_EQ(graph.build(camera, recorder.get(), GraphClock::graph_default), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));

    struct Case {
        Picture asked;
        std::chrono::milliseconds limit;
        bool comes;
    };
    const Case cases[] = {
        {Picture::numbered, 20s, true},
        {Picture::matching, 1s, false}, // this reader never says matching
    };
    for (const Case& c : cases) {
        const std::optional<CapturedFrame> captured = recorder->capture_next(c.asked, c.limit);

        ASSERT_EQ(captured.has_value(), c.comes) << static_cast<int>(c.asked);
        if (!captured) {
            continue;
        }
        EXPECT_EQ(captured->sample.picture, c.asked);
        ASSERT_EQ(captured->bytes.size(), kFrameSize);
        EXPECT_TRUE(testing::is_whole_pattern(captured->bytes.data(), captured->sample.number))
            << "the copy is picture " << captured->sample.number << ", whole";
        const std::vector<GrabbedSample> samples = recorder->samples();
        EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [&](const GrabbedSample& s) {
            return s.arrival == captured->sample.arrival && s.number == captured->sample.number;
        })) << "the copy is of a sample the recorder recorded";
    }
    graph.release();
}

} // namespace
} // namespace tolvek::vcam
