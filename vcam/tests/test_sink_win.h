#pragma once

// A scriptable downstream filter for the camera's tests: an input pin (IPin and, unless told
// otherwise, IMemInputPin) and, when asked, an allocator of its own that wraps a real
// CLSID_MemoryAllocator. Each can be told to refuse a step, to call back into the camera from
// inside a step, or to answer Receive in any way. They record what reaches them (media types,
// allocator properties, samples) and let the test wait for it, with a timeout, never a sleep.

#include <windows.h>
#include <strmif.h>

#include "com_object_win.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tolvek::vcam::testing {

using namespace std::chrono_literals;

// How long a test waits for anything before it gives up and fails.
inline constexpr std::chrono::milliseconds kWaitLimit = 20s;

// The calls of Connect into the downstream side, in the order Connect makes them.
enum class ConnectStep { receive_connection, get_allocator, set_properties, notify_allocator };

// What one delivered sample carried.
struct ReceivedSample {
    HRESULT time_result = E_FAIL;
    REFERENCE_TIME start = -1;
    REFERENCE_TIME stop = -1;
    long data_length = -1;
    long size = -1;
    bool sync_point = false;
    bool discontinuity = true;
    bool preroll = true;
    bool has_media_type = true;
    bool has_media_time = true;
    bool fill_colour = false;             // every pixel of the data is the fill colour
    std::optional<std::uint32_t> pattern; // the test pattern the data holds whole, if any
    DWORD thread_id = 0;
};

class TestAllocator final
    : public ComObject<TestAllocator, LiveObject::not_counted, IMemAllocator> {
public:
    // Wraps a new CLSID_MemoryAllocator; null when that cannot be made.
    [[nodiscard]] static ComPtr<TestAllocator> create_wrapping_memory_allocator();

    explicit TestAllocator(ComPtr<IMemAllocator> inner) noexcept;

    // What the allocator is told to answer, set before the camera uses it.
    HRESULT set_properties_result = S_OK;
    HRESULT commit_result = S_OK;
    long granted_buffer_size = 0; // when above 0, buffers of this size whatever was asked
    std::function<void(ConnectStep)> during_set_properties;

    [[nodiscard]] std::optional<ALLOCATOR_PROPERTIES> requested_properties() const;
    [[nodiscard]] int commits() const;
    [[nodiscard]] int decommits() const;
    // True once GetBuffer has been entered `calls` times.
    [[nodiscard]] bool wait_for_get_buffer_calls(int calls) const;
    // True once Decommit has been called `calls` times.
    [[nodiscard]] bool wait_for_decommits(int calls) const;
    [[nodiscard]] IMemAllocator* inner() const noexcept { return inner_.get(); }

    // IMemAllocator
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                            ALLOCATOR_PROPERTIES* actual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                        REFERENCE_TIME* stop, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override;

private:
    template <class Done>
    bool wait_until(Done done) const;

    ComPtr<IMemAllocator> inner_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::optional<ALLOCATOR_PROPERTIES> requested_;
    int commits_ = 0;
    int decommits_ = 0;
    int get_buffer_calls_ = 0;
};

class TestInputPin final
    : public ComObject<TestInputPin, LiveObject::not_counted, IPin, IMemInputPin> {
public:
    // What the pin is told to do, set before the camera connects or streams; the functions
    // run on the camera's calling thread (Connect's caller, the worker).
    struct Script {
        HRESULT receive_connection_result = S_OK;
        bool has_mem_input_pin = true;
        bool offers_allocator = false;
        HRESULT notify_allocator_result = S_OK;
        std::function<void(ConnectStep)> during_connect;
        // Receive's answer for the sample with this index; S_OK when not set. Runs after the
        // sample has been recorded and counted.
        std::function<HRESULT(std::size_t index, IMediaSample* sample)> on_receive;
    };

    explicit TestInputPin(Script script);

    [[nodiscard]] TestAllocator* own_allocator() const noexcept { return own_allocator_.get(); }

    // What arrived, copied out under the pin's lock.
    [[nodiscard]] std::optional<AM_MEDIA_TYPE> received_media_type() const;
    [[nodiscard]] std::vector<BYTE> received_format() const;
    [[nodiscard]] IPin* connector() const;
    [[nodiscard]] IMemAllocator* notified_allocator() const;
    [[nodiscard]] std::optional<ALLOCATOR_PROPERTIES> notified_properties() const;
    [[nodiscard]] std::optional<BOOL> notified_read_only() const;
    [[nodiscard]] int allocator_requirement_queries() const;
    [[nodiscard]] std::vector<ReceivedSample> samples() const;
    [[nodiscard]] std::size_t sample_count() const;

    // True once at least `count` samples have arrived.
    [[nodiscard]] bool wait_for_samples(std::size_t count) const;

    // IPin: an input pin that takes whatever connection the script allows.
    HRESULT STDMETHODCALLTYPE Connect(IPin* receive_pin, const AM_MEDIA_TYPE* media_type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector,
                                                const AM_MEDIA_TYPE* media_type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* media_type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* media_type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count,
                                              long* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // IUnknown: without IMemInputPin when the script says so.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override;

private:
    void during_connect(ConnectStep step) const;

    const Script script_;
    ComPtr<TestAllocator> own_allocator_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::optional<AM_MEDIA_TYPE> media_type_;
    std::vector<BYTE> format_;
    IPin* connector_ = nullptr;
    IMemAllocator* notified_allocator_ = nullptr;
    std::optional<ALLOCATOR_PROPERTIES> notified_properties_;
    std::optional<BOOL> notified_read_only_;
    int allocator_requirement_queries_ = 0;
    std::vector<ReceivedSample> samples_;
};

} // namespace tolvek::vcam::testing
