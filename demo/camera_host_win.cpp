// The camera as any host opens it, on the products' camera host: the system device
// enumerator lists the video input devices, the one named "Tolvek Camera" is bound from its
// moniker and connected by the Capture Graph Builder to a Sample Grabber and a Null Renderer,
// all of them Wine's own. tolvek-vcam-pattern feeds it meanwhile; its frame numbers are read
// back from the pictures' digits, so a torn, shifted or stale copy never passes for one.
// One frame is saved as a PNG file and read back. Then the feed goes, after which the camera
// must show its fill colour.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "camera_format.h"
#include "capture_graph_win.h"
#include "delivered_frame.h"
#include "demo_steps.h"
#include "pattern_picture.h"
#include "picture_writer_win.h"
#include "sample_recorder_win.h"
#include "still_picture_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"
#include "video_input_devices_win.h"

namespace tolvek::demo {
namespace {

using namespace std::chrono_literals;
using vcam::CaptureGraph;
using vcam::ComPtr;
using vcam::GrabbedSample;
using vcam::SampleRecorder;
using Picture = GrabbedSample::Picture;

constexpr auto kStreamingTime = 2s;
// Wine's graph starts streaming about 200 ms after Run, and the feed looks four times a
// second whether somebody watches.
constexpr auto kFirstPictureLimit = 10s;
constexpr auto kCaptureLimit = 5s;
// The script ends the feed on kFeedMayGoLine; a camera repeats a frame for just under 100 ms.
constexpr auto kFillLimit = 15s;
constexpr std::size_t kFillFramesToSee = 10;
// The first samples wait in the renderer for Wine's clock, so the rate is measured after
// the first half second.
constexpr auto kRateSettling = 500ms;

// Tells the feed's numbered test picture, the camera's fill colour and anything else apart.
Picture read_feed_picture(const std::byte* data, long length, std::uint32_t& number)
{
    if (length != static_cast<long>(vcam::kFrameSize)) {
        return Picture::other;
    }
    const vcam::ConstFramePixels frame(data, vcam::kFrameSize);
    if (vcam::shows_fill_colour(frame)) {
        return Picture::fill_colour;
    }
    const std::optional<std::uint64_t> read = vcam::read_frame_number(frame);
    if (!read) {
        return Picture::other;
    }
    number = static_cast<std::uint32_t>(*read);
    return Picture::numbered;
}

std::size_t count_of(std::vector<GrabbedSample>::const_iterator first,
                     std::vector<GrabbedSample>::const_iterator last, Picture picture)
{
    return static_cast<std::size_t>(
        std::count_if(first, last, [&](const GrabbedSample& s) { return s.picture == picture; }));
}

// The camera's filter, found among the video input devices by its name.
ComPtr<IBaseFilter> find_camera(Account& account)
{
    vcam::VideoInputDevices devices;
    const HRESULT listed = vcam::list_video_input_devices(devices);
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
    const HRESULT bound = vcam::bind_camera(devices.camera.get(), filter);
    account.expect(SUCCEEDED(bound),
                   "the camera's moniker would not bind: " + hresult_error_text(bound));
    return filter;
}

// The output pin of `filter` that is connected (a Smart Tee has two outputs), and the pin it
// is connected to.
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

// The frames from the feed's first picture on, while the feed runs.
void report_streaming(Account& account, const std::vector<GrabbedSample>& streamed)
{
    const bool full_frames = std::all_of(streamed.begin(), streamed.end(), [](const auto& s) {
        return s.data_length == static_cast<long>(vcam::kFrameSize);
    });
    const double rate = measured_rate(streamed);
    account.line("frames received in " + seconds_text(kStreamingTime, 1) + ": " +
                 std::to_string(streamed.size()) + (full_frames ? ", each 1280 x 720 RGB32" : "") +
                 "; measured rate " + decimal_text(rate, 1) +
                 " frames a second (the camera's format says 30)");
    account.expect(full_frames, "every frame should be 1280 x 720 x 4 bytes");
    account.expect(rate > 25 && rate < 35, "the rate should be about 30 frames a second");

    std::set<std::uint32_t> numbers;
    bool never_older = true;
    std::uint32_t newest = 0;
    for (const GrabbedSample& sample : streamed) {
        if (sample.picture == Picture::numbered) {
            numbers.insert(sample.number);
            never_older = never_older && sample.number >= newest;
            newest = std::max(newest, sample.number);
        }
    }
    const std::size_t pictures = count_of(streamed.begin(), streamed.end(), Picture::numbered);
    const std::size_t fill = count_of(streamed.begin(), streamed.end(), Picture::fill_colour);
    const std::size_t other = count_of(streamed.begin(), streamed.end(), Picture::other);
    account.line(std::to_string(pictures) + " of " + std::to_string(streamed.size()) +
                 " frames carry the feed's test picture whole" +
                 (numbers.empty()
                      ? std::string{}
                      : ": frame numbers " + std::to_string(*numbers.begin()) + " to " +
                            std::to_string(*numbers.rbegin()) + " read from their digits, " +
                            std::to_string(numbers.size()) + " different" +
                            (never_older ? ", never an older one after a newer" : "")));
    if (fill > 0) {
        account.line(std::to_string(fill) + " frames show the fill colour: the feed fell behind");
    }
    account.expect(other == 0, std::to_string(other) +
                                   " frames are neither a whole picture nor the fill colour");
    account.expect(pictures * 10 >= streamed.size() * 9 && !numbers.empty() && never_older,
                   "the frames should carry the feed's pictures, newest last");
}

// Saves the next frame that shows the feed's picture and reads the file back as a picture.
void save_one_frame(Account& account, SampleRecorder& recorder, std::u16string_view path)
{
    const std::string shown_path = utf16_to_utf8_lossy(path);
    const std::optional<vcam::CapturedFrame> captured =
        recorder.capture_next(Picture::numbered, kCaptureLimit);
    if (!account.expect(captured && captured->bytes.size() == vcam::kFrameSize,
                        "no frame of the feed came to be saved within " +
                            seconds_text(kCaptureLimit, 0))) {
        return;
    }
    const Status saved = vcam::save_frame_as_png(
        vcam::ConstFramePixels(captured->bytes.data(), vcam::kFrameSize), path);
    if (!account.expect(saved.ok(), "frame " + std::to_string(captured->sample.number) +
                                        " would not be saved as " + shown_path + ": " +
                                        (saved ? std::string{} : saved.error().text))) {
        return;
    }
    account.line("saved frame " + std::to_string(captured->sample.number) +
                 " as a PNG: " + shown_path);
    // Read as any picture file is, the way up it is stored, and its digits read again.
    const Result<std::vector<std::byte>> read = vcam::load_still_picture(path);
    if (!account.expect(read.ok(), shown_path + " would not read back: " +
                                       (read ? std::string{} : read.error().text))) {
        return;
    }
    const std::uint64_t number =
        vcam::read_frame_number(vcam::ConstFramePixels(read.value().data(), vcam::kFrameSize))
            .value_or(vcam::kFrameNumberModulus); // no frame number ever
    if (account.expect(number == captured->sample.number,
                       "the file should show frame " + std::to_string(captured->sample.number) +
                           " the right way up")) {
        account.detail("read back from the file: 1280 x 720, the right way up, frame number " +
                       std::to_string(captured->sample.number));
    }
}

// After kFeedMayGoLine: the feed's pictures until it has gone, then nothing but the fill
// colour.
void report_fill(Account& account, const std::vector<GrabbedSample>& after_hand_over)
{
    const auto first_fill =
        std::find_if(after_hand_over.begin(), after_hand_over.end(),
                     [](const GrabbedSample& s) { return s.picture == Picture::fill_colour; });
    if (!account.expect(first_fill != after_hand_over.end(),
                        "the camera did not show its fill colour within " +
                            seconds_text(kFillLimit, 0) + " of the feed being let go")) {
        return;
    }
    // The camera repeats the newest frame for a while: the time counts from the first time
    // the feed's last picture came.
    const auto last_picture =
        std::find_if(std::make_reverse_iterator(first_fill), after_hand_over.rend(),
                     [](const GrabbedSample& s) { return s.picture == Picture::numbered; });
    const auto last_picture_came =
        last_picture == after_hand_over.rend()
            ? after_hand_over.end()
            : std::find_if(after_hand_over.begin(), first_fill, [&](const GrabbedSample& s) {
                  return s.picture == Picture::numbered && s.number == last_picture->number;
              });
    const std::string since =
        last_picture_came == after_hand_over.end()
            ? std::string{"at once"}
            : "from " +
                  std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     first_fill->arrival - last_picture_came->arrival)
                                     .count()) +
                  " ms after the feed's last picture (frame " +
                  std::to_string(last_picture->number) + ") came on";
    account.line("after the feed had gone: the fill colour " + hex_text(vcam::kFillColour) + " " +
                 since + ", " + std::to_string(after_hand_over.end() - first_fill) +
                 " frames of it");
    account.expect(std::all_of(first_fill, after_hand_over.end(),
                               [](const auto& s) { return s.picture == Picture::fill_colour; }),
                   "once the feed has gone, nothing but the fill colour");
}

