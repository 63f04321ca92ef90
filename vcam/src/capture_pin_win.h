#pragma once

// CapturePin: the filter's one pin, the output pin "Capture" in the capture pin category.
// It offers exactly one format (1280 x 720 RGB32, 30 frames a second) and never changes it.
// Connecting pushes that format downstream, takes the downstream pin's IMemInputPin and
// settles the allocator the streaming worker takes its buffers from. All connection data
// lives in the CameraState it shares with the filter and the worker.

#include <windows.h>
#include <strmif.h>

#include "camera_state_win.h"
#include "com_object_win.h"

#include <memory>

namespace tolvek::vcam {

// The pin's id and name.
inline constexpr wchar_t kCapturePinName[] = L"Capture";

class CapturePin final : public ComObject<CapturePin, LiveObject::counted, IPin, IAMStreamConfig,
                                          IKsPropertySet, IQualityControl> {
public:
    explicit CapturePin(std::shared_ptr<CameraState> state) noexcept;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receive_pin, const AM_MEDIA_TYPE* proposed) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector,
                                                const AM_MEDIA_TYPE* proposed) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* media_type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* proposed) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* proposed) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** media_type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** media_type,
                                            BYTE* capability) override;

    // IKsPropertySet
    HRESULT STDMETHODCALLTYPE Set(REFGUID property_set, DWORD property_id, void* instance_data,
                                  DWORD instance_size, void* property_data,
                                  DWORD property_size) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID property_set, DWORD property_id, void* instance_data,
                                  DWORD instance_size, void* property_data, DWORD property_size,
                                  DWORD* returned_size) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID property_set, DWORD property_id,
                                             DWORD* support) override;

    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality quality) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

private:
    std::shared_ptr<CameraState> state_;
};

} // namespace tolvek::vcam
