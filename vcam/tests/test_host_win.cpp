// A camera host in a process of its own, for the tests of the camera in hosts of either
// bitness and either apartment model. It finds "Tolvek Camera" through DirectShow's video
// input device category, as hosts do, streams it into a Sample Grabber and a Null Renderer
// and checks what comes. Its sample callback, which runs on the camera's streaming thread,
// creates a COM object for every sample, as a host's snapshot encoder does inside Receive,
// and checks that the thread is a member of the multithreaded apartment, as DirectShow's own
// streaming threads are.
//
//   vcam_test_host <mta|sta> <graph|pins> <pictures> <settled event> <quit event>
//
//   mta        the main thread joins the multithreaded apartment
//   sta        the main thread joins a single-threaded apartment and no thread of the host
//              joins the multithreaded one, as in a dialog-based application
//   graph      a Filter Graph Manager, connected by the Capture Graph Builder as capture
//              hosts do (RenderStream puts a Smart Tee before the grabber)
//   pins       the filters connected pin to pin and run one by one, without a Filter Graph
//              Manager. Wine's, made on a thread of a single-threaded apartment, starts a
//              thread of its own in the multithreaded apartment, which then serves every
//              other thread of the process implicitly; without it a host of single-threaded
//              apartments has no multithreaded apartment at all, as such a host on Windows.
//   pictures   how many whole producer pictures to wait for; 0: any 10 samples
//
// It sets the settled event once they have come, or once it has given up, streams on until
// the quit event is set (at most a minute), stops, and writes one line of what it saw. Exit
// code 0 when the camera was listed, streamed what was asked, carried no torn or foreign
// picture, every object creation in the callback succeeded, and every sample came on a
// member of the multithreaded apartment.

#include <windows.h>
#include <wincodec.h>

#include "camera_graph_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/owners_win.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;

constexpr DWORD kStreamingLimitMs = 20'000;
constexpr DWORD kQuitLimitMs = 60'000;
constexpr std::size_t kSamplesWithoutProducer = 10;

enum ExitCode : int {
    kStreamedAsAsked = 0,
    kBadArguments = 100,
    kNoEvents = 101,
    kCameraNotListed = 102,
    kGraphFailed = 103,
    kTooFewSamples = 104,
    kForeignPictures = 105,
    kObjectCreationFailed = 106,
    kOutsideMultithreadedApartment = 107,
};

enum class Connection { graph, pins };

