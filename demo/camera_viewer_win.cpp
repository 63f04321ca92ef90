// The camera as any host opens it: the system device enumerator lists the video input
// devices, the one named "Tolvek Camera" is bound from its moniker and connected by the
// Capture Graph Builder to a Sample Grabber and a Null Renderer, all of them Wine's own. A
// producer process publishes numbered test pictures meanwhile (each pixel follows from the
// picture's number, so a torn or shifted copy never passes for one), then goes, after which
// the camera must show its fill colour.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "camera_format.h"
#include "camera_graph_win.h"
#include "demo_steps.h"
#include "producer_process_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::demo {
namespace {

using namespace std::chrono_literals;
using vcam::ComPtr;
using vcam::testing::CaptureGraph;
using vcam::testing::GrabbedSample;
using vcam::testing::SampleRecorder;
using Picture = GrabbedSample::Picture;

constexpr std::uint32_t kFirstPicture = 1000;
constexpr auto kStreamingTime = 2s;
constexpr auto kFirstSampleLimit = 10s; // Wine's graph starts streaming about 200 ms after Run
constexpr auto kFillLimit = 5s;         // a camera repeats a frame for just under 100 ms
constexpr std::size_t kFramesAfterStop = 10;
// The first samples wait in the renderer for Wine's clock, so the rate is measured after
// the first half second.
constexpr auto kRateSettling = 500ms;

std::size_t count_of(const std::vector<GrabbedSample>& samples, Picture picture)
{
    return static_cast<std::size_t>(
        std::count_if(samples.begin(), samples.end(),
                      [&](const GrabbedSample& s) { return s.picture == picture; }));
}

// The camera's filter, found among the video input devices by its name.
ComPtr<IBaseFilter> find_camera(Account& account)
{
    vcam::testing::VideoInputDevices devices;
    const HRESULT listed = vcam::testing::list_video_input_devices(devices);
    if (!account.expect(SUCCEEDED(listed),
                        "the video input devices would not list: " + hresult_error_text(listed))) {
        return {};
    }
    std::string names;
    for (const std::wstring& name : devices.friendly_names) {
        names += (names.empty() ? "\"" : ", \"") + utf16_to_utf8_lossy(as_utf16(name)) + "\"";
    }
    account.line("video input devices: " + (names.empty() ? std::string{"none"} : names));
    if (!account.expect(devices.camera.get() != nullptr,
                        "\"Tolvek Camera\" is not among the video input devices")) {
        return {};
    }
    ComPtr<IBaseFilter> filter;
    const HRESULT bound = vcam::testing::bind_camera(devices.camera.get(), filter);
    account.expect(SUCCEEDED(bound),
                   "the camera's moniker would not bind: " + hresult_error_text(bound));
    return filter;
}

// The output pin of `filter` that is connected, and the pin it is connected to.
bool connected_output(IBaseFilter* filter, ComPtr<IPin>& peer)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put()))) {
        return false;
    }
    for (ComPtr<IPin> pin; pins->Next(1, pin.put(), nullptr) == S_OK;) {
        PIN_DIRECTION direction{};
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
            SUCCEEDED(pin->ConnectedTo(peer.put()))) {
            return true;
        }
    }
    return false;
}

// The name under which the filter's class is registered; empty when it has none.
std::string class_name(IBaseFilter* filter)
{
    CLSID class_id{};
    wchar_t class_text[40];
    if (FAILED(filter->GetClassID(&class_id)) ||
        StringFromGUID2(class_id, class_text, std::size(class_text)) == 0) {
        return {};
    }
    const std::wstring key = std::wstring{L"CLSID\\"} + class_text;
    wchar_t name[256];
    DWORD size = sizeof name;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, name,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return utf16_to_utf8_lossy(as_utf16(name));
}

