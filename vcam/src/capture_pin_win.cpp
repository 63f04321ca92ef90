#include "capture_pin_win.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include "camera_format.h"
#include "enumerators_win.h"
#include "media_type_win.h"
#include "streaming_worker_win.h"
#include "tolvek/owners_win.h"

#include <cstring>
#include <utility>

namespace tolvek::vcam {

namespace {

// What the pin asks of every allocator at connection: two whole frames, no alignment beyond
// a byte, no prefix.
constexpr ALLOCATOR_PROPERTIES kAllocatorRequest{
    2,                             // cBuffers
    static_cast<long>(kFrameSize), // cbBuffer
    1,                             // cbAlign
    0,                             // cbPrefix
};

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

// The pin's one stream capability: the camera format, which nothing can crop, scale or
// slow down.
VIDEO_STREAM_CONFIG_CAPS stream_capability() noexcept
{
    VIDEO_STREAM_CONFIG_CAPS caps;
    std::memset(&caps, 0, sizeof caps); // padding included: every byte not set below is zero
    const SIZE frame{kFrameWidth, kFrameHeight};
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = frame;
    caps.MinCroppingSize = frame;
    caps.MaxCroppingSize = frame;
    caps.CropGranularityX = 1;
    caps.CropGranularityY = 1;
    caps.MinOutputSize = frame;
    caps.MaxOutputSize = frame;
    caps.OutputGranularityX = 1;
    caps.OutputGranularityY = 1;
    caps.MinFrameInterval = kFrameInterval;
    caps.MaxFrameInterval = kFrameInterval;
    caps.MinBitsPerSecond = kBitRate;
    caps.MaxBitsPerSecond = kBitRate;
    return caps;
}

bool is_pin_category(REFGUID property_set, DWORD property_id) noexcept
{
    return !is_null_reference(property_set) && property_set == AMPROPSETID_Pin &&
           property_id == AMPROPERTY_PIN_CATEGORY;
}

// Marks the calling thread as the one inside Connect's downstream calls for as long as it
// lives; see CameraState::lock_state.
class ConnectingThreadMark {
public:
    explicit ConnectingThreadMark(CameraState& state) noexcept : state_(state)
    {
        state_.connecting_thread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    ~ConnectingThreadMark() { state_.connecting_thread.store(0, std::memory_order_relaxed); }
    ConnectingThreadMark(const ConnectingThreadMark&) = delete;
    ConnectingThreadMark& operator=(const ConnectingThreadMark&) = delete;

private:
    CameraState& state_;
};

// Tells a downstream pin that accepted the connection to let go of it again, unless the
// connection was completed. Such a pin holds a reference to this pin and refuses every other
// connection until it is disconnected, so a Connect that fails after it accepted must undo
// its side too.
class DownstreamAcceptance {
public:
    explicit DownstreamAcceptance(IPin* receive_pin) noexcept : receive_pin_(receive_pin) {}
    ~DownstreamAcceptance()
    {
        if (receive_pin_ != nullptr) {
            receive_pin_->Disconnect();
        }
    }
    DownstreamAcceptance(const DownstreamAcceptance&) = delete;
    DownstreamAcceptance& operator=(const DownstreamAcceptance&) = delete;

