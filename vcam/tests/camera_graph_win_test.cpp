// The registered camera in Wine's own DirectShow, as hosts meet it: listed by the system
// device enumerator, bound from its moniker or created by its class id, connected by the
// Capture Graph Builder, streaming a producer's pictures from another process, and unloaded
// by COM once everything is released. Wine's graph starts streaming about 200 ms after
// Run, so every wait is on a condition with a deadline.

#include "camera_graph_win.h"

#include "camera_registration_win.h"
#include "class_id_win.h"
#include "frame_producer_win.h"
#include "mapped_section_win.h"
#include "producer_process_win.h"
#include "viewer_section_layout.h"
#include "viewer_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::CaptureGraph;
using testing::GrabbedSample;
using testing::GraphClock;
using testing::ProducerProcess;
using testing::SampleRecorder;
using Picture = GrabbedSample::Picture;

constexpr auto kStreamingLimit = 10s; // far beyond Wine's 200 ms start

// The producer's count of streaming cameras, through the producer library's viewer table
// over a mapping of the viewer record of this process's own; it keeps the record alive
// after the producer process has gone.
class ViewerCount {
public:
    ViewerCount()
        : record_(open_mapped_section(kViewerSectionName, FILE_MAP_WRITE, kViewerSectionSize))
    {
        if (record_) {
            table_ = std::make_unique<ViewerTable>(record_->base());
        }
    }

    [[nodiscard]] bool open() const { return table_ != nullptr; }
    [[nodiscard]] std::uint32_t live() { return table_->count_live_viewers(GetTickCount64()); }

private:
    std::unique_ptr<SectionView> record_;
    std::unique_ptr<ViewerTable> table_;
};

std::size_t count_of(const std::vector<GrabbedSample>& samples, Picture picture)
{
    return static_cast<std::size_t>(
        std::count_if(samples.begin(), samples.end(),
                      [&](const GrabbedSample& s) { return s.picture == picture; }));
}

std::set<std::uint32_t> numbers_of(const std::vector<GrabbedSample>& samples)
{
    std::set<std::uint32_t> numbers;
    for (const GrabbedSample& sample : samples) {
        if (sample.picture == Picture::numbered) {
            numbers.insert(sample.number);
        }
    }
    return numbers;
}

class CameraGraphWin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(registration_.error(), "");
        ASSERT_EQ(testing::loaded_camera_module(), nullptr)
            << "a test before left the module loaded";
    }

    ComPtr<IBaseFilter> camera_from_moniker()
    {
        testing::VideoInputDevices devices;
        EXPECT_EQ(testing::list_video_input_devices(devices), S_OK);
        ComPtr<IBaseFilter> filter;
        if (devices.camera) {
            EXPECT_EQ(testing::bind_camera(devices.camera.get(), filter), S_OK);
        }
        return filter;
    }

    testing::ComApartment apartment_;
    testing::ScopedCameraRegistration registration_;
};

TEST_F(CameraGraphWin, the_registered_camera_is_listed_as_tolvek_camera_and_its_moniker_binds)
{
    testing::VideoInputDevices devices;
    ASSERT_EQ(testing::list_video_input_devices(devices), S_OK);
    EXPECT_EQ(
        std::count(devices.friendly_names.begin(), devices.friendly_names.end(), L"Tolvek Camera"),
        1);
    ASSERT_TRUE(devices.camera);

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(testing::bind_camera(devices.camera.get(), filter), S_OK);
    CLSID class_id{};
    EXPECT_EQ(filter->GetClassID(&class_id), S_OK);
    EXPECT_EQ(class_id, CLSID_VirtualCamera);
    FILTER_INFO info{};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Tolvek Camera");
    EXPECT_EQ(info.pGraph, nullptr);
}

TEST_F(CameraGraphWin, an_unregistered_camera_is_not_listed)
{
    ASSERT_TRUE(unregister_camera());
    testing::VideoInputDevices devices;
    ASSERT_EQ(testing::list_video_input_devices(devices), S_OK);
    EXPECT_FALSE(devices.camera);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(CLSID_VirtualCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter.put_void()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(CameraGraphWin, a_host_that_knows_only_the_class_id_gets_the_filter)
{
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_VirtualCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter.put_void()),
              S_OK);
    CLSID class_id{};
    EXPECT_EQ(filter->GetClassID(&class_id), S_OK);
    EXPECT_EQ(class_id, CLSID_VirtualCamera);

    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(L"Capture", pin.put()), S_OK);
}

