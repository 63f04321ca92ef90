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
#include "sdk_declarations_win.h"
#include "tolvek/owners_win.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace tolvek::vcam {

class CameraState {
public:
    // A new state: unconnected, stopped, no worker, no graph, `frame_index` 0. Null when
    // memory ran out.
    [[nodiscard]] static std::shared_ptr<CameraState> create() noexcept;

    CameraState() = default;
    CameraState(const CameraState&) = delete;
    CameraState& operator=(const CameraState&) = delete;
    // Releases a connection still held and closes the handle of a worker thread still
    // recorded here without waiting: that worker has finished its work (it held a reference
    // until then; the last one may even be its own).
    ~CameraState() = default;

    // Holds `state_lock` for the caller's scope, except on the thread that is inside
    // Connect's calls into the downstream pin. Connect holds the lock across those calls, and
    // the lock is not re-entrant; a downstream pin that calls back into this pin or its
    // filter from inside them (ConnectedTo, ConnectionMediaType, Disconnect, GetState, ...)
    // on the same thread would deadlock on it. That thread holds the lock already, so it
    // reads and changes the guarded fields without taking it again, and finds what Connect
    // has not yet stored: no connection. Connect itself refuses to nest.
    [[nodiscard]] std::unique_lock<std::mutex> lock_state() noexcept;

    // True on the thread inside Connect's calls into the downstream pin.
    [[nodiscard]] bool is_connecting_thread() const noexcept
    {
        return connecting_thread.load(std::memory_order_relaxed) == GetCurrentThreadId();
    }

    std::mutex state_lock;

    // The connection: all three present or all three empty; only Connect and Disconnect
    // change them. Guarded by `state_lock`.
    ComPtr<IPin> connected_pin;
    ComPtr<IMemInputPin> input_pin;
    ComPtr<IMemAllocator> allocator;

    // The streaming worker's thread, from start_streaming until stop_streaming takes it out
    // to wait for it. Guarded by `state_lock`.
    UniqueHandle worker;

    // State_Stopped, State_Paused or State_Running. Guarded by `state_lock`.
    FILTER_STATE filter_state = State_Stopped;

    // The pin's own IPin, without a reference (the pin holds this state, not the other way
    // round). Set once, right after the pin exists and before it is handed out.
    IPin* self_pin = nullptr;

    // The filter, without keeping it alive: a weak reference, set once right after the
    // filter exists. The pin may outlive its filter; resolving then gives null, never a
    // pointer to a destroyed filter, even while the filter's last reference goes on another
    // thread.
    ComPtr<IWeakReference> self_filter;

    // What JoinFilterGraph last gave, without a reference; null when not in a graph.
    std::atomic<IFilterGraph*> graph{nullptr};

    // The index of the next sample of the current run: set to 0 by start_streaming before
    // each worker starts and advanced only by that worker.
    std::atomic<std::uint64_t> frame_index{0};

    // Tells the worker to end. Written under `state_lock`, read by the worker without it.
    std::atomic<bool> stop_requested{false};

    // The id of the thread that holds `state_lock` inside Connect's calls into the downstream
    // pin; 0 otherwise. Only that thread writes it, under the lock, so a thread that reads its
    // own id here is inside those calls.
    std::atomic<DWORD> connecting_thread{0};
};

static_assert(sizeof(FILTER_STATE) == 4);

} // namespace tolvek::vcam