    void keep() noexcept { receive_pin_ = nullptr; }

private:
    IPin* receive_pin_;
};

// Proposes the camera type to `receive_pin`, takes its IMemInputPin and settles the
// allocator. On failure everything obtained so far is released again, a downstream pin that
// had accepted is disconnected, and nothing is written to the out-parameters.
HRESULT negotiate_connection(IPin* self, IPin* receive_pin, ComPtr<IMemInputPin>& input_pin_out,
                             ComPtr<IMemAllocator>& allocator_out) noexcept
{
    // The full camera type, whatever the caller proposed.
    AM_MEDIA_TYPE media_type{};
    if (FAILED(fill_media_type(media_type))) {
        return E_OUTOFMEMORY;
    }
    const UniqueTaskMemory<BYTE> format{media_type.pbFormat};

    HRESULT result = receive_pin->ReceiveConnection(self, &media_type);
    if (FAILED(result)) {
        return result;
    }
    DownstreamAcceptance acceptance{receive_pin};
    ComPtr<IMemInputPin> input_pin;
    if (FAILED(result =
                   receive_pin->QueryInterface(__uuidof(IMemInputPin), input_pin.put_void()))) {
        return result;
    }
    if (!input_pin) {
        return E_POINTER;
    }
    ComPtr<IMemAllocator> allocator;
    if (FAILED(input_pin->GetAllocator(allocator.put())) || !allocator) {
        // A failed call's out-parameter is null by COM's rules; anything else in it is not a
        // reference this pin may release.
        static_cast<void>(allocator.release());
        if (FAILED(result = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                             __uuidof(IMemAllocator), allocator.put_void()))) {
            return result;
        }
        if (!allocator) {
            return E_POINTER;
        }
    }
    ALLOCATOR_PROPERTIES request = kAllocatorRequest;
    ALLOCATOR_PROPERTIES actual{}; // what the allocator made of the request; not examined
    if (FAILED(result = allocator->SetProperties(&request, &actual))) {
        return result;
    }
    if (FAILED(result = input_pin->NotifyAllocator(allocator.get(), FALSE))) {
        return result;
    }
    acceptance.keep();
    input_pin_out = std::move(input_pin);
    allocator_out = std::move(allocator);
    return S_OK;
}

} // namespace

CapturePin::CapturePin(std::shared_ptr<CameraState> state) noexcept : state_(std::move(state)) {}

// IPin

HRESULT CapturePin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* proposed)
{
    if (receive_pin == nullptr) {
        return E_POINTER;
    }
    if (proposed != nullptr && !accepts_media_type(proposed)) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    // Called from inside this very Connect by the downstream pin: a connection is being made.
    if (state_->is_connecting_thread()) {
        return VFW_E_ALREADY_CONNECTED;
    }
    // Held across every call into the downstream pin, so that a concurrent Connect waits and
    // then finds the pin connected, and ConnectedTo sees no connection or the whole new one.
    const std::lock_guard lock(state_->state_lock);
    if (state_->connected_pin) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (state_->self_pin == nullptr) {
        return E_FAIL;
    }
    const ComPtr<IPin> self(state_->self_pin);
    const ConnectingThreadMark connecting(*state_);
    ComPtr<IMemInputPin> input_pin;
    ComPtr<IMemAllocator> allocator;
    if (HRESULT result = negotiate_connection(self.get(), receive_pin, input_pin, allocator);
        FAILED(result)) {
        return result;
    }
    state_->connected_pin = ComPtr<IPin>(receive_pin);
    state_->input_pin = std::move(input_pin);
    state_->allocator = std::move(allocator);
    return S_OK;
}

HRESULT CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*)
{
    return E_UNEXPECTED; // an output pin connects, it is not connected to
}

HRESULT CapturePin::Disconnect()
{
    stop_streaming(*state_);
    ComPtr<IPin> connected_pin;
    ComPtr<IMemInputPin> input_pin;
    ComPtr<IMemAllocator> allocator;
    {
        const auto lock = state_->lock_state();
        connected_pin = std::move(state_->connected_pin);
        input_pin = std::move(state_->input_pin);
        allocator = std::move(state_->allocator);
    }
    // Released here, outside the lock: a downstream object's Release may call back.
    return S_OK;
}

HRESULT CapturePin::ConnectedTo(IPin** pin)
{
    if (pin == nullptr) {
        return E_POINTER;
    }
    const auto lock = state_->lock_state();
    if (!state_->connected_pin) {
        return VFW_E_NOT_CONNECTED;
    }
    state_->connected_pin.copy_to(pin);
    return S_OK;
}

HRESULT CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* media_type)
{
    if (media_type == nullptr) {
        return E_POINTER;
    }
    {
        const auto lock = state_->lock_state();
        if (!state_->connected_pin) {
            return VFW_E_NOT_CONNECTED;
        }
    }
    return fill_media_type(*media_type);
}

