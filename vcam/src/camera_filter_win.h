#pragma once

// CameraFilter: the DirectShow source filter "Tolvek Camera" with its one output pin,
// "Capture". It answers the IBaseFilter family, keeps the filter state and starts and stops
// the streaming worker as the graph pauses, runs and stops. A worker never outlives the
// filter: when the filter's last reference goes, its worker is stopped first.

#include <windows.h>
#include <strmif.h>

#include "camera_state_win.h"
#include "capture_pin_win.h"
#include "com_object_win.h"
#include "streaming_worker_win.h"

#include <memory>

namespace tolvek::vcam {

inline constexpr wchar_t kCameraFilterName[] = L"Tolvek Camera";

class CameraFilter final : public ComObject<CameraFilter, LiveObject::counted,
                                            InterfaceChain<IBaseFilter, IMediaFilter, IPersist>> {
public:
    // A new filter with its pin and their shared state, owned by the returned pointer (count
    // 1); null when memory ran out. The class factory makes its filters with the default
    // options; benchmarks and tests may choose how the worker sleeps and starts its thread.
    [[nodiscard]] static ComPtr<CameraFilter>
    create_with_pin(const StreamingOptions& options = {}) noexcept;

    CameraFilter(std::shared_ptr<CameraState> state, ComPtr<CapturePin> pin,
                 const StreamingOptions& options) noexcept;
    ~CameraFilter() override;

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* class_id) override;

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout_ms, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** enumerator) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendor_info) override;

private:
    // Pause and Run: start the worker if there is none, then record the new state.
    HRESULT start_and_enter(FILTER_STATE new_state) noexcept;

    [[nodiscard]] IPin* pin_interface() const noexcept { return pin_.get(); }

    // Declared in this order so that the pin goes before the state, as the filter's
    // destruction releases them.
    std::shared_ptr<CameraState> state_;
    ComPtr<CapturePin> pin_;
    StreamingOptions options_;
};

} // namespace tolvek::vcam