void stream(Account& account, CaptureGraph& graph, SampleRecorder& recorder,
            std::u16string_view picture_path)
{
    const HRESULT ran = graph.control->Run();
    const auto has_picture = [](const std::vector<GrabbedSample>& samples) {
        return std::any_of(samples.begin(), samples.end(),
                           [](const GrabbedSample& s) { return s.picture == Picture::numbered; });
    };
    if (!account.expect(SUCCEEDED(ran), "the graph would not run: " + hresult_error_text(ran)) ||
        !account.expect(recorder.wait_until(has_picture, kFirstPictureLimit),
                        "no picture of the feed came within " +
                            seconds_text(kFirstPictureLimit, 0) + " of Run")) {
        return;
    }
    const std::vector<GrabbedSample> before = recorder.samples();
    const auto first_picture = std::find_if(
        before.begin(), before.end(), [](const auto& s) { return s.picture == Picture::numbered; });
    const auto started = first_picture->arrival;
    const auto waited = first_picture - before.begin();
    account.line("the feed's first picture came after " + std::to_string(waited) +
                 (waited == 1 ? " frame" : " frames") +
                 " of the fill colour: the feed publishes once it sees a camera watching");

    // Streams until the feed's pictures have come for kStreamingTime.
    (void)recorder.wait_until(
        [&](const std::vector<GrabbedSample>& samples) {
            return samples.back().arrival - started >= kStreamingTime;
        },
        kStreamingTime + kFirstPictureLimit); // judged below from what came
    const std::vector<GrabbedSample> all = recorder.samples();
    const auto from = all.begin() + (first_picture - before.begin());
    report_streaming(account, {from, all.end()});
    save_one_frame(account, recorder, picture_path);

    const std::size_t at_hand_over = recorder.count();
    account.line(std::string{kFeedMayGoLine});
    (void)recorder.wait_until(
        [&](const std::vector<GrabbedSample>& samples) {
            return count_of(samples.begin() + static_cast<std::ptrdiff_t>(at_hand_over),
                            samples.end(), Picture::fill_colour) >= kFillFramesToSee;
        },
        kFillLimit); // judged below from what came
    const std::vector<GrabbedSample> after = recorder.samples();
    report_fill(account, {after.begin() + static_cast<std::ptrdiff_t>(at_hand_over), after.end()});
}

} // namespace

void run_camera_host(Account& account, std::u16string_view picture_path)
{
    const ComApartment apartment;
    const ComPtr<IBaseFilter> camera = find_camera(account);
    if (!camera) {
        return;
    }
    const auto recorder = SampleRecorder::create(read_feed_picture);
    if (!account.expect(recorder.get() != nullptr, "no memory for the sample recorder")) {
        return;
    }
    CaptureGraph graph;
    const HRESULT built = graph.build(camera, recorder.get(), vcam::GraphClock::graph_default);
    if (account.expect(SUCCEEDED(built),
                       "the graph would not build: " + hresult_error_text(built))) {
        account.line("graph, connected by the Capture Graph Builder as capture hosts do:");
        account.detail(filter_chain(camera.get()));
        stream(account, graph, *recorder.get(), picture_path);
    }
    graph.release(); // stops the graph first
    account.line("graph stopped and released");
}

} // namespace tolvek::demo
