// The source filter as a host sees it: identity, state changes without a connection (the
// streaming ones are the worker's tests), the graph it joins, its one pin, and the
// interfaces it answers.

#include "camera_filter_win.h"

#include <uuids.h>

#include "camera_test_support_win.h"
#include "class_id_win.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace tolvek::vcam {
namespace {

using testing::Camera;
using testing::ComApartment;
using testing::WorkerThreads;

class CameraFilterTest : public ::testing::Test {
protected:
    IBaseFilter* filter() const { return camera.filter.get(); }

    FILTER_STATE state() const
    {
        FILTER_STATE state = static_cast<FILTER_STATE>(-1);
        EXPECT_EQ(filter()->GetState(INFINITE, &state), S_OK);
        return state;
    }

    ComApartment apartment;
    Camera camera = testing::make_camera();
};

TEST_F(CameraFilterTest, a_new_filter_is_the_stopped_tolvek_camera_in_no_graph)
{
    EXPECT_EQ(state(), State_Stopped);
    CLSID class_id{};
    EXPECT_EQ(filter()->GetClassID(&class_id), S_OK);
    EXPECT_EQ(class_id, CLSID_VirtualCamera);

    FILTER_INFO info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(filter()->QueryFilterInfo(&info), S_OK);
    std::array<WCHAR, MAX_FILTER_NAME> name{};
    std::memcpy(name.data(), L"Tolvek Camera", sizeof L"Tolvek Camera");
    EXPECT_EQ(std::memcmp(info.achName, name.data(), sizeof info.achName), 0)
        << "13 characters, then zeros through all 128";
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(filter()->QueryFilterInfo(nullptr), E_POINTER);
}

TEST_F(CameraFilterTest, pause_and_run_without_a_connection_change_the_state_and_start_nothing)
{
    const std::size_t workers = WorkerThreads::started();

    EXPECT_EQ(filter()->Pause(), S_OK);
    EXPECT_EQ(state(), State_Paused);
    EXPECT_EQ(filter()->Run(123'456'789), S_OK) << "any start time";
    EXPECT_EQ(state(), State_Running);
    EXPECT_EQ(filter()->Pause(), S_OK) << "back from running";
    EXPECT_EQ(state(), State_Paused);
    EXPECT_EQ(filter()->Stop(), S_OK);
    EXPECT_EQ(state(), State_Stopped);
    EXPECT_EQ(filter()->Stop(), S_OK) << "stopping a stopped filter";
    EXPECT_EQ(state(), State_Stopped);

    EXPECT_EQ(WorkerThreads::started(), workers);
}

TEST_F(CameraFilterTest, the_filter_keeps_no_reference_to_its_graph_and_hands_out_one)
{
    ComPtr<IFilterGraph> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(IFilterGraph), graph.put_void()),
              S_OK);
    const ULONG references = testing::reference_count(graph.get());

    EXPECT_EQ(filter()->JoinFilterGraph(graph.get(), L"camera"), S_OK);
    EXPECT_EQ(testing::reference_count(graph.get()), references);
    FILTER_INFO info{};
    ASSERT_EQ(filter()->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, graph.get());
    EXPECT_EQ(testing::reference_count(graph.get()), references + 1);
    info.pGraph->Release();

    EXPECT_EQ(filter()->JoinFilterGraph(nullptr, nullptr), S_OK);
    ASSERT_EQ(filter()->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
}

TEST_F(CameraFilterTest, find_pin_matches_capture_exactly)
{
    ComPtr<IPin> found;
    ASSERT_EQ(filter()->FindPin(L"Capture", found.put()), S_OK);
    EXPECT_EQ(found.get(), camera.pin.get());

    const wchar_t lone_high_surrogate[] = {L'C', L'a', L'p', L't', L'u', L'r', L'e', 0xD800, 0};
    const wchar_t lone_low_surrogate[] = {0xDC00, 0};
    for (const wchar_t* id : {L"capture", L"CAPTURE", L"Capture ", L"Captur", L"", L"Capture\n",
                              lone_high_surrogate, lone_low_surrogate}) {
        IPin* untouched = camera.pin.get();
        EXPECT_EQ(filter()->FindPin(id, &untouched), E_FAIL);
        EXPECT_EQ(untouched, camera.pin.get()) << "not written on failure";
    }
}

TEST_F(CameraFilterTest, enum_pins_lists_the_one_pin)
{
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter()->EnumPins(pins.put()), S_OK);
    IPin* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], camera.pin.get());
    listed[0]->Release();
}

TEST_F(CameraFilterTest, the_filter_has_no_clock_and_no_vendor_information)
{
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(IReferenceClock), clock.put_void()),
              S_OK);
    const ULONG references = testing::reference_count(clock.get());
    EXPECT_EQ(filter()->SetSyncSource(clock.get()), S_OK);
    EXPECT_EQ(testing::reference_count(clock.get()), references) << "no reference kept";

    IReferenceClock* untouched = clock.get();
    EXPECT_EQ(filter()->GetSyncSource(&untouched), E_FAIL);
    EXPECT_EQ(untouched, clock.get());
    LPWSTR vendor = nullptr;
    EXPECT_EQ(filter()->QueryVendorInfo(&vendor), E_NOTIMPL);
    EXPECT_EQ(vendor, nullptr);
}

TEST_F(CameraFilterTest, one_table_answers_for_the_filter_family_and_nothing_of_the_pin)
{
    ComPtr<IUnknown> media_filter;
    ComPtr<IUnknown> persist;
    ASSERT_EQ(filter()->QueryInterface(__uuidof(IMediaFilter), media_filter.put_void()), S_OK);
    ASSERT_EQ(filter()->QueryInterface(__uuidof(IPersist), persist.put_void()), S_OK);
    EXPECT_EQ(media_filter.get(), static_cast<IUnknown*>(filter()));
    EXPECT_EQ(persist.get(), static_cast<IUnknown*>(filter()));
    for (const IID& iid : {__uuidof(IAMStreamConfig), __uuidof(IKsPropertySet), __uuidof(IPin)}) {
        void* lacking = &lacking;
        EXPECT_EQ(filter()->QueryInterface(iid, &lacking), E_NOINTERFACE);
        EXPECT_EQ(lacking, nullptr);
    }
}

} // namespace
} // namespace tolvek::vcam
