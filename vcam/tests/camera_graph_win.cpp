#include "camera_graph_win.h"

#include "camera_registration_win.h"
#include "camera_registry_layout.h"
#include "frame_patterns.h"
#include "tolvek/wide_text_win.h"

#include <oleauto.h>

// In strmiids, but not declared by MinGW's qedit.h.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace tolvek::vcam::testing {

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

HRESULT find_pin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>& found)
{
    ComPtr<IEnumPins> pins;
    HRESULT result = filter->EnumPins(pins.put());
    if (FAILED(result)) {
        return result;
    }
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK) {
        PIN_DIRECTION pin_direction{};
        if (SUCCEEDED(pin->QueryDirection(&pin_direction)) && pin_direction == direction) {
            found = std::move(pin);
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

GrabbedSample::Picture picture_of(const std::byte* data, long length, std::uint32_t& number)
{
    if (length != static_cast<long>(kFrameSize)) {
        return GrabbedSample::Picture::other;
    }
    if (is_fill_colour(data, kFrameSize / kBytesPerPixel)) {
        return GrabbedSample::Picture::fill_colour;
    }
    number = pattern_named_by(data);
    return is_whole_pattern(data, number) ? GrabbedSample::Picture::numbered
                                          : GrabbedSample::Picture::other;
}

} // namespace

ScopedCameraRegistration::ScopedCameraRegistration()
{
    Result<std::u16string> registered = module_beside_this_program();
    if (registered) {
        registered = register_camera(registered.value());
    }
    if (!registered) {
        error_ = registered.error().text;
    }
}

ScopedCameraRegistration::~ScopedCameraRegistration()
{
    (void)unregister_camera(); // a test that needs it gone checks it itself
}

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

HMODULE loaded_camera_module()
{
    // The name views a literal, so it ends in a null.
    return GetModuleHandleW(as_wide(kCameraModuleFileName.data()));
}

HRESULT camera_module_can_unload_now()
{
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const HMODULE module = loaded_camera_module();
    if (module == nullptr) {
        return E_UNEXPECTED;
    }
    // Through void*: FARPROC is a placeholder type that GCC will not cast to another directly.
    const auto can_unload_now = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return can_unload_now != nullptr ? can_unload_now() : E_UNEXPECTED;
}

SampleRecorder::SampleRecorder(Inspection inspection)
    : read_picture_(inspection == Inspection::picture ? PictureReader(picture_of) : PictureReader())
{
}

HRESULT SampleRecorder::SampleCB(double, IMediaSample* sample)
{
    GrabbedSample grabbed;
    grabbed.arrival = MonotonicClock::now();
    grabbed.data_length = sample->GetActualDataLength();
    if (FAILED(sample->GetTime(&grabbed.start, &grabbed.stop))) {
        grabbed.start = grabbed.stop = -1;
    }
    BYTE* data = nullptr;
    if (read_picture_ && SUCCEEDED(sample->GetPointer(&data))) {
        grabbed.picture = read_picture_(reinterpret_cast<const std::byte*>(data),
                                        grabbed.data_length, grabbed.number);
    }
    {
        std::lock_guard lock(lock_);
        samples_.push_back(grabbed);
        if (hold_) {
            held_.emplace_back(sample);
        }
    }
    changed_.notify_all();
    return S_OK;
}

bool SampleRecorder::wait_until(const Condition& condition, std::chrono::milliseconds limit)
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, limit, [&] { return condition(samples_); });
}

std::vector<GrabbedSample> SampleRecorder::samples() const
{
    std::lock_guard lock(lock_);
    return samples_;
}

std::size_t SampleRecorder::count() const
{
    std::lock_guard lock(lock_);
    return samples_.size();
}

void SampleRecorder::clear()
{
    std::lock_guard lock(lock_);
    samples_.clear();
}

void SampleRecorder::hold_samples(bool hold)
{
    std::lock_guard lock(lock_);
    hold_ = hold;
}

void SampleRecorder::release_held_samples()
{
    std::vector<ComPtr<IMediaSample>> released;
    {
        std::lock_guard lock(lock_);
        released.swap(held_);
    }
    // Released outside the lock: giving a buffer back may wake the worker, which then calls
    // SampleCB.
}

