// The real tolvek_vcam.dll, loaded with LoadLibraryW as COM loads an in-process server, and
// called through its two exports: the class object, the class factory, whether the module
// may be unloaded, and that it is never unloaded under a running worker.

#include <windows.h>
#include <strmif.h>

#include "camera_test_support_win.h"
#include "class_id_win.h"
#include "producer_process_win.h"
#include "sdk_declarations_win.h"
#include "test_sink_win.h"
#include "tolvek/owners_win.h"

#include <gtest/gtest.h>

#include <atomic>

namespace tolvek::vcam {
namespace {

using testing::ComApartment;
using testing::kWaitLimit;
using testing::TestInputPin;

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// {0D5E4F3A-71C2-4B8E-9A16-3C7B2E5D9F01}: a class the module does not serve.
constexpr CLSID kForeignClassId = {
    0x0D5E4F3A, 0x71C2, 0x4B8E, {0x9A, 0x16, 0x3C, 0x7B, 0x2E, 0x5D, 0x9F, 0x01}};

const IID& null_iid()
{
    const IID* volatile null = nullptr; // what a C caller can pass by reference
    return *null;
}

class ComServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module) << "tolvek_vcam.dll beside the test";
        ASSERT_NE(get_class_object, nullptr);
        ASSERT_NE(can_unload_now, nullptr);
        ASSERT_EQ(can_unload_now(), S_OK) << "no leftovers from an earlier test";
    }

    ComPtr<IClassFactory> factory()
    {
        ComPtr<IClassFactory> result;
        EXPECT_EQ(get_class_object(CLSID_VirtualCamera, __uuidof(IClassFactory), result.put_void()),
                  S_OK);
        return result;
    }

    ComApartment apartment;
    UniqueLibrary module{LoadLibraryW(testing::beside_this_program(L"tolvek_vcam.dll").c_str())};
    GetClassObjectFunction get_class_object = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(module.get(), "DllGetClassObject")));
    CanUnloadNowFunction can_unload_now = reinterpret_cast<CanUnloadNowFunction>(
        reinterpret_cast<void*>(GetProcAddress(module.get(), "DllCanUnloadNow")));
};

TEST_F(ComServerTest, the_null_checks_come_before_the_class_check)
{
    void* untouched = &untouched;
    EXPECT_EQ(get_class_object(kForeignClassId, __uuidof(IClassFactory), nullptr), E_POINTER);
    EXPECT_EQ(get_class_object(null_iid(), __uuidof(IClassFactory), &untouched), E_POINTER);
    EXPECT_EQ(get_class_object(CLSID_VirtualCamera, null_iid(), &untouched), E_POINTER);
    EXPECT_EQ(untouched, &untouched);
}

TEST_F(ComServerTest, a_foreign_class_is_not_available_and_nothing_is_written)
{
    void* untouched = &untouched;
    EXPECT_EQ(get_class_object(kForeignClassId, __uuidof(IClassFactory), &untouched),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(untouched, &untouched);
}

TEST_F(ComServerTest, the_class_object_is_a_fresh_factory_asked_for_the_requested_interface)
{
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(get_class_object(CLSID_VirtualCamera, __uuidof(IUnknown), unknown.put_void()), S_OK);
    ComPtr<IClassFactory> through_unknown;
    EXPECT_EQ(unknown->QueryInterface(__uuidof(IClassFactory), through_unknown.put_void()), S_OK);
    ComPtr<IClassFactory> second = factory();
    EXPECT_NE(second.get(), through_unknown.get()) << "factories are not shared";

    void* lacking = &lacking;
    EXPECT_EQ(get_class_object(CLSID_VirtualCamera, __uuidof(IBaseFilter), &lacking),
              E_NOINTERFACE);
    EXPECT_EQ(lacking, nullptr);
}

TEST_F(ComServerTest, create_instance_makes_a_filter_and_refuses_aggregation)
{
    ComPtr<IClassFactory> class_factory = factory();
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(class_factory->CreateInstance(nullptr, __uuidof(IBaseFilter), filter.put_void()),
              S_OK);
    CLSID class_id{};
    EXPECT_EQ(filter->GetClassID(&class_id), S_OK);
    EXPECT_EQ(class_id, CLSID_VirtualCamera);
    EXPECT_EQ(testing::reference_count(filter.get()), 1u)
        << "the creation reference was given back";
    filter.reset();

    void* untouched = &untouched;
    EXPECT_EQ(class_factory->CreateInstance(class_factory.get(), __uuidof(IBaseFilter), &untouched),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(untouched, &untouched);
}

TEST_F(ComServerTest, an_interface_the_filter_lacks_leaves_nothing_alive)
{
    ComPtr<IClassFactory> class_factory = factory();
    void* lacking = &lacking;
    EXPECT_EQ(class_factory->CreateInstance(nullptr, __uuidof(IMemInputPin), &lacking),
              E_NOINTERFACE);
    EXPECT_EQ(lacking, nullptr);
    EXPECT_EQ(class_factory->CreateInstance(nullptr, null_iid(), &lacking), E_POINTER);
    EXPECT_EQ(class_factory->CreateInstance(nullptr, __uuidof(IBaseFilter), nullptr), E_POINTER);
    EXPECT_EQ(can_unload_now(), S_OK) << "each new filter and pin was destroyed again";
}

TEST_F(ComServerTest, the_module_stays_while_a_filter_or_an_enumerator_lives)
{
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory()->CreateInstance(nullptr, __uuidof(IBaseFilter), filter.put_void()), S_OK);
    EXPECT_EQ(can_unload_now(), S_FALSE);

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.put()), S_OK);
    filter.reset();
    EXPECT_EQ(can_unload_now(), S_FALSE) << "the enumerator holds the pin";
    pins.reset();
    EXPECT_EQ(can_unload_now(), S_OK);
}

