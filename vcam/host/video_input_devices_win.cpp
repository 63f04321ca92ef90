#include "video_input_devices_win.h"

#include <oleauto.h>

#include "camera_registry_layout.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::vcam {
namespace {

// A VARIANT cleared when it goes.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() noexcept { return &value_; }

private:
    VARIANT value_;
};

HRESULT friendly_name(IMoniker* moniker, std::wstring& name)
{
    ComPtr<IPropertyBag> properties;
    HRESULT result =
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, properties.put_void());
    if (FAILED(result)) {
        return result;
    }
    Variant value;
    result = properties->Read(L"FriendlyName", value.get(), nullptr);
    if (FAILED(result)) {
        return result;
    }
    if (value.get()->vt != VT_BSTR) {
        return E_UNEXPECTED;
    }
    name.assign(value.get()->bstrVal, SysStringLen(value.get()->bstrVal));
    return S_OK;
}

} // namespace

HRESULT list_video_input_devices(VideoInputDevices& devices)
{
    ComPtr<ICreateDevEnum> enumerator;
    HRESULT result = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICreateDevEnum, enumerator.put_void());
    if (FAILED(result)) {
        return result;
    }
    ComPtr<IEnumMoniker> monikers;
    result = enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
    if (result != S_OK) {
        return result == S_FALSE ? S_OK : result; // S_FALSE: the category is empty
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
        std::wstring name;
        result = friendly_name(moniker.get(), name);
        if (FAILED(result)) {
            return result;
        }
        if (as_utf16(name) == kCameraFriendlyName) {
            devices.camera = moniker;
        }
        devices.friendly_names.push_back(std::move(name));
    }
    return S_OK;
}

HRESULT bind_camera(IMoniker* camera, ComPtr<IBaseFilter>& filter)
{
    return camera->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.put_void());
}

} // namespace tolvek::vcam
