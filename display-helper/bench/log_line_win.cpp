// The cost of one log line under Wine, against a bare appender in the same run: log_line
// (folder and file opened without following reparse points, owner, attributes and link count
// checked, the writers' lock taken, the size looked at, the line written) against what any
// appender of a line does at least (open the file for appending, one write, close). The ratio
// is what the log's guards cost a line.
//
//   tools/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/bin/log_line_bench.exe

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "log.h"
#include "log_file.h"
#include "support/bench_timing_win.h"
#include "support/test_environment_win.h"

namespace {

using namespace tolvek;
using namespace tolvek::testing;

// The two subjects take turns in short rounds, so a load that comes and goes on the machine
// falls on both alike; each round gives one ratio, and the median ratio is the figure.
constexpr int kRounds = 41;
constexpr int kLinesPerRound = 200;

void append_bare(const std::wstring& path, const std::string& line)
{
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

int main()
{
    const ScopedTempDir program_data;
    const ScopedEnvironmentVariable variable{L"ProgramData", program_data.path().wstring()};
    const std::string message = "a connection went, taking 1 display(s)";
    log_line(message); // makes the folder
    const std::wstring bare_path = (program_data.path() / "Tolvek" / "bare.log").wstring();
    const std::string line = format_log_line(local_timestamp(), message);

    std::vector<double> bare_us;
    std::vector<double> log_us;
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        double start = now_us();
        for (int i = 0; i < kLinesPerRound; ++i) {
            append_bare(bare_path, line);
        }
        const double bare = (now_us() - start) / kLinesPerRound;
        start = now_us();
        for (int i = 0; i < kLinesPerRound; ++i) {
            log_line(message);
        }
        const double logged = (now_us() - start) / kLinesPerRound;
        bare_us.push_back(bare);
        log_us.push_back(logged);
        ratios.push_back(logged / bare);
    }
    std::printf("one line, bare appender:  %.1f us (median of %d rounds of %d lines)\n",
                median(bare_us), kRounds, kLinesPerRound);
    std::printf("one line, log_line:       %.1f us\n", median(log_us));
    std::printf("log_line / bare appender: %.2f (median of the rounds' ratios)\n", median(ratios));
    return 0;
}
