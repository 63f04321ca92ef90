#include "camera_filter_win.h"

#include "class_id_win.h"
#include "enumerators_win.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace tolvek::vcam {

ComPtr<CameraFilter> CameraFilter::create_with_pin(const StreamingOptions& options) noexcept
{
    std::shared_ptr<CameraState> state = CameraState::create();
    if (!state) {
        return nullptr;
    }
    ComPtr<CapturePin> pin = CapturePin::create(state);
    if (!pin) {
        return nullptr;
    }
    state->self_pin = pin.get();
    ComPtr<CameraFilter> filter = create(state, std::move(pin), options);
    if (!filter) {
        return nullptr;
    }
    state->self_filter = filter->weak_reference_for_module();
    if (!state->self_filter) {
        return nullptr;
    }
    return filter;
}

CameraFilter::CameraFilter(std::shared_ptr<CameraState> state, ComPtr<CapturePin> pin,
                           const StreamingOptions& options) noexcept
    : state_(std::move(state)), pin_(std::move(pin)), options_(options)
{
}

CameraFilter::~CameraFilter()
{
    // A worker must not stream on for a filter nobody holds, nor outlive the module. On the
    // worker's own thread (the last reference dropped inside Receive) this only tells it to
    // end; it does so as soon as Receive returns.
    stop_streaming(*state_);
}

// IPersist

HRESULT CameraFilter::GetClassID(CLSID* class_id)
{
    if (class_id == nullptr) {
        return E_POINTER;
    }
    *class_id = CLSID_VirtualCamera;
    return S_OK;
}

// IMediaFilter

HRESULT CameraFilter::Stop()
{
    stop_streaming(*state_);
    const auto lock = state_->lock_state();
    state_->filter_state = State_Stopped;
    return S_OK;
}

HRESULT CameraFilter::Pause()
{
    return start_and_enter(State_Paused);
}

HRESULT CameraFilter::Run(REFERENCE_TIME)
{
    // The start time is not needed: sample times count from the worker's first sample.
    return start_and_enter(State_Running);
}

HRESULT CameraFilter::start_and_enter(FILTER_STATE new_state) noexcept
{
    if (HRESULT result = start_streaming(state_, options_); FAILED(result)) {
        return result;
    }
    const auto lock = state_->lock_state();
    state_->filter_state = new_state;
    return S_OK;
}

HRESULT CameraFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (state == nullptr) {
        return E_POINTER;
    }
    // A live source settles at once: never an intermediate or cannot-cue answer.
    const auto lock = state_->lock_state();
    *state = state_->filter_state;
    return S_OK;
}

HRESULT CameraFilter::SetSyncSource(IReferenceClock*)
{
    return S_OK; // samples are paced by the camera's own clock
}

HRESULT CameraFilter::GetSyncSource(IReferenceClock**)
{
    return E_FAIL;
}

// IBaseFilter

HRESULT CameraFilter::EnumPins(IEnumPins** enumerator)
{
    if (enumerator == nullptr) {
        return E_POINTER;
    }
    *enumerator = PinEnumerator::create(ComPtr<IPin>(pin_interface()), 0).release();
    return *enumerator != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CameraFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (id == nullptr || pin == nullptr) {
        return E_POINTER;
    }
    // Exactly "Capture": case-sensitive, nothing after it. UTF-16 that is not well formed (an
    // unpaired surrogate) can never equal it, and the comparison reads no further than the
    // first unit that differs.
    if (std::wcscmp(id, kCapturePinName) != 0) {
        return E_FAIL;
    }
    *pin = pin_interface();
    (*pin)->AddRef();
    return S_OK;
}

HRESULT CameraFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (info == nullptr) {
        return E_POINTER;
    }
    std::memset(info->achName, 0, sizeof info->achName);
    std::memcpy(info->achName, kCameraFilterName, sizeof kCameraFilterName);
    info->pGraph = state_->graph.load();
    if (info->pGraph != nullptr) {
        info->pGraph->AddRef();
    }
    return S_OK;
}

HRESULT CameraFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR)
{
    // No reference: the graph holds the filter, and leaves with JoinFilterGraph(null).
    state_->graph.store(graph);
    return S_OK;
}

HRESULT CameraFilter::QueryVendorInfo(LPWSTR*)
{
    return E_NOTIMPL;
}

} // namespace tolvek::vcam
