// The output pin against the test's own input pin and allocator: Connect's checks, what it
// proposes and asks of the allocator, each downstream refusal with the references it leaves,
// concurrent and re-entrant calls, Disconnect, and the pin's identity, stream configuration,
// property set and quality control.

#include "capture_pin_win.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include "camera_test_support_win.h"
#include "module_counters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace tolvek::vcam {
namespace {

using testing::Camera;
using testing::ComApartment;
using testing::ConnectStep;
using testing::kWaitLimit;
using testing::TestAllocator;
using testing::TestInputPin;

constexpr ALLOCATOR_PROPERTIES kTwoFrames{2, 3'686'400, 1, 0};

auto fields(const ALLOCATOR_PROPERTIES& properties)
{
    return std::tuple{properties.cBuffers, properties.cbBuffer, properties.cbAlign,
                      properties.cbPrefix};
}

class CapturePinTest : public ::testing::Test {
protected:
    IPin* pin() const { return camera.pin.get(); }

    // ConnectedTo's answer, and the peer it gave.
    HRESULT connected_to(ComPtr<IPin>& peer) const { return pin()->ConnectedTo(peer.put()); }

    ComApartment apartment;
    Camera camera = testing::make_camera();
};

TEST_F(CapturePinTest, connect_checks_its_arguments_before_anything_else)
{
    ComPtr<TestInputPin> sink = testing::make_sink();
    const UniqueMediaType small = testing::camera_type_changed(640, 480, 32);

    EXPECT_EQ(pin()->Connect(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(pin()->Connect(sink.get(), small.get()), VFW_E_INVALIDMEDIATYPE);
    EXPECT_FALSE(sink->received_media_type()) << "the sink was never asked";

    ASSERT_EQ(pin()->Connect(sink.get(), nullptr), S_OK);
    ComPtr<TestInputPin> other = testing::make_sink();
    const UniqueMediaType camera_type = build_media_type();
    EXPECT_EQ(pin()->Connect(other.get(), small.get()), VFW_E_INVALIDMEDIATYPE)
        << "the type is judged before the connection";
    EXPECT_EQ(pin()->Connect(other.get(), camera_type.get()), VFW_E_ALREADY_CONNECTED);
    EXPECT_FALSE(other->received_media_type());
}

TEST_F(CapturePinTest, connect_proposes_the_full_camera_type_whatever_the_caller_passed)
{
    UniqueMediaType bare = build_media_type();
    bare->formattype = GUID_NULL; // video, RGB32 and nothing else: acceptable
    bare->lSampleSize = 1;
    ComPtr<TestInputPin> sink = testing::make_sink();

    ASSERT_EQ(pin()->Connect(sink.get(), bare.get()), S_OK);

    const std::optional<AM_MEDIA_TYPE> proposed = sink->received_media_type();
    ASSERT_TRUE(proposed);
    EXPECT_TRUE(testing::is_camera_media_type(*proposed, sink->received_format().data()));
    EXPECT_EQ(sink->connector(), pin()) << "the pin proposes itself";
}

TEST_F(CapturePinTest, without_a_downstream_allocator_a_memory_allocator_of_two_frames_is_made)
{
    ComPtr<TestInputPin> sink = testing::make_sink();

    ASSERT_EQ(pin()->Connect(sink.get(), nullptr), S_OK);

    ASSERT_NE(sink->notified_allocator(), nullptr);
    ASSERT_TRUE(sink->notified_properties());
    EXPECT_EQ(fields(*sink->notified_properties()), fields(kTwoFrames));
    EXPECT_EQ(sink->notified_read_only(), FALSE);
    EXPECT_EQ(sink->allocator_requirement_queries(), 0) << "requirements are never asked";
}

TEST_F(CapturePinTest, the_downstream_allocator_is_used_and_asked_for_two_frames)
{
    ComPtr<TestInputPin> sink = testing::make_sink({.offers_allocator = true});

    ASSERT_EQ(pin()->Connect(sink.get(), nullptr), S_OK);

    EXPECT_EQ(sink->notified_allocator(), sink->own_allocator());
    ASSERT_TRUE(sink->own_allocator()->requested_properties());
    EXPECT_EQ(fields(*sink->own_allocator()->requested_properties()), fields(kTwoFrames));
}

// Each way the downstream side can refuse, with the result Connect must give.
struct Refusal {
    const char* name;
    HRESULT expected;
    TestInputPin::Script script;
    HRESULT set_properties_result = S_OK;
};

class ConnectRefusalTest : public CapturePinTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(ConnectRefusalTest, ends_connect_with_its_result_and_leaves_no_reference_behind)
{
    const Refusal& refusal = GetParam();
    ComPtr<TestInputPin> sink = testing::make_sink(refusal.script);
    if (TestAllocator* allocator = sink->own_allocator()) {
        allocator->set_properties_result = refusal.set_properties_result;
    }
    const ULONG sink_references = testing::reference_count(sink->identity());
    const ULONG pin_references = testing::reference_count(pin());
    const ULONG allocator_references =
        sink->own_allocator() ? testing::reference_count(sink->own_allocator()->identity()) : 0;

    EXPECT_EQ(pin()->Connect(sink.get(), nullptr), refusal.expected);

    ComPtr<IPin> peer;
    EXPECT_EQ(connected_to(peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(testing::reference_count(sink->identity()), sink_references);
    EXPECT_EQ(testing::reference_count(pin()), pin_references);
    if (sink->own_allocator()) {
        EXPECT_EQ(testing::reference_count(sink->own_allocator()->identity()),
                  allocator_references);
    }
    // The pin is as good as new.
    ComPtr<TestInputPin> willing = testing::make_sink();
    EXPECT_EQ(pin()->Connect(willing.get(), nullptr), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    EachDownstreamStep, ConnectRefusalTest,
    ::testing::Values(
        Refusal{"receive_connection",
                VFW_E_TYPE_NOT_ACCEPTED,
                {.receive_connection_result = VFW_E_TYPE_NOT_ACCEPTED}},
        Refusal{"no_mem_input_pin", E_NOINTERFACE, {.has_mem_input_pin = false}},
        Refusal{"set_properties", E_INVALIDARG, {.offers_allocator = true}, E_INVALIDARG},
        Refusal{"notify_own_allocator",
                VFW_E_BADALIGN,
                {.offers_allocator = true, .notify_allocator_result = VFW_E_BADALIGN}},
        Refusal{"notify_made_allocator", E_FAIL, {.notify_allocator_result = E_FAIL}}),
    [](const ::testing::TestParamInfo<Refusal>& refusal) {
        return std::string(refusal.param.name);
    });

TEST_F(CapturePinTest, a_connected_pin_reports_its_peer_and_type_until_disconnect)
{
    ComPtr<TestInputPin> sink = testing::make_sink({.offers_allocator = true});
    const ULONG sink_references = testing::reference_count(sink->identity());
    const ULONG allocator_references = testing::reference_count(sink->own_allocator()->identity());
    ASSERT_EQ(pin()->Connect(sink.get(), nullptr), S_OK);

    ComPtr<IPin> peer;
    EXPECT_EQ(connected_to(peer), S_OK);
    EXPECT_EQ(peer.get(), static_cast<IPin*>(sink.get()));
    peer.reset();
    AM_MEDIA_TYPE media_type{};
    ASSERT_EQ(pin()->ConnectionMediaType(&media_type), S_OK);
    EXPECT_TRUE(testing::is_camera_media_type(media_type, media_type.pbFormat));
    CoTaskMemFree(media_type.pbFormat);
    EXPECT_EQ(pin()->ConnectionMediaType(nullptr), E_POINTER);

    EXPECT_EQ(pin()->Disconnect(), S_OK);

    IPin* untouched = pin();
    EXPECT_EQ(pin()->ConnectedTo(&untouched), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(untouched, pin());
    AM_MEDIA_TYPE untouched_type{};
    untouched_type.lSampleSize = 7;
    EXPECT_EQ(pin()->ConnectionMediaType(&untouched_type), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(untouched_type.lSampleSize, 7);
    EXPECT_EQ(testing::reference_count(sink->identity()), sink_references);
    EXPECT_EQ(testing::reference_count(sink->own_allocator()->identity()), allocator_references);
    EXPECT_EQ(pin()->Disconnect(), S_OK) << "also when not connected";
}

TEST_F(CapturePinTest, two_concurrent_connects_make_exactly_one_connection)
{
    UniqueHandle first_inside{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle first_may_go_on{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ComPtr<TestInputPin> first = testing::make_sink({.during_connect = [&](ConnectStep step) {
        if (step == ConnectStep::receive_connection) {
            SetEvent(first_inside.get());
            WaitForSingleObject(first_may_go_on.get(), static_cast<DWORD>(kWaitLimit.count()));
        }
    }});
    ComPtr<TestInputPin> second = testing::make_sink();
    HRESULT first_result = E_FAIL;
    HRESULT second_result = E_FAIL;

    std::thread first_connect([&] {
        ComApartment thread_apartment;
        first_result = pin()->Connect(first.get(), nullptr);
    });
    ASSERT_EQ(WaitForSingleObject(first_inside.get(), static_cast<DWORD>(kWaitLimit.count())),
              WAIT_OBJECT_0);
    std::thread second_connect([&] {
        ComApartment thread_apartment;
        second_result = pin()->Connect(second.get(), nullptr);
    });
    SetEvent(first_may_go_on.get());
    first_connect.join();
    second_connect.join();

    EXPECT_EQ(first_result, S_OK);
    EXPECT_EQ(second_result, VFW_E_ALREADY_CONNECTED);
    EXPECT_FALSE(second->received_media_type()) << "the second sink was never asked";
    ComPtr<IPin> peer;
    EXPECT_EQ(connected_to(peer), S_OK);
    EXPECT_EQ(peer.get(), static_cast<IPin*>(first.get()));
}

// What the camera answered to a downstream pin that called back from inside one step.
struct CallbackAnswers {
    HRESULT connected_to = E_FAIL;
    HRESULT connection_media_type = E_FAIL;
    HRESULT connect = E_FAIL;
    HRESULT disconnect = E_FAIL;
    HRESULT get_state = E_FAIL;
    FILTER_STATE state = State_Running;
};

class ReentrantConnectTest : public CapturePinTest,
                             public ::testing::WithParamInterface<ConnectStep> {};

// Connect holds the pin's lock across its calls into the downstream pin; calls back into the
// pin and its filter from inside them, on the same thread, must be answered, not deadlock.
TEST_P(ReentrantConnectTest, a_downstream_pin_calling_back_from_inside_connect_gets_answers)
{
    ComPtr<TestInputPin> nested = testing::make_sink();
    CallbackAnswers answers;
    const auto call_back = [&](ConnectStep step) {
        if (step != GetParam()) {
            return;
        }
        ComPtr<IPin> peer;
        answers.connected_to = pin()->ConnectedTo(peer.put());
        AM_MEDIA_TYPE media_type{};
        answers.connection_media_type = pin()->ConnectionMediaType(&media_type);
        answers.connect = pin()->Connect(nested.get(), nullptr);
        answers.disconnect = pin()->Disconnect();
        answers.get_state = camera.filter->GetState(0, &answers.state);
    };
    ComPtr<TestInputPin> sink =
        testing::make_sink({.offers_allocator = true, .during_connect = call_back});
    sink->own_allocator()->during_set_properties = call_back;

    EXPECT_EQ(pin()->Connect(sink.get(), nullptr), S_OK);

    EXPECT_EQ(answers.connected_to, VFW_E_NOT_CONNECTED) << "nothing is connected yet";
    EXPECT_EQ(answers.connection_media_type, VFW_E_NOT_CONNECTED);
    EXPECT_EQ(answers.connect, VFW_E_ALREADY_CONNECTED) << "a connection is being made";
    EXPECT_EQ(answers.disconnect, S_OK);
    EXPECT_EQ(answers.get_state, S_OK);
    EXPECT_EQ(answers.state, State_Stopped);
    EXPECT_FALSE(nested->received_media_type());
    ComPtr<IPin> peer;
    EXPECT_EQ(connected_to(peer), S_OK);
    EXPECT_EQ(peer.get(), static_cast<IPin*>(sink.get()));
}

std::string step_name(const ::testing::TestParamInfo<ConnectStep>& step)
{
    constexpr const char* kNames[] = {"receive_connection", "get_allocator", "set_properties",
                                      "notify_allocator"};
    return kNames[static_cast<int>(step.param)];
}

INSTANTIATE_TEST_SUITE_P(EachDownstreamStep, ReentrantConnectTest,
                         ::testing::Values(ConnectStep::receive_connection,
                                           ConnectStep::get_allocator, ConnectStep::set_properties,
                                           ConnectStep::notify_allocator),
                         step_name);

TEST_F(CapturePinTest, the_pin_reports_its_identity)
{
    PIN_INFO info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(pin()->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, camera.filter.get());
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    std::array<WCHAR, MAX_PIN_NAME> name{};
    std::memcpy(name.data(), L"Capture", sizeof L"Capture");
    EXPECT_EQ(std::memcmp(info.achName, name.data(), sizeof info.achName), 0)
        << "the name, then zeros to the end";
    const ULONG filter_references = testing::reference_count(camera.filter.get());
    info.pFilter->Release();
    EXPECT_EQ(testing::reference_count(camera.filter.get()), filter_references - 1)
        << "QueryPinInfo added one reference";
    EXPECT_EQ(pin()->QueryPinInfo(nullptr), E_POINTER);

    PIN_DIRECTION direction = PINDIR_INPUT;
    EXPECT_EQ(pin()->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);

    LPWSTR id = nullptr;
    ASSERT_EQ(pin()->QueryId(&id), S_OK);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(std::memcmp(id, L"Capture", 16), 0) << "seven units and the NUL";
    CoTaskMemFree(id);
}

TEST_F(CapturePinTest, a_pin_that_outlives_its_filter_reports_no_filter)
{
    ComPtr<IPin> pin_alone = camera.pin;
    camera = Camera{};

    PIN_INFO info{};
    ASSERT_EQ(pin_alone->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, nullptr);
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
}

TEST_F(CapturePinTest, the_pin_accepts_what_the_camera_delivers_and_refuses_the_rest)
{
    const UniqueMediaType camera_type = build_media_type();
    EXPECT_EQ(pin()->QueryAccept(camera_type.get()), S_OK);
    EXPECT_EQ(pin()->QueryAccept(testing::camera_type_changed(640, 480, 32).get()), S_FALSE);
    EXPECT_EQ(pin()->QueryAccept(testing::camera_type_changed(1280, -720, 32).get()), S_FALSE);
    EXPECT_EQ(pin()->QueryAccept(nullptr), S_FALSE);
}

TEST_F(CapturePinTest, input_pin_methods_are_refused_and_segments_ignored)
{
    ComPtr<TestInputPin> sink = testing::make_sink();
    const UniqueMediaType camera_type = build_media_type();
    EXPECT_EQ(pin()->ReceiveConnection(sink.get(), camera_type.get()), E_UNEXPECTED);
    EXPECT_EQ(pin()->EndOfStream(), E_UNEXPECTED);
    EXPECT_EQ(pin()->BeginFlush(), E_UNEXPECTED);
    EXPECT_EQ(pin()->EndFlush(), E_UNEXPECTED);
    EXPECT_EQ(pin()->NewSegment(0, 10'000'000, 1.0), S_OK);
    ULONG count = 0;
    EXPECT_EQ(pin()->QueryInternalConnections(nullptr, &count), E_NOTIMPL);
}

TEST_F(CapturePinTest, the_pin_answers_its_interfaces_and_not_the_filters)
{
    for (const IID& iid : {__uuidof(IPin), __uuidof(IAMStreamConfig), __uuidof(IKsPropertySet),
                           __uuidof(IQualityControl), __uuidof(IUnknown)}) {
        ComPtr<IUnknown> answered;
        EXPECT_EQ(pin()->QueryInterface(iid, answered.put_void()), S_OK);
    }
    for (const IID& iid : {__uuidof(IBaseFilter), __uuidof(IMemInputPin)}) {
        void* lacking = &lacking;
        EXPECT_EQ(pin()->QueryInterface(iid, &lacking), E_NOINTERFACE);
        EXPECT_EQ(lacking, nullptr);
    }
}

class StreamConfigTest : public CapturePinTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pin()->QueryInterface(__uuidof(IAMStreamConfig), config.put_void()), S_OK);
    }
    ComPtr<IAMStreamConfig> config;
};

TEST_F(StreamConfigTest, set_format_agrees_to_what_the_camera_delivers_and_changes_nothing)
{
    UniqueMediaType camera_type = build_media_type();
    EXPECT_EQ(config->SetFormat(camera_type.get()), S_OK);
    EXPECT_EQ(config->SetFormat(testing::camera_type_changed(640, 480, 32).get()),
              VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(config->SetFormat(nullptr), VFW_E_INVALIDMEDIATYPE);

    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(config->GetFormat(&format), S_OK);
    const UniqueMediaType owned(format);
    EXPECT_TRUE(testing::is_camera_media_type(*owned, owned->pbFormat));
    EXPECT_EQ(config->GetFormat(nullptr), E_POINTER);
}

TEST_F(StreamConfigTest, there_is_one_capability_of_128_bytes)
{
    int count = 0;
    int size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, 128);
    count = 5;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, nullptr), E_POINTER);
    EXPECT_EQ(config->GetNumberOfCapabilities(nullptr, &size), E_POINTER);
    EXPECT_EQ(count, 5) << "nothing written";
}

TEST_F(StreamConfigTest, the_capability_describes_the_one_fixed_format)
{
    std::array<BYTE, 128> caps;
    caps.fill(0xCC);
    EXPECT_EQ(config->GetStreamCaps(1, nullptr, nullptr), S_FALSE) << "the index comes first";
    EXPECT_EQ(config->GetStreamCaps(-1, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(config->GetStreamCaps(0, nullptr, caps.data()), E_POINTER);

    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(config->GetStreamCaps(0, &format, caps.data()), S_OK);
    const UniqueMediaType owned(format);
    EXPECT_TRUE(testing::is_camera_media_type(*owned, owned->pbFormat));

    VIDEO_STREAM_CONFIG_CAPS expected;
    std::memset(&expected, 0, sizeof expected);
    expected.guid = FORMAT_VideoInfo;
    expected.InputSize = expected.MinCroppingSize = expected.MaxCroppingSize = {1280, 720};
    expected.MinOutputSize = expected.MaxOutputSize = {1280, 720};
    expected.CropGranularityX = expected.CropGranularityY = 1;
    expected.OutputGranularityX = expected.OutputGranularityY = 1;
    expected.MinFrameInterval = expected.MaxFrameInterval = 333'333;
    expected.MinBitsPerSecond = expected.MaxBitsPerSecond = 884'736'000;
    EXPECT_EQ(std::memcmp(caps.data(), &expected, sizeof expected), 0)
        << "every field, and every other byte zero";
}

class PinPropertySetTest : public CapturePinTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pin()->QueryInterface(__uuidof(IKsPropertySet), properties.put_void()), S_OK);
    }
    ComPtr<IKsPropertySet> properties;
};

TEST_F(PinPropertySetTest, get_of_the_pin_category_tells_its_size_and_gives_capture)
{
    DWORD returned = 0;
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0,
                              &returned),
              S_OK);
    EXPECT_EQ(returned, 16u);

    std::array<BYTE, 16> category{};
    returned = 0;
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, category.data(),
                              15, &returned),
              E_UNEXPECTED);
    EXPECT_EQ(returned, 16u) << "written before the size check";

    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, category.data(),
                              16, nullptr),
              S_OK);
    EXPECT_EQ(std::memcmp(category.data(), &PIN_CATEGORY_CAPTURE, 16), 0);
}

