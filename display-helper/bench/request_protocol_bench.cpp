// Speed of parse_request on typical create lines, against nlohmann's own parsing of the same
// lines in the same run: its DOM parse (json::parse, what a parser built the obvious way
// would do) and its bare syntax check (json::accept, the floor that any reading on top of
// the library pays). After the runs the ratios are printed.
//
//   build/native/display-helper/bench/request_protocol_bench --benchmark_repetitions=5

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "request_protocol.h"

namespace tolvek {
namespace {

// Create lines as an application writes them: the usual modes, serials counting up.
const std::vector<std::string>& create_lines()
{
    static const std::vector<std::string> lines = [] {
        constexpr std::array<std::array<std::uint32_t, 2>, 4> kModes = {
            {{1920, 1080}, {2560, 1440}, {3840, 2160}, {1280, 720}}};
        std::vector<std::string> made;
        for (std::uint32_t serial = 1; serial <= 64; ++serial) {
            const auto& [width, height] = kModes[serial % kModes.size()];
            made.push_back(encode_request(Create{width, height, 60, 0x546F, 0x4C56, serial}));
        }
        return made;
    }();
    return lines;
}

// Runs `parse` over the create lines in turn, one line per iteration.
template <class Parse>
void run_over_create_lines(benchmark::State& state, Parse parse)
{
    const auto& lines = create_lines();
    std::size_t next = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string& line = lines[next];
        next = (next + 1) % lines.size();
        bytes += line.size();
        auto result = parse(line);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void parse_request_create_lines(benchmark::State& state)
{
    run_over_create_lines(state, [](const std::string& line) { return parse_request(line); });
}

void json_dom_parse_create_lines(benchmark::State& state)
{
    run_over_create_lines(state, [](const std::string& line) {
        return nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
    });
}

void json_accept_create_lines(benchmark::State& state)
{
    run_over_create_lines(state, [](const std::string& line) {
        return nlohmann::json::accept(line.begin(), line.end());
    });
}

BENCHMARK(parse_request_create_lines);
BENCHMARK(json_dom_parse_create_lines);
BENCHMARK(json_accept_create_lines);

// The console report, plus each benchmark's lines per second (the median when repeated) for
// the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // Repetitions come before their aggregates, so a median overrides them.
        for (const Run& run : runs) {
            const auto rate = run.counters.find("items_per_second");
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (rate != run.counters.end() && (median || run.run_type == Run::RT_Iteration)) {
                lines_per_second_[run.run_name.function_name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void print_ratios() const
    {
        const auto rate = [&](const char* name) {
            const auto found = lines_per_second_.find(name);
            return found == lines_per_second_.end() ? 0.0 : found->second;
        };
        const double ours = rate("parse_request_create_lines");
        const double dom = rate("json_dom_parse_create_lines");
        const double accept = rate("json_accept_create_lines");
        if (ours == 0 || dom == 0 || accept == 0) {
            return; // filtered out
        }
        std::printf("\nparse_request: %.0f create lines/s (target 500000)\n", ours);
        std::printf("  %.2fx nlohmann json::parse (DOM) of the same lines\n", ours / dom);
        std::printf("  %.2fx nlohmann json::accept (syntax only) of the same lines\n",
                    ours / accept);
    }

private:
    std::map<std::string, double> lines_per_second_;
};

} // namespace
} // namespace tolvek

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    tolvek::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