// The names of the filters the samples pass, from `first` downstream, as the graph connected
// them: "Tolvek Camera -> ... -> Null Renderer".
std::string filter_chain(IBaseFilter* first)
{
    std::string chain;
    ComPtr<IBaseFilter> filter{first};
    for (int hops = 0; filter && hops < 8; ++hops) { // a graph of this run has four at most
        FILTER_INFO info{};
        if (FAILED(filter->QueryFilterInfo(&info))) {
            break;
        }
        const ComPtr<IFilterGraph> graph = ComPtr<IFilterGraph>::adopt(info.pGraph);
        // A filter that a graph builder added is named by the builder; its class tells what it is.
        const std::string name = utf16_to_utf8_lossy(as_utf16(info.achName));
        const std::string registered = class_name(filter.get());
        chain += (chain.empty() ? "" : " -> ") + name +
                 (registered.empty() || registered == name ? "" : " (" + registered + ")");
        ComPtr<IPin> peer;
        PIN_INFO peer_info{};
        if (!connected_output(filter.get(), peer) || FAILED(peer->QueryPinInfo(&peer_info))) {
            break;
        }
        filter = ComPtr<IBaseFilter>::adopt(peer_info.pFilter);
    }
    return chain;
}

// Frames a second between the first and the last of the samples that came after the start's
// burst; 0 when there are too few.
double measured_rate(const std::vector<GrabbedSample>& samples)
{
    if (samples.empty()) {
        return 0;
    }
    const auto settled = samples.front().arrival + kRateSettling;
    const auto first = std::find_if(samples.begin(), samples.end(),
                                    [&](const GrabbedSample& s) { return s.arrival >= settled; });
    if (samples.end() - first < 2) {
        return 0;
    }
    const std::chrono::duration<double> span = samples.back().arrival - first->arrival;
    return static_cast<double>(samples.end() - first - 1) / span.count();
}

void report_streaming(Account& account, const std::vector<GrabbedSample>& samples)
{
    const bool full_frames = std::all_of(samples.begin(), samples.end(), [](const auto& s) {
        return s.data_length == static_cast<long>(vcam::kFrameSize);
    });
    const double rate = measured_rate(samples);
    account.line("frames received in " + seconds_text(kStreamingTime, 1) + ": " +
                 std::to_string(samples.size()) + (full_frames ? ", each 1280 x 720 RGB32" : "") +
                 "; measured rate " + decimal_text(rate, 1) +
                 " frames a second (the camera's format says 30)");
    account.expect(full_frames, "every frame should be 1280 x 720 x 4 bytes");
    account.expect(rate > 25 && rate < 35, "the rate should be about 30 frames a second");

    std::set<std::uint32_t> numbers;
    bool never_older = true;
    std::uint32_t newest = 0;
    for (const GrabbedSample& sample : samples) {
        if (sample.picture == Picture::numbered) {
            numbers.insert(sample.number);
            never_older = never_older && sample.number >= newest;
            newest = std::max(newest, sample.number);
        }
    }
    const std::size_t pictures = count_of(samples, Picture::numbered);
    const std::size_t fill = count_of(samples, Picture::fill_colour);
    const std::size_t other = count_of(samples, Picture::other);
    account.line(std::to_string(pictures) + " of " + std::to_string(samples.size()) +
                 " frames carry the producer's pictures whole" +
                 (numbers.empty() ? std::string{}
                                  : ": " + std::to_string(numbers.size()) + " pictures, numbers " +
                                        std::to_string(*numbers.begin()) + " to " +
                                        std::to_string(*numbers.rbegin()) +
                                        (never_older ? ", never an older one after a newer" : "")));
    if (fill > 0) {
        account.line(std::to_string(fill) +
                     " frames show the fill colour: the producer fell behind");
    }
    account.expect(other == 0, std::to_string(other) +
                                   " frames are neither a whole picture nor the fill colour");
    account.expect(pictures * 10 >= samples.size() * 9 && !numbers.empty() && never_older,
                   "the frames should carry the producer's pictures, newest last");
}