HRESULT CaptureGraph::build(const ComPtr<IBaseFilter>& camera_filter, ISampleGrabberCB* callback,
                            GraphClock clock, GraphConnection connection)
{
    camera = camera_filter;
    HRESULT result = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IGraphBuilder, graph.put_void());
    if (SUCCEEDED(result)) {
        result = graph->QueryInterface(IID_IMediaControl, control.put_void());
    }
    if (SUCCEEDED(result) && callback != nullptr) {
        result = add_sample_grabber(callback);
    }
    if (SUCCEEDED(result)) {
        result = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IBaseFilter, renderer.put_void());
    }
    if (SUCCEEDED(result)) {
        result = graph->AddFilter(camera.get(), L"Tolvek Camera");
    }
    if (SUCCEEDED(result)) {
        result = graph->AddFilter(renderer.get(), L"Null Renderer");
    }
    if (SUCCEEDED(result)) {
        if (!grabber) {
            result = connect_directly(camera.get(), renderer.get());
        } else if (connection == GraphConnection::capture_graph_builder) {
            result = connect_as_capture_host();
        } else {
            result = connect_directly(camera.get(), grabber.get());
            if (SUCCEEDED(result)) {
                result = connect_directly(grabber.get(), renderer.get());
            }
        }
    }
    if (SUCCEEDED(result) && clock == GraphClock::none) {
        ComPtr<IMediaFilter> graph_filter;
        result = graph->QueryInterface(IID_IMediaFilter, graph_filter.put_void());
        if (SUCCEEDED(result)) {
            result = graph_filter->SetSyncSource(nullptr);
        }
    }
    return result;
}

HRESULT CaptureGraph::add_sample_grabber(ISampleGrabberCB* callback)
{
    HRESULT result = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, grabber.put_void());
    ComPtr<ISampleGrabber> grabber_control;
    if (SUCCEEDED(result)) {
        result = grabber->QueryInterface(IID_ISampleGrabber, grabber_control.put_void());
    }
    if (SUCCEEDED(result)) {
        result = grabber_control->SetCallback(callback, 0); // 0: SampleCB with the sample
    }
    if (SUCCEEDED(result)) {
        result = grabber_control->SetBufferSamples(FALSE);
    }
    if (SUCCEEDED(result)) {
        result = graph->AddFilter(grabber.get(), L"Sample Grabber");
    }
    return result;
}

HRESULT CaptureGraph::connect_as_capture_host()
{
    ComPtr<ICaptureGraphBuilder2> builder;
    HRESULT result = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICaptureGraphBuilder2, builder.put_void());
    if (SUCCEEDED(result)) {
        result = builder->SetFiltergraph(graph.get());
    }
    if (SUCCEEDED(result)) {
        result = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.get(),
                                       grabber.get(), renderer.get());
    }
    return result;
}

HRESULT CaptureGraph::connect_directly(IBaseFilter* from, IBaseFilter* to)
{
    ComPtr<IPin> output;
    ComPtr<IPin> input;
    HRESULT result = find_pin(from, PINDIR_OUTPUT, output);
    if (SUCCEEDED(result)) {
        result = find_pin(to, PINDIR_INPUT, input);
    }
    if (SUCCEEDED(result)) {
        result = graph->ConnectDirect(output.get(), input.get(), nullptr);
    }
    return result;
}

HRESULT CaptureGraph::camera_output(ComPtr<IPin>& pin) const
{
    return find_pin(camera.get(), PINDIR_OUTPUT, pin);
}

HRESULT CaptureGraph::camera_peer(ComPtr<IPin>& pin) const
{
    ComPtr<IPin> output;
    HRESULT result = camera_output(output);
    return SUCCEEDED(result) ? output->ConnectedTo(pin.put()) : result;
}

void CaptureGraph::release()
{
    if (control) {
        control->Stop();
    }
    control.reset();
    renderer.reset();
    grabber.reset();
    camera.reset();
    graph.reset();
}

} // namespace tolvek::vcam::testing
