// Filling a sample from the frame section against memcpy of the same size, and the fill
// colour against memset, measured in one run on the same buffers. Prints each pair's ratio
// (baseline time / our time: 1.0 is as fast as the baseline, the target is at least 0.8).

#include "camera_format.h"
#include "frame_publisher.h"
#include "frame_reader.h"
#include "frame_section_layout.h"
#include "in_memory_section.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tolvek::vcam {
namespace {

struct Buffers {
    Buffers()
    {
        FramePublisher publisher{section.base()};
        publisher.publish_with([](FramePixels pixels) {
            for (std::size_t index = 0; index < pixels.size(); ++index) {
                pixels[index] = static_cast<std::byte>(index * 131 + 7);
            }
        });
        std::memset(sample.get(), 0, kFrameSize);
    }

    testing::InMemorySection section{kFrameSectionSize};
    std::unique_ptr<std::byte[]> sample{new std::byte[kFrameSize]};
};

Buffers& buffers()
{
    static Buffers instance;
    return instance;
}

const MonotonicTime kNow{};

void memcpy_of_a_frame(benchmark::State& state)
{
    Buffers& b = buffers();
    const std::byte* newest =
        b.section.base() + slot_pixels_offset(*reinterpret_cast<const std::uint32_t*>(
                               b.section.base() + kLatestSlotOffset));
    for (auto _ : state) {
        std::memcpy(b.sample.get(), newest, kFrameSize);
        benchmark::DoNotOptimize(b.sample.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameSize));
}

void sample_filled_from_the_section(benchmark::State& state)
{
    Buffers& b = buffers();
    FrameReader reader{b.section.opener(), kNow};
    for (auto _ : state) {
        FilledSample filled = reader.fill_sample(b.sample.get(), kFrameSize, kNow);
        benchmark::DoNotOptimize(filled);
        benchmark::ClobberMemory();
        if (filled.content != SampleContent::frame) {
            state.SkipWithError("the sample did not get the frame");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameSize));
}

void memset_of_a_frame(benchmark::State& state)
{
    Buffers& b = buffers();
    for (auto _ : state) {
        std::memset(b.sample.get(), 0x1C, kFrameSize);
        benchmark::DoNotOptimize(b.sample.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameSize));
}

void fill_colour_of_a_frame(benchmark::State& state)
{
    Buffers& b = buffers();
    for (auto _ : state) {
        fill_with_fill_colour(b.sample.get(), kFrameSize);
        benchmark::DoNotOptimize(b.sample.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameSize));
}

constexpr int kRepetitions = 15;
BENCHMARK(memcpy_of_a_frame)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(sample_filled_from_the_section)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(memset_of_a_frame)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(fill_colour_of_a_frame)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

// Keeps the median times of every benchmark for the ratios printed at the end.
class MedianCollector final : public benchmark::ConsoleReporter {
public:
    struct Medians {
        double real = 0;
        double cpu = 0;
    };

    MedianCollector() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                medians[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                       run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, Medians> medians;
};

} // namespace
} // namespace tolvek::vcam

int main(int argc, char** argv)
{
    // Repetitions of the four benchmarks are interleaved at random, so that a neighbour's
    // load on a shared machine falls on baseline and subject alike.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    tolvek::vcam::MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const auto& medians = collector.medians;
    const auto ratio = [&](const char* baseline, const char* subject) {
        const auto base = medians.find(baseline);
        const auto ours = medians.find(subject);
        if (base == medians.end() || ours == medians.end()) {
            return;
        }
        std::printf("ratio %s / %s: %.2f by CPU time, %.2f by wall time (target >= 0.80)\n",
                    baseline, subject, base->second.cpu / ours->second.cpu,
                    base->second.real / ours->second.real);
    };
    ratio("memcpy_of_a_frame", "sample_filled_from_the_section");
    ratio("memset_of_a_frame", "fill_colour_of_a_frame");
    benchmark::Shutdown();
    return 0;
}
