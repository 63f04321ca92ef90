#pragma once

// The machinery every COM object of the camera is built on. An object names only its own
// interfaces:
//
//   class CapturePin final
//       : public ComObject<CapturePin, LiveObject::counted, IPin, IAMStreamConfig, ...>
//
// and gets from here: one interface table per interface (real multiple inheritance, so each
// table is laid out exactly as the documented interface), one identity (the IUnknown of its
// first table), an atomic reference count starting at 1, QueryInterface with the module's
// rules, and the interfaces every object answers: IUnknown, IAgileObject, IInspectable and
// IWeakReferenceSource. Whether the object counts in `live_objects` is its own declaration.
//
// InterfaceChain<IBaseFilter, IMediaFilter, IPersist> is one table (IBaseFilter) that also
// answers for the interfaces it extends.

#include <windows.h>
#include <inspectable.h>
#include <objidl.h>

#include "com_ptr_win.h"
#include "module_counters.h"
#include "sdk_declarations_win.h"

#include <atomic>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

// COM interfaces have no virtual destructor: objects end through Release, never through a
// delete of an interface pointer, so the warning about deriving from them does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace tolvek::vcam {

enum class LiveObject { counted, not_counted };

template <class Table, class... AlsoAnswers>
struct InterfaceChain {
};

// COM callers may pass a null REFIID, REFCLSID or REFGUID. C++ assumes that a reference is never
// null, so the address goes through a volatile, which keeps the compiler from folding the test
// away.
[[nodiscard]] inline bool is_null_reference(const IID& iid) noexcept
{
    const IID* volatile address = &iid;
    return address == nullptr;
}

