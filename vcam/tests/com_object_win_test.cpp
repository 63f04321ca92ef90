// The common COM machinery on test objects built with it, called the way COM hosts call:
// through interface pointers and, for the layout, through raw table slots.

#include "com_object_win.h"

#include <strmif.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tolvek::vcam {
namespace {

// {0B4E71C2-5A36-4D0F-9E21-7C58D3A0B614}
constexpr CLSID kProbeClassId = {
    0x0B4E71C2, 0x5A36, 0x4D0F, {0x9E, 0x21, 0x7C, 0x58, 0xD3, 0xA0, 0xB6, 0x14}};

// Every method answers with its own success code, so that a call through a table slot shows
// which method it reached.
constexpr HRESULT answer(int method)
{
    return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x100 + method);
}

class Probe final : public ComObject<Probe, LiveObject::counted,
                                     InterfaceChain<IMediaFilter, IPersist>, IQualityControl> {
public:
    explicit Probe(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    ~Probe() override { ++destroyed_; }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* class_id) override
    {
        *class_id = kProbeClassId;
        return answer(3);
    }
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override { return answer(4); }
    HRESULT STDMETHODCALLTYPE Pause() override { return answer(5); }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return answer(6); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE*) override { return answer(7); }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return answer(8); }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock**) override { return answer(9); }
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter*, Quality) override { return answer(13); }
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl*) override { return answer(14); }

private:
    std::atomic<int>& destroyed_;
};

