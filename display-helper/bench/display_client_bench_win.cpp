// The display client against hand-written baselines in the same run, on the helper installed
// as the service TolvekDisplayHelper of the build's prefix (with the stand-in cfgmgr32.dll):
// - a ping through the library against a ping on a raw overlapped pipe client, both connected
//   to the same service, taking turns ping by ping (which goes first alternates) so that the
//   shared machine's load falls on both alike; each round of 100 pairs gives a ratio
//   (library / raw), and the median of the rounds is the figure;
// - a connect to the stopped service until the first ping reply, against StartServiceW and
//   opening the pipe by hand (trying every millisecond until it exists) and one ping, in
//   alternating runs, each from a stopped service (ratio = library / by hand).
//
//   tools/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/bin/display_client_bench.exe

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "service/pipe_listener_win.h"
#include "service_name.h"
#include "support/bench_timing_win.h"
#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "tolvek/display_client.h"
#include "tolvek/wide_text_win.h"

using tolvek::testing::median;

namespace {

using namespace tolvek;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kPingRounds = 101;
constexpr int kPingsPerRound = 100;
constexpr int kConnectRuns = 9; // of each

double microseconds_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

[[noreturn]] void give_up(const std::string& why)
{
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(1);
}

double raw_ping(testing::PipeClient& raw)
{
    const auto start = Clock::now();
    if (testing::request(raw, testing::kPing) != testing::kPong) {
        give_up("the raw ping failed");
    }
    return microseconds_since(start);
}

double library_ping(display::DisplayClient& client)
{
    const auto start = Clock::now();
    if (!client.ping()) {
        give_up("the library's ping failed");
    }
    return microseconds_since(start);
}

// One ping each, added to the sums. Which goes first alternates with `pair`: the one that
// follows meets the helper's thread of the other still finishing its turn.
void ping_pair(int pair, testing::PipeClient& raw, display::DisplayClient& client, double& raw_us,
               double& library_us)
{
    if (pair % 2 == 0) {
        raw_us += raw_ping(raw);
        library_us += library_ping(client);
    } else {
        library_us += library_ping(client);
        raw_us += raw_ping(raw);
    }
}

void wait_until_stopped(const testing::HelperService& service)
{
    if (service.wait_for_state(SERVICE_STOPPED, 30s).dwCurrentState != SERVICE_STOPPED) {
        give_up("the service did not stop after its last client left");
    }
}

// StartServiceW, then the pipe opened by hand, then one ping: the baseline of a connect.
double connect_by_hand()
{
    const auto start = Clock::now();
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    const UniqueServiceHandle service{
        OpenServiceW(manager.get(), as_wide(kServiceName), SERVICE_START | SERVICE_QUERY_STATUS)};
    if (!StartServiceW(service.get(), 0, nullptr)) {
        give_up("StartServiceW failed");
    }
    for (;;) {
        testing::PipeClient client{kPipeName};
        if (client.connected()) {
            if (testing::request(client, testing::kPing) != testing::kPong) {
                give_up("the ping by hand failed");
            }
            return microseconds_since(start);
        }
        if (Clock::now() - start > 30s) {
            give_up("the pipe did not open by hand");
        }
        Sleep(1);
    }
}

double connect_with_library()
{
    const auto start = Clock::now();
    auto client = display::DisplayClient::connect();
    if (!client) {
        give_up(client.error().text);
    }
    return microseconds_since(start); // connect ends with the ping's reply
}

} // namespace

int main()
{
    testing::reset_software_device_standin();
    if (!testing::remove_helper_service()) {
        give_up("a service of the helper's name is in the way");
    }
    testing::HelperService service{testing::kWineUserSid};
    if (!service.registered()) {
        give_up("the service would not register");
    }

    // Pings: both clients on one running service.
    {
        auto connected = display::DisplayClient::connect();
        if (!connected) {
            give_up(connected.error().text);
        }
        std::optional<testing::PipeClient> raw = testing::open_helper_pipe(10s);
        if (!raw) {
            give_up("the raw client did not connect");
        }
        display::DisplayClient& client = *connected.value();
        double unused_raw = 0;
        double unused_library = 0;
        for (int i = 0; i < 1000; ++i) { // warm-up of both
            ping_pair(i, *raw, client, unused_raw, unused_library);
        }
        std::vector<double> raw_us, library_us, ratios;
        for (int round = 0; round < kPingRounds; ++round) {
            double raw_sum = 0;
            double library_sum = 0;
            for (int i = 0; i < kPingsPerRound; ++i) {
                ping_pair(i, *raw, client, raw_sum, library_sum);
            }
            raw_us.push_back(raw_sum / kPingsPerRound);
            library_us.push_back(library_sum / kPingsPerRound);
            ratios.push_back(library_sum / raw_sum);
        }
        std::printf("ping round trip: raw overlapped client %.1f us, library %.1f us (medians of "
                    "%d rounds of %d pairs)\n",
                    median(raw_us), median(library_us), kPingRounds, kPingsPerRound);
        std::printf("ping: library / raw = %.3f (median of the rounds' ratios; min %.3f, max "
                    "%.3f)\n",
                    median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()));
    }
    wait_until_stopped(service);

    // Connects from a stopped service.
    std::vector<double> hand_us, library_us;
    for (int run = 0; run < kConnectRuns; ++run) {
        hand_us.push_back(connect_by_hand());
        wait_until_stopped(service);
        library_us.push_back(connect_with_library());
        wait_until_stopped(service);
    }
    std::printf("connect to a stopped service until the first ping reply: by hand %.1f ms, "
                "library %.1f ms (medians of %d runs each)\n",
                median(hand_us) / 1000, median(library_us) / 1000, kConnectRuns);
    std::printf("connect: library / by hand = %.3f\n", median(library_us) / median(hand_us));
    return 0;
}