std::string hex(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// The calling thread's apartment, in words; empty for a member of the multithreaded one.
std::string unless_multithreaded_member()
{
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    const HRESULT result = CoGetApartmentType(&type, &qualifier);
    if (FAILED(result)) {
        return "in no apartment (" + hex(result) + ")";
    }
    if (type != APTTYPE_MTA) {
        return "in a single-threaded apartment";
    }
    if (qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) {
        return "in the multithreaded apartment only implicitly";
    }
    return {};
}

// The Sample Grabber's callback: creates an in-process COM object that any apartment may
// create (the imaging factory a snapshot encoder starts from), notes the thread's apartment,
// records the sample, and sets `settled` once `enough` holds for the samples so far.
class ObjectCreatingCallback final
    : public ComObject<ObjectCreatingCallback, LiveObject::not_counted, ISampleGrabberCB> {
public:
    ObjectCreatingCallback(ComPtr<SampleRecorder> recorder, SampleRecorder::Condition enough,
                           HANDLE settled)
        : recorder_(std::move(recorder)), enough_(std::move(enough)), settled_(settled)
    {
    }

    // ISampleGrabberCB
    HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample* sample) override
    {
        ComPtr<IUnknown> object;
        const HRESULT created =
            CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.put_void());
        if (SUCCEEDED(created)) {
            created_.fetch_add(1);
        } else {
            HRESULT none = S_OK;
            first_failure_.compare_exchange_strong(none, created);
        }
        if (std::string apartment = unless_multithreaded_member(); !apartment.empty()) {
            if (!outside_apartment_.exchange(true)) {
                outside_apartment_words_ = std::move(apartment); // read after streaming ends
            }
        }
        recorder_->SampleCB(sample_time, sample);
        if (enough_(recorder_->samples())) {
            SetEvent(settled_);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    [[nodiscard]] long created() const noexcept { return created_.load(); }
    [[nodiscard]] HRESULT first_failure() const noexcept { return first_failure_.load(); }
    // Empty when every sample came on a member of the multithreaded apartment; else where
    // the first that did not came. Read once streaming has ended.
    [[nodiscard]] const std::string& outside_apartment() const noexcept
    {
        return outside_apartment_words_;
    }

private:
    ComPtr<SampleRecorder> recorder_;
    SampleRecorder::Condition enough_;
    HANDLE settled_;
    std::atomic<long> created_{0};
    std::atomic<HRESULT> first_failure_{S_OK};
    std::atomic<bool> outside_apartment_{false};
    std::string outside_apartment_words_;
};

// The camera, a Sample Grabber and a Null Renderer connected pin to pin, without a Filter
// Graph Manager; run and stopped filter by filter, downstream first and upstream first.
class FilterChain {
public:
    HRESULT build(const ComPtr<IBaseFilter>& camera, ISampleGrabberCB* callback)
    {
        filters_.push_back(camera);
        ComPtr<IBaseFilter> grabber;
        HRESULT result = make_sample_grabber(callback, grabber);
        ComPtr<IBaseFilter> renderer;
        if (SUCCEEDED(result)) {
            filters_.push_back(grabber);
            result = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, renderer.put_void());
        }
        if (SUCCEEDED(result)) {
            filters_.push_back(renderer);
            result = connect(camera.get(), grabber.get());
        }
        if (SUCCEEDED(result)) {
            result = connect(grabber.get(), renderer.get());
        }
        return result;
    }

    HRESULT run()
    {
        for (auto filter = filters_.rbegin(); filter != filters_.rend(); ++filter) {
            if (HRESULT result = (*filter)->Run(0); FAILED(result)) {
                return result;
            }
        }
        return S_OK;
    }

    // Stops every filter and breaks the connections, whose pins hold each other.
    void release()
    {
        for (const ComPtr<IBaseFilter>& filter : filters_) {
            filter->Stop();
        }
        for (const ComPtr<IPin>& pin : connected_) {
            pin->Disconnect();
        }
        connected_.clear();
        filters_.clear();
    }

private:
    HRESULT connect(IBaseFilter* from, IBaseFilter* to)
    {
        ComPtr<IPin> output;
        ComPtr<IPin> input;
        HRESULT result = find_pin(from, PINDIR_OUTPUT, output);
        if (SUCCEEDED(result)) {
            result = find_pin(to, PINDIR_INPUT, input);
        }
        if (SUCCEEDED(result)) {
            result = output->Connect(input.get(), nullptr);
        }
        if (SUCCEEDED(result)) {
            connected_.push_back(output);
            connected_.push_back(input);
        }
        return result;
    }

    std::vector<ComPtr<IBaseFilter>> filters_; // upstream first
    std::vector<ComPtr<IPin>> connected_;
};

// Starts the camera into `callback` the way `connection` says; `stop` ends it again.
HRESULT start_camera(Connection connection, const ComPtr<IBaseFilter>& camera,
                     ISampleGrabberCB* callback, std::function<void()>& stop)
{
    if (connection == Connection::pins) {
        auto chain = std::make_shared<FilterChain>();
        stop = [chain] { chain->release(); };
        const HRESULT built = chain->build(camera, callback);
        return SUCCEEDED(built) ? chain->run() : built;
    }
    auto graph = std::make_shared<CaptureGraph>();
    stop = [graph] { graph->release(); };
    const HRESULT built = graph->build(camera, callback, GraphClock::graph_default);
    return SUCCEEDED(built) ? graph->control->Run() : built;
}

std::size_t count_of(const std::vector<GrabbedSample>& samples, GrabbedSample::Picture picture)
{
    std::size_t count = 0;
    for (const GrabbedSample& sample : samples) {
        count += sample.picture == picture ? 1 : 0;
    }
    return count;
}

