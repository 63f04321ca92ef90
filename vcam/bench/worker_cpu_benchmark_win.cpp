// Processor time of the camera's streaming worker per second of streaming, in real Wine
// graphs without a reference clock, with a producer publishing 30 frames a second in another
// process, so that every sample is a frame copy. Two graphs: camera -> Null Renderer,
// connected directly, where the worker's thread does the camera's own work and the
// renderer's Receive; and the graph a capture host builds with RenderStream, camera ->
// Smart Tee -> Sample Grabber -> Null Renderer, where Wine's Smart Tee (which copies each
// sample) and grabber run on the worker's thread as well; that run also counts the samples.
//
// Baselines, measured in the same run on this thread: memcpy of one frame (3,686,400
// bytes), the copy at the heart of each sample, between buffers as large as the section's
// three slots and the allocator's two buffers; 30 of them back to back (the figure of the
// native frame copy benchmark), and 30 of them paced at 1/30 s over as long as the worker
// streams. A thread that sleeps between copies meets caches that others have used
// meanwhile, so a paced copy costs more than one in a tight loop; the worker is paced the
// same way.
//
// All figures are thread times (GetThreadTimes). Wine reports them in 10 ms steps, so each is
// taken over many seconds or thousands of copies.
//
//   vcam_worker_cpu_benchmark [seconds of streaming per graph]

#include <windows.h>

#include "camera_graph_win.h"
#include "camera_test_support_win.h"
#include "frame_copy_baseline_win.h"
#include "producer_process_win.h"
#include "tolvek/owners_win.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <optional>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::SampleRecorder;
using testing::WorkerThreads;

constexpr auto kSettle = 1s;

struct WorkerFigures {
    double cpu_per_second = 0;
    double samples_per_second = 0; // 0 when the graph has no grabber to count them
};

// Streams a camera built into this program through a graph with (`recorder`) or without a
// grabber, and measures its worker thread after a settling second.
std::optional<WorkerFigures> measure_worker(SampleRecorder* recorder, int seconds)
{
    testing::Camera camera = testing::make_camera(WorkerThreads::recording_options());
    testing::CaptureGraph graph;
    if (!camera.filter || FAILED(graph.build(camera.filter, recorder, testing::GraphClock::none)) ||
        FAILED(graph.control->Run())) {
        std::fprintf(stderr, "the graph did not run\n");
        return std::nullopt;
    }
    const UniqueHandle worker = WorkerThreads::last_started();
    Sleep(static_cast<DWORD>(std::chrono::milliseconds(kSettle).count()));
    const std::size_t samples_before = recorder != nullptr ? recorder->count() : 0;
    const double cpu_before = thread_seconds(worker.get());
    const auto wall_before = std::chrono::steady_clock::now();
    Sleep(static_cast<DWORD>(seconds * 1000));
    const double cpu_after = thread_seconds(worker.get());
    const auto wall_after = std::chrono::steady_clock::now();
    const std::size_t samples_after = recorder != nullptr ? recorder->count() : 0;
    // A worker that ended on a downstream error streamed nothing for part of the window.
    const bool streaming = worker && !WorkerThreads::has_ended(worker);
    graph.release();
    if (!streaming) {
        std::fprintf(stderr, "the camera did not stream throughout\n");
        return std::nullopt;
    }
    const double wall = std::chrono::duration<double>(wall_after - wall_before).count();
    return WorkerFigures{(cpu_after - cpu_before) / wall,
                         static_cast<double>(samples_after - samples_before) / wall};
}

int run(int argc, wchar_t** argv)
{
    const int seconds = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 20;
    if (seconds < 1) {
        std::fprintf(stderr, "usage: vcam_worker_cpu_benchmark [seconds]\n");
        return 1;
    }
    testing::ComApartment apartment;
    testing::ProducerProcess producer(L"paced", 1);
    if (!producer.wait_until_ready()) {
        std::fprintf(stderr, "the producer did not start\n");
        return 1;
    }
    FrameCopyBaseline baseline;
    const double back_to_back_before = baseline.back_to_back();
    const std::optional<WorkerFigures> renderer_only = measure_worker(nullptr, seconds);
    auto recorder = SampleRecorder::create();
    const std::optional<WorkerFigures> with_grabber = measure_worker(recorder.get(), seconds);
    if (!renderer_only || !with_grabber) {
        return 1;
    }
    const double paced = baseline.paced(seconds);
    const double back_to_back = (back_to_back_before + baseline.back_to_back()) / 2;

    std::printf("%d s of streaming per graph; the grabber counted %.2f samples/s\n\n", seconds,
                with_grabber->samples_per_second);
    std::printf("| subject | CPU ms per second | worker (renderer only) / subject |\n"
                "|---|---|---|\n");
    const auto row = [&](const char* subject, double cpu) {
        std::printf("| %s | %.1f | %.2f |\n", subject, cpu * 1e3,
                    renderer_only->cpu_per_second / cpu);
    };
    row("worker thread, camera -> Null Renderer", renderer_only->cpu_per_second);
    row("worker thread, camera -> Smart Tee -> Sample Grabber -> Null Renderer",
        with_grabber->cpu_per_second);
    row("memcpy of 30 frames back to back", back_to_back);
    row("memcpy of 30 frames paced at 1/30 s", paced);
    return 0;
}

} // namespace
} // namespace tolvek::vcam

int wmain(int argc, wchar_t** argv)
{
    return tolvek::vcam::run(argc, argv);
}