TEST_F(PinPropertySetTest, only_getting_the_pin_category_is_supported)
{
    DWORD support = 0;
    EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
    EXPECT_EQ(support, static_cast<DWORD>(KSPROPERTY_SUPPORT_GET));

    GUID category = PIN_CATEGORY_CAPTURE;
    EXPECT_EQ(properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16),
              E_NOTIMPL);
    DWORD returned = 7;
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_MEDIUM, nullptr, 0, &category, 16,
                              &returned),
              E_NOTIMPL);
    EXPECT_EQ(properties->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                              16, &returned),
              E_NOTIMPL);
    const GUID* volatile null_set = nullptr;
    EXPECT_EQ(
        properties->Get(*null_set, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16, &returned),
        E_NOTIMPL);
    EXPECT_EQ(returned, 7u);
    EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_MEDIUM, &support),
              E_NOTIMPL);
}

TEST_F(CapturePinTest, quality_messages_are_accepted_and_no_sink_is_kept)
{
    ComPtr<IQualityControl> quality;
    ASSERT_EQ(pin()->QueryInterface(__uuidof(IQualityControl), quality.put_void()), S_OK);
    ComPtr<IQualityControl> other_sink;
    ASSERT_EQ(pin()->QueryInterface(__uuidof(IQualityControl), other_sink.put_void()), S_OK);
    const ULONG references = testing::reference_count(other_sink.get());

    EXPECT_EQ(quality->SetSink(other_sink.get()), S_OK);
    EXPECT_EQ(testing::reference_count(other_sink.get()), references);
    EXPECT_EQ(quality->Notify(camera.filter.get(), Quality{Famine, 500, -10'000, 0}), S_OK);
}

} // namespace
} // namespace tolvek::vcam
