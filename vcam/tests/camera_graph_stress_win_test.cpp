// A thousand Run / Stop / Disconnect / Connect cycles of the registered camera in a real
// Wine graph, with a consumer that now and then holds on to every buffer, so that the
// worker is stopped while it waits in GetBuffer, while it delivers and before it has sent
// anything. Nothing may hang, and at the end no object of the camera may be left.

#include "camera_graph_win.h"

#include "class_id_win.h"
#include "producer_process_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;
using testing::CaptureGraph;
using testing::SampleRecorder;

constexpr int kCycles = 1000;
constexpr auto kSampleLimit = 10s;
constexpr auto kHangLimit = 60s;

// Ends the process with a message naming the cycle when no cycle completes for too long: a
// hang in Stop or Disconnect would otherwise only show as the test's timeout.
class HangWatch {
public:
    HangWatch()
        : thread_([this] {
              int seen = -1;
              auto last_progress = std::chrono::steady_clock::now();
              while (!done_.load()) {
                  std::this_thread::sleep_for(100ms);
                  const int now_at = cycle_.load();
                  if (now_at != seen) {
                      seen = now_at;
                      last_progress = std::chrono::steady_clock::now();
                  } else if (std::chrono::steady_clock::now() - last_progress > kHangLimit) {
                      std::fprintf(stderr, "hung in cycle %d, step %d\n", now_at, step_.load());
                      std::fflush(stderr);
                      std::abort();
                  }
              }
          })
    {
    }
    ~HangWatch()
    {
        done_.store(true);
        thread_.join();
    }
    HangWatch(const HangWatch&) = delete;
    HangWatch& operator=(const HangWatch&) = delete;

    void at(int cycle, int step)
    {
        step_.store(step);
        cycle_.store(cycle);
    }

private:
    std::atomic<int> cycle_{0};
    std::atomic<int> step_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// What a cycle does between starting the graph and stopping it.
enum class CycleKind {
    stop_after_a_sample,       // Run, one sample, Stop
    stop_at_once,              // Run, Stop before the worker had a chance to send
    stop_while_buffers_held,   // the consumer keeps both buffers: Stop meets GetBuffer waiting
    pause_then_stop,           // Pause streams as well
    hold_across_disconnection, // the buffers come back only after Disconnect
};

CycleKind kind_of_cycle(int cycle)
{
    switch (cycle % 8) {
    case 0:
    case 4:
        return CycleKind::stop_after_a_sample;
    case 1:
    case 5:
        return CycleKind::stop_at_once;
    case 2:
        return CycleKind::stop_while_buffers_held;
    case 3:
        return CycleKind::pause_then_stop;
    case 6:
        return CycleKind::hold_across_disconnection;
    default:
        return CycleKind::stop_at_once;
    }
}

TEST(CameraGraphStressWin, a_thousand_run_stop_disconnect_connect_cycles_neither_hang_nor_leak)
{
    testing::ComApartment apartment;
    testing::ScopedCameraRegistration registration;
    ASSERT_EQ(registration.error(), "");
    testing::ProducerProcess producer(L"paced", 1);
    ASSERT_TRUE(producer.wait_until_ready());

    {
        auto recorder = SampleRecorder::create();
        ComPtr<IBaseFilter> camera;
        ASSERT_EQ(CoCreateInstance(CLSID_VirtualCamera, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, camera.put_void()),
                  S_OK);
        CaptureGraph graph;
        // Connected pin to pin: the consumer's held samples are then the camera's own buffers.
        ASSERT_EQ(graph.build(camera, recorder.get(), testing::GraphClock::none,
                              testing::GraphConnection::direct),
                  S_OK);
        ComPtr<IPin> camera_output;
        ComPtr<IPin> peer_input;
        ASSERT_EQ(graph.camera_output(camera_output), S_OK);
        ASSERT_EQ(graph.camera_peer(peer_input), S_OK);

        HangWatch watch;
        std::size_t delivered = 0;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            const CycleKind kind = kind_of_cycle(cycle);
            const bool hold = kind == CycleKind::stop_while_buffers_held ||
                              kind == CycleKind::hold_across_disconnection;
            recorder->clear();
            recorder->hold_samples(hold);

            watch.at(cycle, 1);
            const HRESULT started =
                kind == CycleKind::pause_then_stop ? graph.control->Pause() : graph.control->Run();
            ASSERT_TRUE(SUCCEEDED(started)) << "cycle " << cycle << ": " << std::hex << started;
            if (kind != CycleKind::stop_at_once) {
                // Held: the worker fills both buffers and then waits in GetBuffer.
                const std::size_t wanted = hold ? 2 : 1;
                ASSERT_TRUE(recorder->wait_until(
                    [&](const auto& samples) { return samples.size() >= wanted; }, kSampleLimit))
                    << "cycle " << cycle << " had " << recorder->count() << " samples";
            }
            watch.at(cycle, 2);
            ASSERT_EQ(graph.control->Stop(), S_OK) << "cycle " << cycle;
            delivered += recorder->count();
            if (kind == CycleKind::stop_while_buffers_held) {
                recorder->release_held_samples();
            }

            watch.at(cycle, 3);
            ASSERT_EQ(graph.graph->Disconnect(camera_output.get()), S_OK) << "cycle " << cycle;
            ASSERT_EQ(graph.graph->Disconnect(peer_input.get()), S_OK) << "cycle " << cycle;
            // The downstream filter lends the camera its own allocator, which refuses new
            // properties while buffers are out: a consumer gives them back before it connects
            // again.
            recorder->release_held_samples();
            watch.at(cycle, 4);
            ASSERT_EQ(graph.graph->ConnectDirect(camera_output.get(), peer_input.get(), nullptr),
                      S_OK)
                << "cycle " << cycle;
        }
        watch.at(kCycles, 5);
        EXPECT_GT(delivered, static_cast<std::size_t>(kCycles / 2));
        graph.release();
    }

    EXPECT_EQ(testing::camera_module_can_unload_now(), S_OK) << "an object of the camera leaked";
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(testing::loaded_camera_module(), nullptr);
    EXPECT_EQ(producer.quit_and_count_viewers(), 0u) << "every worker gave its viewer slot back";
}

} // namespace
} // namespace tolvek::vcam
