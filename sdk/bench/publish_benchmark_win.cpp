// Processor time of publishing a frame through tolvek_sdk.dll (tolvek_producer_publish), against
// the same through the producer library's FrameProducer::publish and a bare memcpy of one frame
// (frame_copy_baseline_win.h), all on this program's main thread, in the same run. Each round
// publishes a run of frames through the DLL and one through the library, in turn; the figures
// are medians over the rounds. The sections stay open between the producers, as a camera keeps
// them, so that no round pays for fresh pages.
//
// Thread times, which Wine reports in 10 ms steps: each run is long enough to make that small.
//
//   sdk_publish_benchmark [rounds] [frames per run]     (7, 10000)

#include <windows.h>

#include "frame_copy_baseline_win.h"
#include "frame_producer_win.h"
#include "frame_section_layout.h"
#include "mapped_section_win.h"
#include "support/bench_timing_win.h"
#include "tolvek_sdk.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tolvek::vcam {
using tolvek::testing::median;

namespace {

// Frames published before a run is timed: every slot of the section written once.
constexpr int kWarmUpFrames = 9;

// CPU seconds per frame of `frames` calls of `publish`, after the warm-up.
template <class Publish>
double seconds_per_frame(int frames, Publish&& publish)
{
    for (int index = 0; index < kWarmUpFrames; ++index) {
        publish();
    }
    const double before = thread_seconds(GetCurrentThread());
    for (int index = 0; index < frames; ++index) {
        publish();
    }
    return (thread_seconds(GetCurrentThread()) - before) / frames;
}

int run(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 10000;
    if (rounds < 1 || frames < 1) {
        std::fprintf(stderr, "usage: sdk_publish_benchmark [rounds] [frames per run]\n");
        return 1;
    }
    const std::vector<std::byte> frame(kFrameSize, std::byte{0x5A});
    std::unique_ptr<SectionView> kept_open;
    std::vector<double> through_dll, through_library, memcpy_baseline;
    FrameCopyBaseline baseline;

    for (int round = 0; round < rounds; ++round) {
        tolvek_producer* c_producer = nullptr;
        if (tolvek_producer_create(&c_producer) != TOLVEK_OK) {
            std::fprintf(stderr, "no producer through the DLL: %s\n", tolvek_last_error_text());
            return 1;
        }
        if (!kept_open) {
            kept_open = open_mapped_section(kFrameSectionName, FILE_MAP_READ, kFrameSectionSize);
        }
        through_dll.push_back(seconds_per_frame(
            frames, [&] { tolvek_producer_publish(c_producer, frame.data(), frame.size()); }));
        tolvek_producer_release(c_producer);

        std::unique_ptr<FrameProducer> producer;
        if (const HRESULT result = FrameProducer::create(producer); FAILED(result)) {
            std::fprintf(stderr, "no producer: %s\n", producer_failure_text(result).c_str());
            return 1;
        }
        through_library.push_back(seconds_per_frame(frames, [&] {
            producer->publish(ConstFramePixels{frame.data(), kFrameSize});
        }));
        producer.reset();

        memcpy_baseline.push_back(baseline.back_to_back() / 30);
    }

    const double dll = median(through_dll);
    const double library = median(through_library);
    const double copy = median(memcpy_baseline);
    std::printf("%d rounds of %d frames; CPU time per frame, medians\n", rounds, frames);
    std::printf("memcpy of a frame (baseline)        %7.1f us\n", copy * 1e6);
    std::printf("FrameProducer::publish              %7.1f us  %.2fx memcpy\n", library * 1e6,
                library / copy);
    std::printf("tolvek_producer_publish (the DLL)   %7.1f us  %.2fx memcpy, %.3fx the library\n",
                dll * 1e6, dll / copy, dll / library);
    return 0;
}

} // namespace
} // namespace tolvek::vcam

int main(int argc, char** argv)
{
    return tolvek::vcam::run(argc, argv);
}
