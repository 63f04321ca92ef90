// Soak run of the helper as a real service under Wine's service manager, with the stand-in
// cfgmgr32.dll: three well-behaved clients connect, create and destroy monitors and leave in
// a loop, a hostile client beside them sends garbage, over-long lines and invalid UTF-8 and
// drops connections abruptly, and one quiet client holds a connection throughout so that the
// service lives for the whole run. With the quiet one, the three and the hostile one, five
// clients share the pipe's four instances, so the wait for a free instance is exercised too.
//
// Reports connections served, replies, errors, the stand-in's device balance, and the
// service's handle count and private bytes at start and end (the start as the baseline).
//
//   service_soak.exe [seconds]      (default 60)

#include <windows.h>

#include <winternl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "tolvek/owners_win.h"

namespace {

using namespace std::chrono_literals;
using namespace tolvek;
using testing::kOk;
using testing::kPing;
using testing::kPong;
using testing::kRefused;
using testing::kUnknown;
using testing::PipeClient;
using Clock = std::chrono::steady_clock;

std::string create_request(unsigned serial)
{
    return R"({"op":"create","width":2560,"height":1440,"refresh_hz":60,"vendor_id":21615,)"
           R"("product_id":19542,"serial":)" +
           std::to_string(serial) + "}";
}

std::string destroy_request(unsigned serial)
{
    return R"({"op":"destroy","serial":)" + std::to_string(serial) + "}";
}

struct Tally {
    std::atomic<long> connections{0}; // connections that were opened and served
    std::atomic<long> replies{0};     // reply lines received as expected
    std::atomic<long> drops{0};       // connections the service ended, as expected
    std::atomic<long> errors{0};      // anything else: a wrong reply, no reply, no open

    void error(std::string what)
    {
        errors.fetch_add(1);
        std::fprintf(stderr, "error: %s\n", what.c_str()); // as it happens, for a watcher
        std::fflush(stderr);
    }
};

// Sends one request and counts its reply against the expected line.
void expect_reply(PipeClient& client, std::string_view line, std::string_view expected,
                  Tally& tally)
{
    const std::optional<std::string> reply = testing::request(client, line);
    if (reply == expected) {
        tally.replies.fetch_add(1);
    } else {
        tally.error(std::string{line} + " -> " + reply.value_or("no reply"));
    }
}

// One well-behaved client: connect, ping, create two monitors, destroy one (twice, the second
// answered "unknown"), leave holding the other.
void run_regular_client(unsigned index, Clock::time_point deadline, Tally& tally)
{
    for (unsigned round = 0; Clock::now() < deadline; ++round) {
        std::optional<PipeClient> client = testing::open_helper_pipe(30s);
        if (!client) {
            tally.error("the pipe did not open");
            continue;
        }
        tally.connections.fetch_add(1);
        const unsigned first = index * 1'000'000 + round * 2 + 1;
        expect_reply(*client, kPing, kPong, tally);
        expect_reply(*client, create_request(first), kOk, tally);
        expect_reply(*client, create_request(first + 1), kOk, tally);
        expect_reply(*client, destroy_request(first), kOk, tally);
        expect_reply(*client, destroy_request(first), kUnknown, tally);
    }
}

// The hostile client: each connection misbehaves in one of five ways, in turn.
void run_hostile_client(Clock::time_point deadline, Tally& tally)
{
    for (unsigned round = 0; Clock::now() < deadline; ++round) {
        std::optional<PipeClient> client = testing::open_helper_pipe(30s);
        if (!client) {
            tally.error("the pipe did not open");
            continue;
        }
        tally.connections.fetch_add(1);
        const auto expect_drop = [&](std::string_view bytes) {
            if (client->write(bytes) && client->sees_end_without_bytes(20'000)) {
                tally.drops.fetch_add(1);
            } else {
                tally.error("no drop after " + std::to_string(bytes.size()) + " bytes");
            }
        };
        switch (round % 5) {
        case 0: // garbage is refused and the connection goes on
            expect_reply(*client, "garbage", kRefused, tally);
            expect_reply(*client, R"({"op":"ping"} {"op":"ping"})", kRefused, tally);
            expect_reply(*client, kPing, kPong, tally);
            break;
        case 1: // an unfinished line over the cap
            expect_drop(std::string(600, 'x'));
            break;
        case 2: // a complete line that is not UTF-8
            expect_drop("{\"op\":\"ping\",\"x\":\"\xC0\xAF\"}\n");
            break;
        case 3: // a create, and gone before the reply
            client->write(create_request(9'000'000 + round) + "\n");
            break;
        case 4: // half a line, and gone
            client->write(R"({"op":"cre)");
            break;
        }
    }
}

struct ProcessFigures {
    DWORD handles = 0;
    SIZE_T private_bytes = 0;
};

// From the system's process list: Wine answers handle count and memory queries on a handle
// to another process with zeros, but fills this list from the processes themselves.
ProcessFigures measure(DWORD process_id)
{
    std::vector<std::byte> buffer(1 << 20);
    ULONG length = 0;
    if (!NT_SUCCESS(NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                             static_cast<ULONG>(buffer.size()), &length))) {
        return {};
    }
    for (std::size_t offset = 0;;) {
        const auto* process =
            reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<std::uintptr_t>(process->UniqueProcessId) == process_id) {
            return {process->HandleCount, process->VirtualMemoryCounters.PagefileUsage};
        }
        if (process->NextEntryOffset == 0) {
            return {};
        }
        offset += process->NextEntryOffset;
    }
}