// Waits for `event` up to `limit` and, in a single-threaded apartment, dispatches the
// thread's messages meanwhile, as a window's thread must.
bool wait_dispatching(HANDLE event, DWORD limit)
{
    DWORD index = 0;
    HANDLE handles[] = {event};
    return CoWaitForMultipleHandles(0, limit, 1, handles, &index) == S_OK;
}

int report(int code, const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return code;
}

int stream_camera(Connection connection, std::size_t pictures, HANDLE settled, HANDLE quit)
{
    VideoInputDevices devices;
    if (HRESULT listed = list_video_input_devices(devices); FAILED(listed)) {
        return report(kCameraNotListed, "the video input devices were not listed: " + hex(listed));
    }
    ComPtr<IBaseFilter> camera;
    if (!devices.camera || FAILED(bind_camera(devices.camera.get(), camera))) {
        return report(kCameraNotListed, "Tolvek Camera is not listed as a video input device");
    }

    auto recorder = SampleRecorder::create(testing::read_test_pattern);
    const SampleRecorder::Condition enough = [pictures](const auto& samples) {
        return pictures == 0 ? samples.size() >= kSamplesWithoutProducer
                             : count_of(samples, GrabbedSample::Picture::numbered) >= pictures;
    };
    auto callback = ObjectCreatingCallback::create(recorder, enough, settled);
    std::function<void()> stop;
    if (HRESULT started = start_camera(connection, camera, callback.get(), stop); FAILED(started)) {
        stop();
        return report(kGraphFailed, "the camera did not start streaming: " + hex(started));
    }
    const bool streamed = wait_dispatching(settled, kStreamingLimitMs);
    SetEvent(settled); // also when giving up: the test waits no longer than needed
    if (streamed) {
        wait_dispatching(quit, kQuitLimitMs);
    }
    stop();

    const std::vector<GrabbedSample> samples = recorder->samples();
    const std::size_t numbered = count_of(samples, GrabbedSample::Picture::numbered);
    const std::size_t foreign = count_of(samples, GrabbedSample::Picture::other);
    std::string line =
        std::to_string(samples.size()) + " samples, " + std::to_string(numbered) +
        " producer pictures, " + std::to_string(foreign) +
        " torn or foreign, objects created in the callback: " + std::to_string(callback->created());
    if (FAILED(callback->first_failure())) {
        line += ", first failure " + hex(callback->first_failure());
    }
    if (!callback->outside_apartment().empty()) {
        line += "; a sample came on a thread " + callback->outside_apartment();
    }
    if (!streamed || !enough(samples)) {
        return report(kTooFewSamples, line);
    }
    if (foreign > 0) {
        return report(kForeignPictures, line);
    }
    if (FAILED(callback->first_failure())) {
        return report(kObjectCreationFailed, line);
    }
    if (!callback->outside_apartment().empty()) {
        return report(kOutsideMultithreadedApartment, line);
    }
    return report(kStreamedAsAsked, line);
}

int run(int argc, wchar_t** argv)
{
    if (argc != 6) {
        return kBadArguments;
    }
    const std::wstring_view apartment_kind = argv[1];
    const std::wstring_view connection = argv[2];
    if ((apartment_kind != L"mta" && apartment_kind != L"sta") ||
        (connection != L"graph" && connection != L"pins")) {
        return kBadArguments;
    }
    const ComApartment apartment(apartment_kind == L"mta" ? ApartmentKind::multithreaded
                                                          : ApartmentKind::single_threaded);
    const auto pictures = static_cast<std::size_t>(std::wcstoul(argv[3], nullptr, 10));
    const UniqueHandle settled{OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, argv[4])};
    const UniqueHandle quit{OpenEventW(SYNCHRONIZE, FALSE, argv[5])};
    if (!settled || !quit) {
        return kNoEvents;
    }
    const int outcome = stream_camera(connection == L"graph" ? Connection::graph : Connection::pins,
                                      pictures, settled.get(), quit.get());
    SetEvent(settled.get());
    return outcome;
}

} // namespace
} // namespace tolvek::vcam

int wmain(int argc, wchar_t** argv)
{
    return tolvek::vcam::run(argc, argv);
}