class Uncounted final : public ComObject<Uncounted, LiveObject::not_counted, IClassFactory> {
public:
    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// The function in slot `index` of the table that `interface_pointer` points at.
template <class Function>
Function table_slot(void* interface_pointer, int index)
{
    void** table = *static_cast<void***>(interface_pointer);
    return reinterpret_cast<Function>(table[index]);
}

template <class Interface>
ComPtr<Interface> query(IUnknown* object)
{
    ComPtr<Interface> result;
    EXPECT_EQ(object->QueryInterface(__uuidof(Interface), result.put_void()), S_OK);
    return result;
}

class ComObjectTest : public ::testing::Test {
protected:
    std::atomic<int> destroyed{0};
    ComPtr<Probe> probe = Probe::create(destroyed);
};

TEST_F(ComObjectTest, query_interface_with_null_arguments_gives_e_pointer_and_writes_nothing)
{
    void* untouched = &destroyed;
    const IID* volatile null_iid = nullptr; // what a C caller can pass as REFIID

    EXPECT_EQ(probe->QueryInterface(*null_iid, &untouched), E_POINTER);
    EXPECT_EQ(untouched, &destroyed);
    EXPECT_EQ(probe->QueryInterface(__uuidof(IPersist), nullptr), E_POINTER);
    EXPECT_EQ(probe->AddRef(), 2u) << "no reference was added";
    probe->Release();
}

TEST_F(ComObjectTest, an_interface_the_object_lacks_gives_e_nointerface_and_null)
{
    void* result = &destroyed;

    EXPECT_EQ(probe->QueryInterface(__uuidof(IPin), &result), E_NOINTERFACE);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(probe->QueryInterface(__uuidof(IBaseFilter), &result), E_NOINTERFACE)
        << "a chain answers for what it extends, not for what extends it";
}

TEST_F(ComObjectTest, every_interface_leads_to_the_one_identity)
{
    IUnknown* identity = probe->identity();
    ComPtr<IMediaFilter> media_filter = query<IMediaFilter>(identity);
    ComPtr<IPersist> persist = query<IPersist>(identity);
    ComPtr<IQualityControl> quality = query<IQualityControl>(identity);
    ComPtr<IInspectable> inspectable = query<IInspectable>(identity);
    ComPtr<IAgileObject> agile = query<IAgileObject>(identity);
    ComPtr<IWeakReferenceSource> weak_source = query<IWeakReferenceSource>(identity);

    EXPECT_EQ(static_cast<void*>(persist.get()), static_cast<void*>(media_filter.get()))
        << "IPersist is served by the IMediaFilter table";
    EXPECT_NE(static_cast<void*>(quality.get()), static_cast<void*>(media_filter.get()));
    for (IUnknown* through :
         std::initializer_list<IUnknown*>{media_filter.get(), persist.get(), quality.get(),
                                          inspectable.get(), agile.get(), weak_source.get()}) {
        EXPECT_EQ(query<IUnknown>(through).get(), identity);
    }
}

TEST_F(ComObjectTest, tables_are_laid_out_as_the_documented_interfaces)
{
    using Plain = HRESULT(STDMETHODCALLTYPE*)(void*);
    using GetClassId = HRESULT(STDMETHODCALLTYPE*)(void*, CLSID*);
    using GetIids = HRESULT(STDMETHODCALLTYPE*)(void*, ULONG*, IID**);
    using GetTrustLevel = HRESULT(STDMETHODCALLTYPE*)(void*, TrustLevel*);
    using SetSink = HRESULT(STDMETHODCALLTYPE*)(void*, IQualityControl*);

    ComPtr<IMediaFilter> media_filter = query<IMediaFilter>(probe->identity());
    CLSID class_id{};
    EXPECT_EQ(table_slot<GetClassId>(media_filter.get(), 3)(media_filter.get(), &class_id),
              answer(3));
    EXPECT_EQ(class_id, kProbeClassId);
    EXPECT_EQ(table_slot<Plain>(media_filter.get(), 4)(media_filter.get()), answer(4));
    EXPECT_EQ(table_slot<Plain>(media_filter.get(), 5)(media_filter.get()), answer(5));

    ComPtr<IQualityControl> quality = query<IQualityControl>(probe->identity());
    EXPECT_EQ(table_slot<SetSink>(quality.get(), 4)(quality.get(), nullptr), answer(14));

    ComPtr<IInspectable> inspectable = query<IInspectable>(probe->identity());
    ULONG count = 7;
    IID* iids = &class_id;
    EXPECT_EQ(table_slot<GetIids>(inspectable.get(), 3)(inspectable.get(), &count, &iids), S_OK);
    EXPECT_EQ(count, 0u);
    TrustLevel trust = FullTrust;
    EXPECT_EQ(table_slot<GetTrustLevel>(inspectable.get(), 5)(inspectable.get(), &trust), S_OK);
    EXPECT_EQ(trust, BaseTrust);

    using AddRef = ULONG(STDMETHODCALLTYPE*)(void*);
    using Release = ULONG(STDMETHODCALLTYPE*)(void*);
    EXPECT_EQ(table_slot<AddRef>(quality.get(), 1)(quality.get()), 5u);
    EXPECT_EQ(table_slot<Release>(inspectable.get(), 2)(inspectable.get()), 4u);
}

TEST_F(ComObjectTest, counts_are_shared_by_all_tables_and_the_last_release_destroys)
{
    IQualityControl* quality = query<IQualityControl>(probe->identity()).release();
    IPersist* persist = nullptr;
    ASSERT_EQ(quality->QueryInterface(__uuidof(IPersist), reinterpret_cast<void**>(&persist)),
              S_OK);

    EXPECT_EQ(persist->AddRef(), 4u);
    EXPECT_EQ(quality->Release(), 3u);
    EXPECT_EQ(persist->Release(), 2u);
    EXPECT_EQ(persist->Release(), 1u);
    EXPECT_EQ(destroyed, 0);

    EXPECT_EQ(probe.release()->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}

TEST(ComObjectCounting, counted_objects_raise_live_objects_while_they_live_and_others_do_not)
{
    const std::int32_t before = live_objects.load();
    std::atomic<int> destroyed{0};
    {
        ComPtr<Probe> first = Probe::create(destroyed);
        ComPtr<Probe> second = Probe::create(destroyed);
        EXPECT_EQ(live_objects.load(), before + 2);
        ComPtr<Uncounted> factory = Uncounted::create();
        EXPECT_EQ(live_objects.load(), before + 2);
        first.reset();
        EXPECT_EQ(live_objects.load(), before + 1);
    }
    EXPECT_EQ(live_objects.load(), before);
    EXPECT_EQ(destroyed, 2);
}

// A host may hold a weak reference after its object is gone and then call into it, so it
// keeps the module; the module's own use of it does not.
TEST(ComObjectCounting, a_weak_reference_handed_out_counts_in_live_objects_until_released)
{
    const std::int32_t before = live_objects.load();
    ComPtr<Uncounted> factory = Uncounted::create();
    ComPtr<IWeakReference> own = factory->weak_reference_for_module();
    ASSERT_TRUE(own);
    EXPECT_EQ(live_objects.load(), before) << "not yet handed out";

    ComPtr<IWeakReference> weak;
    ASSERT_EQ(factory->GetWeakReference(weak.put()), S_OK);
    EXPECT_EQ(weak.get(), own.get()) << "one weak reference per object";
    EXPECT_EQ(live_objects.load(), before + 1);
    factory.reset();
    own.reset();
    EXPECT_EQ(live_objects.load(), before + 1) << "the host still holds it";
    weak.reset();
    EXPECT_EQ(live_objects.load(), before);
}

TEST_F(ComObjectTest, inspectable_reports_no_interfaces_no_name_and_base_trust)
{
    ComPtr<IInspectable> inspectable = query<IInspectable>(probe->identity());
    ULONG count = 9;
    IID dummy{};
    IID* iids = &dummy;
    EXPECT_EQ(inspectable->GetIids(&count, &iids), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(iids, nullptr);

    HSTRING name = reinterpret_cast<HSTRING>(&dummy);
    EXPECT_EQ(inspectable->GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(name, nullptr);

    TrustLevel trust = PartialTrust;
    EXPECT_EQ(inspectable->GetTrustLevel(&trust), S_OK);
    EXPECT_EQ(trust, BaseTrust);

    count = 9;
    EXPECT_EQ(inspectable->GetIids(&count, nullptr), E_POINTER);
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(inspectable->GetIids(nullptr, &iids), E_POINTER);
    EXPECT_EQ(inspectable->GetRuntimeClassName(nullptr), E_POINTER);
    EXPECT_EQ(inspectable->GetTrustLevel(nullptr), E_POINTER);
}

TEST_F(ComObjectTest, a_weak_reference_resolves_while_the_object_lives_and_to_null_after)
{
    ComPtr<IWeakReferenceSource> source = query<IWeakReferenceSource>(probe->identity());
    ComPtr<IWeakReference> weak;
    ASSERT_EQ(source->GetWeakReference(weak.put()), S_OK);
    EXPECT_EQ(source->GetWeakReference(nullptr), E_POINTER);
    EXPECT_EQ(query<IUnknown>(weak.get()).get(), query<IUnknown>(weak.get()).get());
    EXPECT_NE(query<IUnknown>(weak.get()).get(), probe->identity()) << "not a strong reference";

    ComPtr<IQualityControl> resolved;
    ASSERT_EQ(
        weak->Resolve(__uuidof(IQualityControl), reinterpret_cast<IInspectable**>(resolved.put())),
        S_OK);
    EXPECT_EQ(resolved->SetSink(nullptr), answer(14));
    IInspectable* lacking = reinterpret_cast<IInspectable*>(&destroyed);
    EXPECT_EQ(weak->Resolve(__uuidof(IPin), &lacking), E_NOINTERFACE);
    EXPECT_EQ(lacking, nullptr);

    resolved.reset();
    source.reset();
    probe.reset();
    ASSERT_EQ(destroyed, 1) << "the weak reference keeps nothing alive";

    IInspectable* after = reinterpret_cast<IInspectable*>(&destroyed);
    EXPECT_EQ(weak->Resolve(__uuidof(IQualityControl), &after), S_OK);
    EXPECT_EQ(after, nullptr);
}

// Resolving on one thread while another drops the last reference: a resolve either gets a
// living object or null, and the object is destroyed exactly once.
TEST(ComObjectWeakReference, resolving_during_the_last_release_never_brings_the_object_back)
{
    constexpr int kRounds = 300;
    int resolved_alive = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<int> destroyed{0};
        ComPtr<Probe> probe = Probe::create(destroyed);
        ComPtr<IWeakReference> weak;
        ASSERT_EQ(probe->GetWeakReference(weak.put()), S_OK);

        std::atomic<bool> started{false};
        std::atomic<int> resurrections{0};
        std::thread resolver([&] {
            started = true;
            for (;;) {
                IInspectable* object = nullptr;
                if (FAILED(weak->Resolve(__uuidof(IInspectable), &object)) || object == nullptr) {
                    return;
                }
                if (destroyed.load() != 0) {
                    ++resurrections;
                }
                ++resolved_alive;
                object->Release();
            }
        });
        while (!started) {
            std::this_thread::yield();
        }
        probe.reset();
        resolver.join();

        ASSERT_EQ(resurrections.load(), 0) << round;
        ASSERT_EQ(destroyed.load(), 1) << round;
    }
    EXPECT_GT(resolved_alive, 0);
}

} // namespace
} // namespace tolvek::vcam
