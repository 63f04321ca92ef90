// Pacing of the camera in a real Wine graph: camera -> Sample Grabber -> Null Renderer,
// with a producer publishing 30 frames a second in another process. Each run streams for
// the given time (default 12 s); the intervals between the samples' arrivals at the
// grabber, after the first half second, are compared with 1/30 s. Three runs: the camera
// module through COM as hosts get it, the same filter built into this program, and that
// filter with its pacing sleep forced to the whole-millisecond Sleep fallback.
//
// The graph runs without a reference clock: with one, the Null Renderer holds each sample
// until its presentation time and the arrivals would show the renderer's pacing instead of
// the camera's. Its pins are connected directly, without the Smart Tee that RenderStream
// puts in between, so that nothing but the camera's own work lies before the grabber.
//
//   vcam_pacing_benchmark [seconds]

#include <windows.h>

#include "camera_filter_win.h"
#include "camera_graph_win.h"
#include "class_id_win.h"
#include "pacing_statistics.h"
#include "producer_process_win.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <vector>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::SampleRecorder;

constexpr auto kSettle = 500ms; // Wine's graph starts streaming about 200 ms after Run

struct PacingRun {
    const char* name;
    std::function<ComPtr<IBaseFilter>()> make_camera;
};

ComPtr<IBaseFilter> camera_through_com()
{
    ComPtr<IBaseFilter> camera;
    CoCreateInstance(CLSID_VirtualCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     camera.put_void());
    return camera;
}

ComPtr<IBaseFilter> camera_in_process(PacingSleepKind sleep)
{
    StreamingOptions options;
    options.pacing_sleep = sleep;
    ComPtr<CameraFilter> filter = CameraFilter::create_with_pin(options);
    return ComPtr<IBaseFilter>(filter.get());
}

bool measure(const PacingRun& run, int seconds)
{
    ComPtr<IBaseFilter> camera = run.make_camera();
    if (!camera) {
        std::fprintf(stderr, "%s: no camera\n", run.name);
        return false;
    }
    auto recorder = SampleRecorder::create();
    testing::CaptureGraph graph;
    if (HRESULT result = graph.build(camera, recorder.get(), testing::GraphClock::none,
                                     testing::GraphConnection::direct);
        FAILED(result)) {
        std::fprintf(stderr, "%s: the graph was not built: 0x%08lX\n", run.name, result);
        return false;
    }
    const std::size_t wanted = static_cast<std::size_t>(seconds) * 30 + 15;
    const bool streamed =
        SUCCEEDED(graph.control->Run()) &&
        recorder->wait_until([&](const auto& samples) { return samples.size() >= wanted; },
                             std::chrono::seconds(seconds) + 30s);
    graph.release();
    if (!streamed) {
        std::fprintf(stderr, "%s: only %zu samples came\n", run.name, recorder->count());
        return false;
    }

    std::vector<std::int64_t> arrivals;
    for (const testing::GrabbedSample& sample : recorder->samples()) {
        arrivals.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(sample.arrival.time_since_epoch())
                .count());
    }
    const PacingFigures figures =
        pacing_figures(arrivals, std::chrono::nanoseconds(kSettle).count());
    std::printf("| %s | %zu | %.0f | %+.4f %% | %.3f | %.3f | %.3f |\n", run.name,
                figures.intervals, figures.mean_interval_ns,
                (figures.mean_interval_ns / kFrameIntervalNs - 1.0) * 100.0,
                figures.median_abs_deviation_ns / 1e6, figures.p99_abs_deviation_ns / 1e6,
                figures.max_abs_deviation_ns / 1e6);
    return true;
}

int run(int argc, wchar_t** argv)
{
    const int seconds = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 12;
    if (seconds < 1) {
        std::fprintf(stderr, "usage: vcam_pacing_benchmark [seconds]\n");
        return 1;
    }
    testing::ComApartment apartment;
    testing::ScopedCameraRegistration registration;
    if (!registration.error().empty()) {
        std::fprintf(stderr, "no registration: %s\n", registration.error().c_str());
        return 1;
    }
    testing::ProducerProcess producer(L"paced", 1);
    if (!producer.wait_until_ready()) {
        std::fprintf(stderr, "the producer did not start\n");
        return 1;
    }

    const std::vector<PacingRun> runs{
        {"camera module through COM", camera_through_com},
        {"filter in this program, high-resolution timer",
         [] { return camera_in_process(PacingSleepKind::high_resolution_timer); }},
        {"filter in this program, Sleep fallback forced",
         [] { return camera_in_process(PacingSleepKind::whole_milliseconds); }},
    };
    std::printf("%d s a run, intervals after the first %lld ms, target %lld ns\n\n", seconds,
                static_cast<long long>(kSettle.count()), static_cast<long long>(kFrameIntervalNs));
    std::printf("| run | intervals | mean interval (ns) | mean vs 1/30 s | median abs deviation "
                "(ms) | p99 abs deviation (ms) | max abs deviation (ms) |\n"
                "|---|---|---|---|---|---|---|\n");
    bool all = true;
    for (const PacingRun& run : runs) {
        all = measure(run, seconds) && all;
    }
    return all ? 0 : 1;
}

} // namespace
} // namespace tolvek::vcam

int wmain(int argc, wchar_t** argv)
{
    return tolvek::vcam::run(argc, argv);
}