// The whole road of a frame: producer process -> section -> camera worker -> Sample Grabber
// -> Null Renderer, with the producer's view of the viewers along the way.
TEST_F(CameraGraphWin, a_capture_graph_carries_the_producers_pictures_whole_then_the_fill_colour)
{
    ProducerProcess producer(L"paced", 1000);
    ASSERT_TRUE(producer.wait_until_ready());
    ViewerCount viewers;
    ASSERT_TRUE(viewers.open());

    auto recorder = SampleRecorder::create(testing::read_test_pattern);
    CaptureGraph graph;
    ASSERT_EQ(graph.build(camera_from_moniker(), recorder.get(), GraphClock::graph_default), S_OK);
    EXPECT_EQ(viewers.live(), 0u) << "a connected camera that does not stream is no viewer";

    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(recorder->wait_until(
        [](const auto& samples) { return numbers_of(samples).size() >= 10; }, kStreamingLimit))
        << recorder->count() << " samples, " << numbers_of(recorder->samples()).size()
        << " pictures";
    EXPECT_EQ(viewers.live(), 1u);
    EXPECT_EQ(producer.quit_and_count_viewers(), 1u) << "the producer's own count";

    // The producer has gone; its last picture goes stale within 100 ms.
    const std::size_t at_quit = recorder->count();
    ASSERT_TRUE(recorder->wait_until(
        [&](const auto& samples) {
            return samples.size() >= at_quit + 10 && samples.back().picture == Picture::fill_colour;
        },
        kStreamingLimit));
    EXPECT_EQ(viewers.live(), 1u) << "streaming the fill colour is still watching";
    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_EQ(viewers.live(), 0u);

    const std::vector<GrabbedSample> samples = recorder->samples();
    EXPECT_EQ(count_of(samples, Picture::other), 0u) << "every sample is whole";
    EXPECT_GE(numbers_of(samples).size(), 10u);
    for (std::size_t index = 0; index < samples.size(); ++index) {
        EXPECT_EQ(samples[index].data_length, static_cast<long>(kFrameSize));
        EXPECT_EQ(samples[index].start, static_cast<REFERENCE_TIME>(index) * kFrameInterval)
            << "sample " << index << ": numbered from 0 without a gap";
        EXPECT_EQ(samples[index].stop, samples[index].start + kFrameInterval);
        if (index > 0 && samples[index].picture == Picture::numbered &&
            samples[index - 1].picture == Picture::numbered) {
            EXPECT_GE(samples[index].number, samples[index - 1].number) << "never older";
        }
    }
    const auto first_fill_after_pictures = std::find_if(
        std::find_if(samples.begin(), samples.end(),
                     [](const auto& s) { return s.picture == Picture::numbered; }),
        samples.end(), [](const auto& s) { return s.picture == Picture::fill_colour; });
    EXPECT_TRUE(std::all_of(first_fill_after_pictures, samples.end(), [](const auto& s) {
        return s.picture == Picture::fill_colour;
    })) << "once the producer has gone, nothing but the fill colour";
}

TEST_F(CameraGraphWin, without_a_producer_the_graph_streams_the_fill_colour)
{
    auto recorder = SampleRecorder::create(testing::read_test_pattern);
    CaptureGraph graph;
    ASSERT_EQ(graph.build(camera_from_moniker(), recorder.get(), GraphClock::graph_default), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(recorder->wait_until([](const auto& samples) { return samples.size() >= 5; },
                                     kStreamingLimit));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    const std::vector<GrabbedSample> samples = recorder->samples();
    EXPECT_EQ(count_of(samples, Picture::fill_colour), samples.size());
}

TEST_F(CameraGraphWin, once_everything_is_released_com_unloads_the_module)
{
    {
        auto recorder = SampleRecorder::create();
        CaptureGraph graph;
        ASSERT_EQ(graph.build(camera_from_moniker(), recorder.get(), GraphClock::graph_default),
                  S_OK);
        ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
        ASSERT_TRUE(recorder->wait_until([](const auto& samples) { return samples.size() >= 3; },
                                         kStreamingLimit));
        ASSERT_NE(testing::loaded_camera_module(), nullptr);
        EXPECT_EQ(testing::camera_module_can_unload_now(), S_FALSE) << "the graph holds it";
        graph.release();
    }
    ASSERT_NE(testing::loaded_camera_module(), nullptr);
    EXPECT_EQ(testing::camera_module_can_unload_now(), S_OK);

    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(testing::loaded_camera_module(), nullptr);
}

// A Connect that fails after the downstream pin has accepted the connection must not leave
// that pin connected to the camera: it would hold a reference to the camera's pin (and so
// keep the module loaded) and refuse the next connection with VFW_E_ALREADY_CONNECTED. The
// allocator that the Sample Grabber lends refuses new properties while a consumer still
// holds one of its samples, which makes Connect fail at exactly that point.
TEST_F(CameraGraphWin, a_failed_connect_leaves_the_downstream_pin_unconnected)
{
    auto recorder = SampleRecorder::create();
    CaptureGraph graph;
    ASSERT_EQ(graph.build(camera_from_moniker(), recorder.get(), GraphClock::none,
                          testing::GraphConnection::direct),
              S_OK);
    ComPtr<IPin> camera_output;
    ComPtr<IPin> grabber_input;
    ASSERT_EQ(graph.camera_output(camera_output), S_OK);
    ASSERT_EQ(graph.camera_peer(grabber_input), S_OK);
    recorder->hold_samples(true);
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(recorder->wait_until([](const auto& samples) { return !samples.empty(); },
                                     kStreamingLimit));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    ASSERT_EQ(graph.graph->Disconnect(camera_output.get()), S_OK);
    ASSERT_EQ(graph.graph->Disconnect(grabber_input.get()), S_OK);

    EXPECT_EQ(graph.graph->ConnectDirect(camera_output.get(), grabber_input.get(), nullptr),
              VFW_E_BUFFERS_OUTSTANDING);
    ComPtr<IPin> grabber_peer;
    EXPECT_EQ(grabber_input->ConnectedTo(grabber_peer.put()), VFW_E_NOT_CONNECTED)
        << "the grabber still believes it is connected to the camera";
    grabber_peer.reset();

    recorder->release_held_samples();
    EXPECT_EQ(graph.graph->ConnectDirect(camera_output.get(), grabber_input.get(), nullptr), S_OK)
        << "once the consumer has given its samples back, connecting works again";
    graph.release();
}

} // namespace
} // namespace tolvek::vcam