void report_fill(Account& account, const std::vector<GrabbedSample>& after_stop,
                 vcam::MonotonicTime stopped)
{
    const auto first_fill = std::find_if(after_stop.begin(), after_stop.end(), [](const auto& s) {
        return s.picture == Picture::fill_colour;
    });
    if (!account.expect(first_fill != after_stop.end(),
                        "the camera did not show its fill colour within " +
                            seconds_text(kFillLimit, 0) + " of the producer stopping")) {
        return;
    }
    const auto until_fill =
        std::chrono::duration_cast<std::chrono::milliseconds>(first_fill->arrival - stopped);
    account.line("after the producer stopped: the fill colour " + hex_text(vcam::kFillColour) +
                 " from " + std::to_string(until_fill.count()) + " ms on, " +
                 std::to_string(after_stop.end() - first_fill) + " frames of it");
    account.expect(std::all_of(first_fill, after_stop.end(),
                               [](const auto& s) { return s.picture == Picture::fill_colour; }),
                   "once the producer has gone, nothing but the fill colour");
}

// Runs the graph while the producer publishes, stops the producer and goes on until the fill
// colour shows.
void stream(Account& account, CaptureGraph& graph, SampleRecorder& recorder,
            const vcam::testing::ProducerProcess& producer)
{
    const HRESULT ran = graph.control->Run();
    if (!account.expect(SUCCEEDED(ran), "the graph would not run: " + hresult_error_text(ran)) ||
        !account.expect(
            recorder.wait_until([](const auto& s) { return !s.empty(); }, kFirstSampleLimit),
            "no frame came within " + seconds_text(kFirstSampleLimit, 0) + " of Run")) {
        return;
    }
    std::this_thread::sleep_for(kStreamingTime);
    const std::vector<GrabbedSample> streamed = recorder.samples();

    const DWORD viewers = producer.quit_and_count_viewers();
    const auto stopped = vcam::MonotonicClock::now();
    report_streaming(account, streamed);
    account.line("the producer counted " + std::to_string(viewers) +
                 (viewers == 1 ? " viewer" : " viewers") + " while the camera streamed");
    account.expect(viewers == 1, "the producer should have counted one viewer");

    const std::size_t at_stop = recorder.count();
    (void)recorder.wait_until(
        [&](const auto& s) {
            return s.size() >= at_stop + kFramesAfterStop &&
                   s.back().picture == Picture::fill_colour;
        },
        kFillLimit); // judged below from what came
    const std::vector<GrabbedSample> all = recorder.samples();
    report_fill(account, {all.begin() + static_cast<std::ptrdiff_t>(at_stop), all.end()}, stopped);
}

} // namespace

void run_camera_viewer(Account& account)
{
    const vcam::testing::ComApartment apartment;
    const vcam::testing::ProducerProcess producer(L"paced", kFirstPicture);
    if (!account.expect(producer.wait_until_ready(), "the producer did not start")) {
        return;
    }
    account.line("producer running: vcam_test_producer publishes numbered test pictures from " +
                 std::to_string(kFirstPicture) + " on, 30 a second, with tolvek_vcam_producer");

    const ComPtr<IBaseFilter> camera = find_camera(account);
    if (!camera) {
        return;
    }
    auto recorder = SampleRecorder::create(vcam::testing::read_test_pattern);
    CaptureGraph graph;
    const HRESULT built =
        graph.build(camera, recorder.get(), vcam::testing::GraphClock::graph_default);
    if (account.expect(SUCCEEDED(built),
                       "the graph would not build: " + hresult_error_text(built))) {
        account.line("graph, connected by the Capture Graph Builder as capture hosts do:");
        account.detail(filter_chain(camera.get()));
        stream(account, graph, *recorder.get(), producer);
    }
    graph.release(); // stops the graph first
    account.line("graph stopped and released");
}

} // namespace tolvek::demo
