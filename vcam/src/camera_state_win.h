#pragma once

// CameraState: where the three actors of one camera instance meet. The filter records its
// state here, the pin its connection, and the streaming worker reads the connection and
// counts its samples here. Filter, pin and a running worker each hold a reference; the
// state goes when the last of them lets go.
//
// Locks: `state_lock` guards the connection, `worker` and `filter_state`. The worker never
// takes it. No code holds `state_lock` and an enumerator's lock at once.

#include <windows.h>
#include <strmif.h>

#include "com_ptr_win.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace tolvek::vcam {

class CameraState {
public:
    // A new state: unconnected, stopped, no worker, no graph, `frame_index` 0. Null when
    // memory ran out.
    [[nodiscard]] static std::shared_ptr<CameraState> create() noexcept;

    CameraState() = default;
    CameraState(const CameraState&) = delete;
    CameraState& operator=(const CameraState&) = delete;
    // Releases a connection still held. A worker thread still recorded here has ended (it
    // held a reference until then; the last one may even be its own), so it is detached,
    // never waited for.
    ~CameraState();

    std::mutex state_lock;

    // The connection: all three present or all three empty; only Connect and Disconnect
    // change them. Guarded by `state_lock`.
    ComPtr<IPin> connected_pin;
    ComPtr<IMemInputPin> input_pin;
    ComPtr<IMemAllocator> allocator;

    // The streaming worker's thread, from start_streaming until stop_streaming takes it out
    // to join it. Guarded by `state_lock`.
    std::thread worker;

    // State_Stopped, State_Paused or State_Running. Guarded by `state_lock`.
    FILTER_STATE filter_state = State_Stopped;

    // The pin's own IPin and the filter's own IBaseFilter, without a reference (they hold
    // this state, not the other way round). Each is set once, right after its object exists
    // and before either is handed out, and only read afterwards.
    IPin* self_pin = nullptr;
    IBaseFilter* self_filter = nullptr;

    // What JoinFilterGraph last gave, without a reference; null when not in a graph.
    std::atomic<IFilterGraph*> graph{nullptr};

    // The index of the next sample of the current run: set to 0 by start_streaming before
    // each worker starts and advanced only by that worker.
    std::atomic<std::uint64_t> frame_index{0};

    // Tells the worker to end. Written under `state_lock`, read by the worker without it.
    std::atomic<bool> stop_requested{false};
};

static_assert(sizeof(FILTER_STATE) == 4);

} // namespace tolvek::vcam
