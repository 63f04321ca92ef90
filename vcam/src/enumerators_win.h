#pragma once

// The two enumerators of the camera: PinEnumerator (IEnumPins) over the filter's one pin,
// made by IBaseFilter::EnumPins, and MediaTypeEnumerator (IEnumMediaTypes) over the pin's one
// media type, made by IPin::EnumMediaTypes. Each list holds one item and never changes, so
// each enumerator is a cursor with two positions, guarded by a lock of its own.

#include <windows.h>
#include <strmif.h>

#include "com_object_win.h"
#include "enumerator_cursor.h"

#include <cstdint>
#include <mutex>

namespace tolvek::vcam {

// Next, Skip, Reset and Clone, shared by both enumerators. `Derived` makes the item
// (make_item) and a new enumerator of its kind at a position (clone_at).
template <class Derived, class Interface, class Item>
class SingleItemEnumerator : public ComObject<Derived, LiveObject::counted, Interface> {
public:
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override
    {
        if (count > 0 && items == nullptr) {
            return E_POINTER;
        }
        if (count > 1 && fetched == nullptr) {
            return E_INVALIDARG; // the caller could not tell how many it got
        }
        std::lock_guard lock(lock_);
        const std::uint32_t handed_out = cursor_.available(count);
        if (handed_out == 1) {
            if (FAILED(static_cast<Derived*>(this)->make_item(items[0]))) {
                return E_FAIL;
            }
        }
        cursor_.advance(handed_out);
        if (fetched != nullptr) {
            *fetched = handed_out;
        }
        return handed_out == count ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        std::lock_guard lock(lock_);
        return cursor_.skip(count) ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        std::lock_guard lock(lock_);
        cursor_.reset();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(Interface** result) override
    {
        if (result == nullptr) {
            return E_POINTER;
        }
        std::uint32_t position = 0;
        {
            std::lock_guard lock(lock_);
            position = cursor_.position();
        }
        ComPtr<Derived> clone = static_cast<Derived*>(this)->clone_at(position);
        if (!clone) {
            *result = nullptr;
            return E_OUTOFMEMORY;
        }
        *result = clone.release();
        return S_OK;
    }

protected:
    explicit SingleItemEnumerator(std::uint32_t position) noexcept : cursor_(position) {}

private:
    std::mutex lock_;
    EnumeratorCursor cursor_;
};

class PinEnumerator final : public SingleItemEnumerator<PinEnumerator, IEnumPins, IPin*> {
public:
    // Holds its own reference to `pin` for its whole life.
    PinEnumerator(ComPtr<IPin> pin, std::uint32_t position) noexcept;

    // The pin, with a reference added for the caller.
    HRESULT make_item(IPin*& item) noexcept;
    [[nodiscard]] ComPtr<PinEnumerator> clone_at(std::uint32_t position) noexcept;

private:
    ComPtr<IPin> pin_;
};

class MediaTypeEnumerator final
    : public SingleItemEnumerator<MediaTypeEnumerator, IEnumMediaTypes, AM_MEDIA_TYPE*> {
public:
    explicit MediaTypeEnumerator(std::uint32_t position) noexcept;

    // A new camera media type that the caller frees; E_FAIL when memory ran out.
    HRESULT make_item(AM_MEDIA_TYPE*& item) noexcept;
    [[nodiscard]] ComPtr<MediaTypeEnumerator> clone_at(std::uint32_t position) noexcept;
};

} // namespace tolvek::vcam
