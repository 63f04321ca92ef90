#include "capture_graph_win.h"

namespace tolvek::vcam {

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

HRESULT make_sample_grabber(ISampleGrabberCB* callback, ComPtr<IBaseFilter>& grabber)
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
    return result;
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
    HRESULT result = make_sample_grabber(callback, grabber);
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

} // namespace tolvek::vcam
