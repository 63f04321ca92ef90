// Processor time of the pattern feed: its loop (run_feed, as tolvek-vcam-pattern runs it)
// on a thread of this program, with the real producer library and sections, for a given time
// per run:
// - while a viewer watches (a viewer registration of the camera's own code, kept fresh by
//   another thread), publishing the moving test picture, and publishing a still picture;
//   figures per published frame;
// - while nobody watches; figure per second.
// Baselines in the same run, on this program's main thread: memcpy of one frame, back to back
// and paced at 1/30 s (frame_copy_baseline_win.h); and the test picture drawn back to back
// into plain memory, without the loop.
//
// All figures are thread times (GetThreadTimes), which Wine reports in 10 ms steps.
//
//   vcam_pattern_feed_benchmark [seconds per run]

#include <windows.h>

#include "frame_copy_baseline_win.h"
#include "pattern_feed_win.h"
#include "shared_sections_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/owners_win.h"
#include "viewer_registration.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <thread>
#include <vector>

namespace tolvek::vcam {
namespace {

constexpr int kBackToBackDraws = 600;

struct FeedFigures {
    double cpu_seconds = 0;
    double wall_seconds = 0;
    std::uint64_t frames = 0;
};

// A camera that watches without streaming: its registration, refreshed ten times a second
// until the object goes.
class Watcher {
public:
    Watcher() : registration_(open_viewer_section)
    {
        registration_.refresh(GetTickCount64());
        watching_ = registration_.holds_slot();
        refresher_ = std::thread([this] {
            while (!done_) {
                Sleep(100);
                registration_.refresh(GetTickCount64());
            }
        });
    }
    ~Watcher()
    {
        done_ = true;
        refresher_.join();
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    [[nodiscard]] bool watching() const { return watching_; }

private:
    ViewerRegistration registration_;
    bool watching_ = false;
    std::atomic<bool> done_{false};
    std::thread refresher_;
};

// Runs the feed's loop for `seconds` on a thread of its own and measures that thread.
FeedFigures measure_feed(FrameProducer& producer, const FeedSettings& settings)
{
    FeedFigures figures;
    std::thread([&] {
        const double cpu_before = thread_seconds(GetCurrentThread());
        const auto wall_before = std::chrono::steady_clock::now();
        figures.frames = run_feed(producer, settings);
        figures.cpu_seconds = thread_seconds(GetCurrentThread()) - cpu_before;
        figures.wall_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    }).join();
    return figures;
}

// CPU seconds of one test picture drawn into plain memory, from many in a row.
double draw_back_to_back()
{
    std::vector<std::byte> frame(kFrameSize);
    const double before = thread_seconds(GetCurrentThread());
    for (int index = 0; index < kBackToBackDraws; ++index) {
        draw_pattern_now(FramePixels(frame.data(), kFrameSize), static_cast<std::uint64_t>(index));
    }
    return (thread_seconds(GetCurrentThread()) - before) / kBackToBackDraws;
}

int run(int argc, wchar_t** argv)
{
    const int seconds = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 10;
    if (seconds < 1) {
        std::fprintf(stderr, "usage: vcam_pattern_feed_benchmark [seconds]\n");
        return 1;
    }
    const ComApartment com;
    std::unique_ptr<FrameProducer> producer;
    if (const HRESULT result = FrameProducer::create(producer); FAILED(result)) {
        std::fprintf(stderr, "no producer: %s\n", producer_failure_text(result).c_str());
        return 1;
    }
    const UniqueHandle never_set{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    FeedSettings settings;
    settings.duration = std::chrono::seconds{seconds};
    settings.stop = never_set.get();
    settings.say = [](const std::string&) {};

    FrameCopyBaseline baseline;
    const double copy_before = baseline.back_to_back() / 30;
    const double draw_only = draw_back_to_back();

    settings.draw = draw_pattern_now;
    const FeedFigures idle = measure_feed(*producer, settings);
    FeedFigures pattern;
    FeedFigures still;
    {
        const Watcher watcher;
        if (!watcher.watching()) {
            std::fprintf(stderr, "the viewer holds no slot\n");
            return 1;
        }
        pattern = measure_feed(*producer, settings);
        std::vector<std::byte> picture(kFrameSize, std::byte{0x5A});
        settings.draw = [&picture](FramePixels frame, std::uint64_t) {
            std::memcpy(frame.data(), picture.data(), kFrameSize);
        };
        still = measure_feed(*producer, settings);
    }
    const double copy_paced = baseline.paced(seconds) / 30;
    const double copy_back_to_back = (copy_before + baseline.back_to_back() / 30) / 2;
    if (pattern.frames == 0 || still.frames == 0) {
        std::fprintf(stderr, "the feed published nothing while watched\n");
        return 1;
    }

    std::printf("%d s a run; the feed published %.2f (test picture) and %.2f (still) frames/s "
                "while watched, %llu while nobody watched\n\n",
                seconds, static_cast<double>(pattern.frames) / pattern.wall_seconds,
                static_cast<double>(still.frames) / still.wall_seconds,
                static_cast<unsigned long long>(idle.frames));
    std::printf("| subject | CPU ms per frame | / memcpy back to back | / memcpy paced |\n"
                "|---|---|---|---|\n");
    const auto row = [&](const char* subject, double cpu) {
        std::printf("| %s | %.2f | %.2f | %.2f |\n", subject, cpu * 1e3, cpu / copy_back_to_back,
                    cpu / copy_paced);
    };
    row("feed loop, test picture, watched",
        pattern.cpu_seconds / static_cast<double>(pattern.frames));
    row("feed loop, still picture, watched", still.cpu_seconds / static_cast<double>(still.frames));
    row("test picture drawn back to back, no loop", draw_only);
    row("memcpy of a frame, back to back", copy_back_to_back);
    row("memcpy of a frame, paced at 1/30 s", copy_paced);
    std::printf("\nnobody watching: %.2f CPU ms per second over %.1f s (%.2f ms of CPU in all)\n",
                idle.cpu_seconds * 1e3 / idle.wall_seconds, idle.wall_seconds,
                idle.cpu_seconds * 1e3);
    return 0;
}

} // namespace
} // namespace tolvek::vcam

int wmain(int argc, wchar_t** argv)
{
    return tolvek::vcam::run(argc, argv);
}