HRESULT CapturePin::QueryPinInfo(PIN_INFO* info)
{
    if (info == nullptr) {
        return E_POINTER;
    }
    // The filter with a reference added, or null once the filter is gone.
    ComPtr<IBaseFilter> filter;
    if (state_->self_filter) {
        state_->self_filter->Resolve(__uuidof(IBaseFilter),
                                     reinterpret_cast<IInspectable**>(filter.put()));
    }
    info->pFilter = filter.release();
    info->dir = PINDIR_OUTPUT;
    std::memset(info->achName, 0, sizeof info->achName);
    std::memcpy(info->achName, kCapturePinName, sizeof kCapturePinName);
    return S_OK;
}

HRESULT CapturePin::QueryDirection(PIN_DIRECTION* direction)
{
    if (direction == nullptr) {
        return E_POINTER;
    }
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

HRESULT CapturePin::QueryId(LPWSTR* id)
{
    if (id == nullptr) {
        return E_POINTER;
    }
    // Without memory the id is null and the call still succeeds, as hosts expect of it.
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kCapturePinName));
    if (*id != nullptr) {
        std::memcpy(*id, kCapturePinName, sizeof kCapturePinName);
    }
    return S_OK;
}

HRESULT CapturePin::QueryAccept(const AM_MEDIA_TYPE* proposed)
{
    return accepts_media_type(proposed) ? S_OK : S_FALSE;
}

HRESULT CapturePin::EnumMediaTypes(IEnumMediaTypes** enumerator)
{
    if (enumerator == nullptr) {
        return E_POINTER;
    }
    *enumerator = MediaTypeEnumerator::create(0).release();
    return *enumerator != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

HRESULT CapturePin::EndOfStream()
{
    return E_UNEXPECTED; // meant for input pins
}

HRESULT CapturePin::BeginFlush()
{
    return E_UNEXPECTED;
}

HRESULT CapturePin::EndFlush()
{
    return E_UNEXPECTED;
}

HRESULT CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return S_OK;
}

// IAMStreamConfig

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* proposed)
{
    // The format never changes; a type the camera delivers anyway is agreed to.
    return accepts_media_type(proposed) ? S_OK : VFW_E_INVALIDMEDIATYPE;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** media_type)
{
    if (media_type == nullptr) {
        return E_POINTER;
    }
    UniqueMediaType built = build_media_type();
    if (!built) {
        return E_FAIL;
    }
    *media_type = built.release();
    return S_OK;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size)
{
    if (count == nullptr || size == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** media_type, BYTE* capability)
{
    if (index != 0) {
        return S_FALSE;
    }
    if (media_type == nullptr || capability == nullptr) {
        return E_POINTER;
    }
    UniqueMediaType built = build_media_type();
    if (!built) {
        return E_FAIL;
    }
    const VIDEO_STREAM_CONFIG_CAPS caps = stream_capability();
    std::memcpy(capability, &caps, sizeof caps); // the caller's bytes may be unaligned
    *media_type = built.release();
    return S_OK;
}

// IKsPropertySet: the pin category only.

HRESULT CapturePin::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD)
{
    return E_NOTIMPL;
}

HRESULT CapturePin::Get(REFGUID property_set, DWORD property_id, void*, DWORD, void* property_data,
                        DWORD property_size, DWORD* returned_size)
{
    if (!is_pin_category(property_set, property_id)) {
        return E_NOTIMPL;
    }
    if (returned_size != nullptr) {
        *returned_size = sizeof(GUID);
    }
    if (property_data == nullptr) {
        return S_OK; // a size query
    }
    if (property_size < sizeof(GUID)) {
        return E_UNEXPECTED;
    }
    std::memcpy(property_data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
    return S_OK;
}

HRESULT CapturePin::QuerySupported(REFGUID property_set, DWORD property_id, DWORD* support)
{
    if (!is_pin_category(property_set, property_id)) {
        return E_NOTIMPL;
    }
    if (support == nullptr) {
        return E_POINTER;
    }
    *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// IQualityControl: quality messages are accepted and ignored; the rate is fixed.

HRESULT CapturePin::Notify(IBaseFilter*, Quality)
{
    return S_OK;
}

HRESULT CapturePin::SetSink(IQualityControl*)
{
    return S_OK;
}

} // namespace tolvek::vcam