// A host that keeps a weak reference after releasing the filter still calls its Release, in
// this module: the module must stay while the weak reference lives.
TEST_F(ComServerTest, the_module_stays_while_a_weak_reference_lives_after_its_filter)
{
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory()->CreateInstance(nullptr, __uuidof(IBaseFilter), filter.put_void()), S_OK);
    ComPtr<IWeakReferenceSource> source;
    ASSERT_EQ(filter->QueryInterface(__uuidof(IWeakReferenceSource), source.put_void()), S_OK);
    ComPtr<IWeakReference> weak;
    ASSERT_EQ(source->GetWeakReference(weak.put()), S_OK);
    source.reset();
    filter.reset();
    EXPECT_EQ(can_unload_now(), S_FALSE) << "the weak reference is code of the module";

    weak.reset();
    EXPECT_EQ(can_unload_now(), S_OK);
}

TEST_F(ComServerTest, a_server_lock_keeps_the_module_and_a_factory_alone_does_not)
{
    ComPtr<IClassFactory> class_factory = factory();
    EXPECT_EQ(can_unload_now(), S_OK);
    EXPECT_EQ(class_factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(can_unload_now(), S_FALSE);
    EXPECT_EQ(class_factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload_now(), S_OK);
}

// A downstream filter that drops the last reference to the camera from inside Receive, and a
// host that then unloads the module at once: the worker still has to return from Receive
// into the module and end there. The module must stay mapped until the worker's thread has
// ended, and go with it.
TEST_F(ComServerTest, a_module_freed_while_its_worker_ends_is_unloaded_only_with_the_worker)
{
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory()->CreateInstance(nullptr, __uuidof(IBaseFilter), filter.put_void()), S_OK);
    ComPtr<IPin> pin;
    ASSERT_EQ(filter->FindPin(L"Capture", pin.put()), S_OK);

    UniqueHandle released{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle module_freed{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<IBaseFilter*> last_filter_reference{nullptr};
    std::atomic<DWORD> worker_id{0};
    TestInputPin::Script script;
    script.on_receive = [&](std::size_t, IMediaSample*) {
        if (IBaseFilter* filter_to_drop = last_filter_reference.exchange(nullptr)) {
            worker_id = GetCurrentThreadId();
            filter_to_drop->Release();
            SetEvent(released.get());
            WaitForSingleObject(module_freed.get(), static_cast<DWORD>(kWaitLimit.count()));
        }
        return S_OK;
    };
    ComPtr<TestInputPin> sink = testing::make_sink(std::move(script));
    ASSERT_EQ(pin->Connect(sink.get(), nullptr), S_OK);
    ASSERT_EQ(filter->Pause(), S_OK);
    pin.reset();
    last_filter_reference = filter.release();

    ASSERT_EQ(WaitForSingleObject(released.get(), static_cast<DWORD>(kWaitLimit.count())),
              WAIT_OBJECT_0);
    UniqueHandle worker{OpenThread(SYNCHRONIZE, FALSE, worker_id)};
    ASSERT_TRUE(worker);
    EXPECT_EQ(can_unload_now(), S_OK) << "every COM object of the camera is gone";
    module.reset(); // the host's FreeLibrary, while the worker is still inside Receive
    EXPECT_NE(GetModuleHandleW(L"tolvek_vcam.dll"), nullptr) << "the worker holds the module";
    SetEvent(module_freed.get());

    ASSERT_EQ(WaitForSingleObject(worker.get(), static_cast<DWORD>(kWaitLimit.count())),
              WAIT_OBJECT_0);
    EXPECT_EQ(GetModuleHandleW(L"tolvek_vcam.dll"), nullptr) << "and gave it back as it ended";
    EXPECT_EQ(testing::reference_count(sink->identity()), 1u) << "the camera let go of the sink";
}

} // namespace
} // namespace tolvek::vcam
