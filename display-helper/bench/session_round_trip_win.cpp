// Round trips through a connection session on a real overlapped pipe under Wine, against a
// bare overlapped echo server on the same kind of pipe in the same run. The echo server
// answers each line with the bytes of a ping's reply, so both move the same bytes; the
// ratio is what the session's framing, parsing, dispatch and encoding add to a ping.
// Also: a create followed by a destroy with the stand-in cfgmgr32.dll behind the session.
//
//   tools/wine-run.sh build/windows/wineprefix build/windows/bin/session_round_trip_bench.exe

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "request_protocol.h"
#include "support/bench_timing_win.h"
#include "support/protocol_lines.h"
#include "support/session_connection_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"

namespace {

using namespace tolvek;
using namespace tolvek::testing;

// The two subjects take turns in short rounds, so a load that comes and goes on the machine
// falls on both alike; each round gives one ratio, and the median ratio is the figure.
constexpr int kRounds = 41;
constexpr int kRoundTripsPerRound = 500;
constexpr int kDeviceRounds = 9;
constexpr int kDevicePairsPerRound = 200;

// The lines as they travel, with their line feeds.
const std::string kPingLine = line_of(kPing);
const std::string kPongLine = line_of(kPong);

// The baseline: one overlapped read of up to 512 bytes, then one reply per line feed in it,
// each written and waited for, until the client goes.
void serve_echo(HANDLE pipe, HANDLE event)
{
    char buffer[512];
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD count = 0;
        if ((!ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped) &&
             GetLastError() != ERROR_IO_PENDING) ||
            !GetOverlappedResult(pipe, &overlapped, &count, TRUE) || count == 0) {
            return;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (buffer[i] != '\n') {
                continue;
            }
            overlapped = OVERLAPPED{};
            overlapped.hEvent = event;
            ResetEvent(event);
            DWORD written = 0;
            if ((!WriteFile(pipe, kPongLine.data(), static_cast<DWORD>(kPongLine.size()), nullptr,
                            &overlapped) &&
                 GetLastError() != ERROR_IO_PENDING) ||
                !GetOverlappedResult(pipe, &overlapped, &written, TRUE)) {
                return;
            }
        }
    }
}

// Mean microseconds of one exchange: the lines written, every reply read and checked.
double time_exchanges(PipeClient& client, const std::vector<std::string>& lines,
                      const std::vector<std::string>& replies, int count)
{
    const double start = now_us();
    for (int i = 0; i < count; ++i) {
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (!client.write(lines[k])) {
                std::fprintf(stderr, "a write failed at exchange %d\n", i);
                std::exit(1);
            }
            const double sent = now_us();
            const std::optional<std::string> reply = client.read_line(20000);
            if (now_us() - sent > 1e6) {
                std::fprintf(stderr, "slow reply: %.0f us\n", now_us() - sent);
            }
            if (reply != replies[k]) {
                std::fprintf(stderr, "exchange %d: expected %s, got %s\n", i, replies[k].c_str(),
                             reply.value_or("nothing").c_str());
                std::exit(1);
            }
        }
    }
    return (now_us() - start) / count;
}

} // namespace

int main()
{
    const ScopedTempDir program_data; // the sessions' log lines go there
    const ScopedEnvironmentVariable variable{L"ProgramData", program_data.path().wstring()};
    reset_software_device_standin();

    std::string error;
    std::optional<ConnectedPipe> echo = connect_pipe(error);
    if (!echo) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::thread echo_server{serve_echo, echo->server.get(), echo->server_event.get()};
    PipeServerState state{"S-1-5-21-0-0-0-1000"};
    SessionConnection session{state};
    if (!session.setup_error().empty()) {
        std::fprintf(stderr, "%s\n", session.setup_error().c_str());
        return 1;
    }

    const std::vector<std::string> ping{kPingLine};
    const std::vector<std::string> pong{kPongLine};
    time_exchanges(*echo->client, ping, pong, 1000); // warm-up of both
    time_exchanges(session.client(), ping, pong, 1000);
    std::vector<double> echo_us;
    std::vector<double> session_us;
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        echo_us.push_back(time_exchanges(*echo->client, ping, pong, kRoundTripsPerRound));
        session_us.push_back(time_exchanges(session.client(), ping, pong, kRoundTripsPerRound));
        ratios.push_back(session_us.back() / echo_us.back());
    }

    const std::vector<std::string> create_destroy{
        encode_request(Create{1920, 1080, 60, 0x546F, 0x4C56, 1}) + "\n",
        encode_request(Destroy{1}) + "\n"};
    const std::vector<std::string> ok_ok{"{\"ok\":true}\n", "{\"ok\":true}\n"};
    // Against two echo round trips, the same number of exchanges, in alternate rounds too.
    std::vector<double> device_us;
    std::vector<double> device_ratios;
    for (int round = 0; round < kDeviceRounds; ++round) {
        const double two_echoes_us =
            2 * time_exchanges(*echo->client, ping, pong, 2 * kDevicePairsPerRound);
        device_us.push_back(
            time_exchanges(session.client(), create_destroy, ok_ok, kDevicePairsPerRound));
        device_ratios.push_back(device_us.back() / two_echoes_us);
    }

    echo->client->close();
    echo_server.join();
    const double echo_median = median(echo_us);
    const double session_median = median(session_us);
    const double device_median = median(device_us);
    std::printf(
        "ping round trip, bare overlapped echo server: %.1f us (median of %d rounds of %d)\n",
        echo_median, kRounds, kRoundTripsPerRound);
    std::printf("ping round trip, connection session:         %.1f us\n", session_median);
    std::printf("ratio session / echo server:                  %.2f (median of the rounds' "
                "ratios; target: at most 1.2)\n",
                median(ratios));
    std::printf("create + destroy, stand-in device:           %.1f us a pair (median of %d "
                "rounds of %d); %.1f times two echo round trips\n",
                device_median, kDeviceRounds, kDevicePairsPerRound, median(device_ratios));
    reset_software_device_standin();
    return 0;
}