namespace detail {

template <class Entry>
struct InterfaceEntry {
    using Table = Entry;
    static bool answers(REFIID iid) noexcept { return iid == __uuidof(Entry); }
};

template <class ChainTable, class... AlsoAnswers>
struct InterfaceEntry<InterfaceChain<ChainTable, AlsoAnswers...>> {
    static_assert((std::is_base_of_v<AlsoAnswers, ChainTable> && ...),
                  "a table answers only for interfaces it extends");
    using Table = ChainTable;
    static bool answers(REFIID iid) noexcept
    {
        return iid == __uuidof(Table) || ((iid == __uuidof(AlsoAnswers)) || ...);
    }
};

template <class Entry>
using TableOf = typename InterfaceEntry<Entry>::Table;

template <class First, class...>
struct FirstOf {
    using type = First;
};

// The QueryInterface rules, shared by every object: E_POINTER and nothing written for a null
// identifier or result pointer; E_NOINTERFACE and null written for an unknown identifier;
// otherwise the interface with a reference added through `self`.
template <class Find>
HRESULT answer_query(IUnknown* self, REFIID iid, void** result, Find&& find) noexcept
{
    if (is_null_reference(iid) || result == nullptr) {
        return E_POINTER;
    }
    void* found = find(iid);
    *result = found;
    if (found == nullptr) {
        return E_NOINTERFACE;
    }
    self->AddRef();
    return S_OK;
}

// Adds a reference unless the count has already reached 0: a dying object stays dead.
inline bool add_ref_unless_dead(std::atomic<ULONG>& references) noexcept
{
    ULONG count = references.load();
    do {
        if (count == 0) {
            return false;
        }
    } while (!references.compare_exchange_weak(count, count + 1));
    return true;
}

// The weak reference of one object. The object holds one reference to it and detaches it
// when its own count reaches 0, before anything of it is destroyed; Resolve takes a strong
// reference only under the same lock and only while the count is above 0, so it can never
// bring a dying object back.
//
// A host may keep the weak reference after the object is gone, and its Release and Resolve
// run in this module. From the first time it is handed out of the module to its end it
// therefore counts in `live_objects`, whatever its object counts, so that the module is not
// unloaded under it. While only the module's own objects hold it, they keep the module.
class WeakReference final : public IWeakReference, public IAgileObject {
public:
    WeakReference(IUnknown* target, std::atomic<ULONG>& target_references) noexcept
        : target_(target), target_references_(&target_references)
    {
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override
    {
        return answer_query(
            static_cast<IWeakReference*>(this), iid, result, [this](REFIID wanted) -> void* {
                if (wanted == __uuidof(IUnknown) || wanted == __uuidof(IWeakReference)) {
                    return static_cast<IWeakReference*>(this);
                }
                if (wanted == __uuidof(IAgileObject)) {
                    return static_cast<IAgileObject*>(this);
                }
                return nullptr;
            });
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG remaining = references_.fetch_sub(1) - 1;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    // IWeakReference: the object's interface `iid`, or S_OK with null once it is gone.
    HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, IInspectable** result) override
    {
        if (is_null_reference(iid) || result == nullptr) {
            return E_POINTER;
        }
        ComPtr<IUnknown> target;
        {
            std::lock_guard lock(lock_);
            if (target_ != nullptr && add_ref_unless_dead(*target_references_)) {
                target = ComPtr<IUnknown>::adopt(target_);
            }
        }
        if (!target) {
            *result = nullptr;
            return S_OK;
        }
        return target->QueryInterface(iid, reinterpret_cast<void**>(result));
    }

    // Called each time the reference goes out of the module; counts it from the first time.
    void count_as_handed_out() noexcept
    {
        if (!handed_out_.exchange(true)) {
            ++live_objects;
        }
    }

    // Called by the object when its count has reached 0.
    void detach() noexcept
    {
        std::lock_guard lock(lock_);
        target_ = nullptr;
        target_references_ = nullptr;
    }

private:
    ~WeakReference()
    {
        if (handed_out_.load()) {
            --live_objects;
        }
    }

    std::atomic<ULONG> references_{1};
    std::atomic<bool> handed_out_{false};
    std::mutex lock_;
    IUnknown* target_;
    std::atomic<ULONG>* target_references_;
};

} // namespace detail

template <class Derived, LiveObject counting, class... Entries>
class ComObject : public detail::TableOf<Entries>...,
                  public IInspectable,
                  public IAgileObject,
                  public IWeakReferenceSource {
    static_assert(sizeof...(Entries) > 0, "an object implements at least one interface");
    using IdentityTable = detail::TableOf<typename detail::FirstOf<Entries...>::type>;

public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // A new object with count 1, owned by the returned pointer; null when memory ran out.
    template <class... Args>
    [[nodiscard]] static ComPtr<Derived> create(Args&&... args) noexcept
    {
        return ComPtr<Derived>::adopt(new (std::nothrow) Derived(std::forward<Args>(args)...));
    }

    // The object's one IUnknown.
    [[nodiscard]] IUnknown* identity() noexcept
    {
        return static_cast<IUnknown*>(static_cast<IdentityTable*>(this));
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override
    {
        return detail::answer_query(identity(), iid, result,
                                    [this](REFIID wanted) { return find_interface(wanted); });
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        // Only the decremented value is used afterwards: once it is 0 the object is gone.
        const ULONG remaining = references_.fetch_sub(1) - 1;
        if (remaining == 0) {
            if (detail::WeakReference* weak = weak_reference_.load()) {
                weak->detach();
            }
            delete this;
        }
        return remaining;
    }

    // IInspectable: no interface list, no runtime class name, base trust.
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override
    {
        if (count == nullptr || iids == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override
    {
        if (name == nullptr) {
            return E_POINTER;
        }
        *name = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override
    {
        if (level == nullptr) {
            return E_POINTER;
        }
        *level = BaseTrust;
        return S_OK;
    }

    // IWeakReferenceSource
    HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference** result) override
    {
        if (result == nullptr) {
            return E_POINTER;
        }
        detail::WeakReference* weak = weak_reference();
        if (weak == nullptr) {
            *result = nullptr;
            return E_OUTOFMEMORY;
        }
        weak->count_as_handed_out();
        weak->AddRef();
        *result = weak;
        return S_OK;
    }

    // The same weak reference for the module's own objects: not counted in `live_objects`,
    // since whatever of the module holds it keeps the module loaded by itself. Null when
    // memory ran out.
    [[nodiscard]] ComPtr<IWeakReference> weak_reference_for_module() noexcept
    {
        return ComPtr<IWeakReference>{weak_reference()};
    }

protected:
    ComObject() noexcept
    {
        if constexpr (counting == LiveObject::counted) {
            ++live_objects;
        }
    }

    // Runs after the derived object's members are gone, so that `live_objects` reaches 0
    // only when everything the object held has been released.
    virtual ~ComObject()
    {
        if (detail::WeakReference* weak = weak_reference_.load()) {
            weak->Release();
        }
        if constexpr (counting == LiveObject::counted) {
            --live_objects;
        }
    }

private:
    // The object's one weak reference, made at the first request; null when memory ran out.
    detail::WeakReference* weak_reference() noexcept
    {
        detail::WeakReference* weak = weak_reference_.load();
        if (weak == nullptr) {
            auto* created = new (std::nothrow) detail::WeakReference(identity(), references_);
            if (created == nullptr) {
                return nullptr;
            }
            // Two first requests at once: one reference object wins, the other goes again.
            if (weak_reference_.compare_exchange_strong(weak, created)) {
                weak = created;
            } else {
                created->Release();
            }
        }
        return weak;
    }

    void* find_interface(REFIID iid) noexcept
    {
        if (iid == __uuidof(IUnknown)) {
            return identity();
        }
        if (iid == __uuidof(IInspectable)) {
            return static_cast<IInspectable*>(this);
        }
        if (iid == __uuidof(IAgileObject)) {
            return static_cast<IAgileObject*>(this);
        }
        if (iid == __uuidof(IWeakReferenceSource)) {
            return static_cast<IWeakReferenceSource*>(this);
        }
        void* found = nullptr;
        (take_if_answers<Entries>(iid, found) || ...); // stops at the first table that answers
        return found;
    }

    template <class Entry>
    bool take_if_answers(REFIID iid, void*& found) noexcept
    {
        if (!detail::InterfaceEntry<Entry>::answers(iid)) {
            return false;
        }
        found = static_cast<detail::TableOf<Entry>*>(this);
        return true;
    }

    std::atomic<ULONG> references_{1};
    std::atomic<detail::WeakReference*> weak_reference_{nullptr};
};

} // namespace tolvek::vcam

#pragma GCC diagnostic pop
