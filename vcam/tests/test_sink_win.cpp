#include "test_sink_win.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include "camera_format.h"
#include "frame_patterns.h"

#include <cstring>
#include <utility>

namespace tolvek::vcam::testing {

namespace {

// Frees a media type that a sample handed out.
void free_media_type(AM_MEDIA_TYPE* media_type)
{
    if (media_type != nullptr) {
        CoTaskMemFree(media_type->pbFormat);
        if (media_type->pUnk != nullptr) {
            media_type->pUnk->Release();
        }
        CoTaskMemFree(media_type);
    }
}

ReceivedSample record_sample(IMediaSample* sample)
{
    ReceivedSample received;
    received.time_result = sample->GetTime(&received.start, &received.stop);
    received.data_length = sample->GetActualDataLength();
    received.size = sample->GetSize();
    received.sync_point = sample->IsSyncPoint() == S_OK;
    received.discontinuity = sample->IsDiscontinuity() == S_OK;
    received.preroll = sample->IsPreroll() == S_OK;
    AM_MEDIA_TYPE* media_type = nullptr;
    received.has_media_type = sample->GetMediaType(&media_type) == S_OK;
    free_media_type(media_type);
    LONGLONG media_start = 0;
    LONGLONG media_stop = 0;
    received.has_media_time = sample->GetMediaTime(&media_start, &media_stop) == S_OK;
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr && received.data_length > 0) {
        const auto* bytes = reinterpret_cast<const std::byte*>(data);
        const auto length = static_cast<std::size_t>(received.data_length);
        received.fill_colour = is_fill_colour(bytes, length / kBytesPerPixel);
        if (length >= kFrameSize && is_whole_pattern(bytes, pattern_named_by(bytes))) {
            received.pattern = pattern_named_by(bytes);
        }
    }
    received.thread_id = GetCurrentThreadId();
    return received;
}

} // namespace

// TestAllocator

ComPtr<TestAllocator> TestAllocator::create_wrapping_memory_allocator()
{
    ComPtr<IMemAllocator> inner;
    if (FAILED(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IMemAllocator), inner.put_void()))) {
        return nullptr;
    }
    return create(std::move(inner));
}

TestAllocator::TestAllocator(ComPtr<IMemAllocator> inner) noexcept : inner_(std::move(inner)) {}

std::optional<ALLOCATOR_PROPERTIES> TestAllocator::requested_properties() const
{
    std::lock_guard lock(lock_);
    return requested_;
}

int TestAllocator::commits() const
{
    std::lock_guard lock(lock_);
    return commits_;
}

int TestAllocator::decommits() const
{
    std::lock_guard lock(lock_);
    return decommits_;
}

template <class Done>
bool TestAllocator::wait_until(Done done) const
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, kWaitLimit, done);
}

bool TestAllocator::wait_for_get_buffer_calls(int calls) const
{
    return wait_until([&] { return get_buffer_calls_ >= calls; });
}

bool TestAllocator::wait_for_decommits(int calls) const
{
    return wait_until([&] { return decommits_ >= calls; });
}

HRESULT TestAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    {
        std::lock_guard lock(lock_);
        requested_ = *request;
    }
    if (during_set_properties) {
        during_set_properties(ConnectStep::set_properties);
    }
    if (FAILED(set_properties_result)) {
        return set_properties_result;
    }
    ALLOCATOR_PROPERTIES granted = *request;
    if (granted_buffer_size > 0) {
        granted.cbBuffer = granted_buffer_size;
    }
    return inner_->SetProperties(&granted, actual);
}

HRESULT TestAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties)
{
    return inner_->GetProperties(properties);
}

HRESULT TestAllocator::Commit()
{
    if (FAILED(commit_result)) {
        return commit_result;
    }
    const HRESULT result = inner_->Commit();
    std::lock_guard lock(lock_);
    ++commits_;
    return result;
}

HRESULT TestAllocator::Decommit()
{
    const HRESULT result = inner_->Decommit();
    {
        std::lock_guard lock(lock_);
        ++decommits_;
    }
    changed_.notify_all();
    return result;
}

HRESULT TestAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                 DWORD flags)
{
    {
        std::lock_guard lock(lock_);
        ++get_buffer_calls_;
    }
    changed_.notify_all();
    return inner_->GetBuffer(sample, start, stop, flags);
}

HRESULT TestAllocator::ReleaseBuffer(IMediaSample* sample)
{
    return inner_->ReleaseBuffer(sample);
}

// TestInputPin

TestInputPin::TestInputPin(Script script) : script_(std::move(script))
{
    if (script_.offers_allocator) {
        own_allocator_ = TestAllocator::create_wrapping_memory_allocator();
    }
}

void TestInputPin::during_connect(ConnectStep step) const
{
    if (script_.during_connect) {
        script_.during_connect(step);
    }
}

std::optional<AM_MEDIA_TYPE> TestInputPin::received_media_type() const
{
    std::lock_guard lock(lock_);
    return media_type_;
}