// The figures with the quiet connection alone: one probe connection comes and goes first,
// and its admission lets the listener join the threads of every session that ended before
// it. The same is done at start and end, so that the two are alike.
ProcessFigures measure_settled(DWORD process_id)
{
    if (std::optional<PipeClient> probe = testing::open_helper_pipe(30s)) {
        static_cast<void>(testing::request(*probe, kPing)); // its reply is not counted
    }
    std::this_thread::sleep_for(500ms); // the probe's session ends after its client left
    return measure(process_id);
}

bool wait_until_every_device_is_closed(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!testing::read_software_device_ledger().imbalances().empty()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

double ratio(double end, double start)
{
    return start > 0 ? end / start : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    testing::reset_software_device_standin();
    const testing::ServiceLog log;
    testing::HelperService service{std::string{testing::kWineUserSid}};
    if (!service.registered() || !service.start() ||
        service.wait_for_state(SERVICE_RUNNING, 20s).dwCurrentState != SERVICE_RUNNING) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    std::optional<PipeClient> quiet = testing::open_helper_pipe(10s);
    if (!quiet || testing::request(*quiet, kPing) != kPong) {
        std::fprintf(stderr, "the quiet client was not served\n");
        return 1;
    }
    const DWORD process_id = service.status().dwProcessId;
    std::printf("soak of %d s against the service (pid %lu)\n", seconds, process_id);
    std::fflush(stdout);
    const ProcessFigures start = measure_settled(process_id);

    Tally regular;
    Tally hostile;
    const auto deadline = Clock::now() + std::chrono::seconds{seconds};
    std::vector<std::thread> clients;
    for (unsigned index = 1; index <= 3; ++index) {
        clients.emplace_back(run_regular_client, index, deadline, std::ref(regular));
    }
    clients.emplace_back(run_hostile_client, deadline, std::ref(hostile));
    // Names every stretch of a second or more in which no client got a reply, as it happens.
    long stalls = 0;
    std::thread watchdog{[&] {
        long last = 0;
        auto last_change = Clock::now();
        bool reported = false;
        while (Clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
            const long now = regular.replies + hostile.replies + hostile.drops;
            if (now != last) {
                last = now;
                last_change = Clock::now();
                reported = false;
            } else if (!reported && Clock::now() - last_change >= 1s) {
                reported = true;
                ++stalls;
                std::fprintf(stderr, "stall: no reply for a second\n");
                std::fflush(stderr);
            }
        }
    }};
    for (std::thread& client : clients) {
        client.join();
    }
    watchdog.join();
    const bool quiet_still_served = testing::request(*quiet, kPing) == kPong;
    const bool devices_settled = wait_until_every_device_is_closed(30s);
    const ProcessFigures end = measure_settled(process_id);

    quiet->close();
    const bool stopped =
        service.wait_for_state(SERVICE_STOPPED, 30s).dwCurrentState == SERVICE_STOPPED;
    const testing::SoftwareDeviceLedger ledger = testing::read_software_device_ledger();
    std::size_t devices_made = 0;
    for (const auto& create : ledger.creates()) {
        devices_made += create.device != 0 ? 1 : 0;
    }

    std::printf("regular clients: %ld connections, %ld replies as expected, %ld errors\n",
                regular.connections.load(), regular.replies.load(), regular.errors.load());
    std::printf("hostile client: %ld connections, %ld replies as expected, %ld drops as "
                "expected, %ld errors\n",
                hostile.connections.load(), hostile.replies.load(), hostile.drops.load(),
                hostile.errors.load());
    std::printf("stretches of a second or more without any reply: %ld\n", stalls);
    std::printf("devices: %zu made, %zu closes, %zu imbalances\n", devices_made,
                ledger.closes().size(), ledger.imbalances().size());
    std::printf("log: %zu \"a line over the cap; dropping the connection\", %zu "
                "\"the last connection went; stopping\", %zu \"stopped\"\n",
                log.count("a line over the cap; dropping the connection"),
                log.count("the last connection went; stopping"), log.count("stopped"));
    std::printf("handles: %lu at start, %lu at end (ratio %.2f)\n", start.handles, end.handles,
                ratio(end.handles, start.handles));
    std::printf(
        "private bytes: %zu at start, %zu at end (ratio %.2f)\n", start.private_bytes,
        end.private_bytes,
        ratio(static_cast<double>(end.private_bytes), static_cast<double>(start.private_bytes)));
    std::printf("quiet client served to the end: %s; service stopped after it left: %s\n",
                quiet_still_served ? "yes" : "no", stopped ? "yes" : "no");
    const bool sound = regular.errors == 0 && hostile.errors == 0 && devices_settled &&
                       ledger.imbalances().empty() && quiet_still_served && stopped;
    return sound ? 0 : 1;
}