std::vector<BYTE> TestInputPin::received_format() const
{
    std::lock_guard lock(lock_);
    return format_;
}

IPin* TestInputPin::connector() const
{
    std::lock_guard lock(lock_);
    return connector_;
}

IMemAllocator* TestInputPin::notified_allocator() const
{
    std::lock_guard lock(lock_);
    return notified_allocator_;
}

std::optional<ALLOCATOR_PROPERTIES> TestInputPin::notified_properties() const
{
    std::lock_guard lock(lock_);
    return notified_properties_;
}

std::optional<BOOL> TestInputPin::notified_read_only() const
{
    std::lock_guard lock(lock_);
    return notified_read_only_;
}

int TestInputPin::allocator_requirement_queries() const
{
    std::lock_guard lock(lock_);
    return allocator_requirement_queries_;
}

std::vector<ReceivedSample> TestInputPin::samples() const
{
    std::lock_guard lock(lock_);
    return samples_;
}

std::size_t TestInputPin::sample_count() const
{
    std::lock_guard lock(lock_);
    return samples_.size();
}

bool TestInputPin::wait_for_samples(std::size_t count) const
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, kWaitLimit, [&] { return samples_.size() >= count; });
}

// IPin

HRESULT TestInputPin::Connect(IPin*, const AM_MEDIA_TYPE*)
{
    return E_UNEXPECTED;
}

HRESULT TestInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* media_type)
{
    {
        std::lock_guard lock(lock_);
        connector_ = connector;
        media_type_ = *media_type;
        format_.assign(media_type->pbFormat, media_type->pbFormat + media_type->cbFormat);
    }
    during_connect(ConnectStep::receive_connection);
    return script_.receive_connection_result;
}

HRESULT TestInputPin::Disconnect()
{
    return S_OK;
}

HRESULT TestInputPin::ConnectedTo(IPin**)
{
    return VFW_E_NOT_CONNECTED;
}

HRESULT TestInputPin::ConnectionMediaType(AM_MEDIA_TYPE*)
{
    return VFW_E_NOT_CONNECTED;
}

HRESULT TestInputPin::QueryPinInfo(PIN_INFO* info)
{
    *info = PIN_INFO{};
    info->dir = PINDIR_INPUT;
    return S_OK;
}

HRESULT TestInputPin::QueryDirection(PIN_DIRECTION* direction)
{
    *direction = PINDIR_INPUT;
    return S_OK;
}

HRESULT TestInputPin::QueryId(LPWSTR*)
{
    return E_NOTIMPL;
}

HRESULT TestInputPin::QueryAccept(const AM_MEDIA_TYPE*)
{
    return S_OK;
}

HRESULT TestInputPin::EnumMediaTypes(IEnumMediaTypes**)
{
    return E_NOTIMPL;
}

HRESULT TestInputPin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

HRESULT TestInputPin::EndOfStream()
{
    return S_OK;
}

HRESULT TestInputPin::BeginFlush()
{
    return S_OK;
}

HRESULT TestInputPin::EndFlush()
{
    return S_OK;
}

HRESULT TestInputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return S_OK;
}

// IMemInputPin

HRESULT TestInputPin::GetAllocator(IMemAllocator** allocator)
{
    during_connect(ConnectStep::get_allocator);
    if (!own_allocator_) {
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    *allocator = own_allocator_.get();
    (*allocator)->AddRef();
    return S_OK;
}

HRESULT TestInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL read_only)
{
    ALLOCATOR_PROPERTIES properties{};
    const bool has_properties = SUCCEEDED(allocator->GetProperties(&properties));
    {
        std::lock_guard lock(lock_);
        notified_allocator_ = allocator;
        notified_read_only_ = read_only;
        if (has_properties) {
            notified_properties_ = properties;
        }
    }
    during_connect(ConnectStep::notify_allocator);
    return script_.notify_allocator_result;
}

HRESULT TestInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*)
{
    std::lock_guard lock(lock_);
    ++allocator_requirement_queries_;
    return E_NOTIMPL;
}

HRESULT TestInputPin::Receive(IMediaSample* sample)
{
    const ReceivedSample received = record_sample(sample);
    std::size_t index = 0;
    {
        std::lock_guard lock(lock_);
        index = samples_.size();
        samples_.push_back(received);
    }
    changed_.notify_all();
    return script_.on_receive ? script_.on_receive(index, sample) : S_OK;
}

HRESULT TestInputPin::ReceiveMultiple(IMediaSample**, long, long*)
{
    return E_NOTIMPL;
}

HRESULT TestInputPin::ReceiveCanBlock()
{
    return S_OK;
}

// IUnknown

HRESULT TestInputPin::QueryInterface(REFIID iid, void** result)
{
    if (!script_.has_mem_input_pin && !is_null_reference(iid) && iid == __uuidof(IMemInputPin)) {
        if (result != nullptr) {
            *result = nullptr;
        }
        return E_NOINTERFACE;
    }
    return ComObject::QueryInterface(iid, result);
}

} // namespace tolvek::vcam::testing
