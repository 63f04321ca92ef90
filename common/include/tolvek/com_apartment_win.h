#pragma once

// The calling thread's membership of a COM apartment, for the life of an object: joined when
// it is made, left when it goes, and only when the join succeeded.

#include <windows.h>
#include <objbase.h>

namespace tolvek {

enum class ApartmentKind {
    multithreaded,   // the one multithreaded apartment of the process
    single_threaded, // an apartment of the calling thread's own, as a window's thread has
};

class ComApartment {
public:
    explicit ComApartment(ApartmentKind kind = ApartmentKind::multithreaded) noexcept
        : result_(CoInitializeEx(nullptr, kind == ApartmentKind::multithreaded
                                              ? COINIT_MULTITHREADED
                                              : COINIT_APARTMENTTHREADED))
    {
    }
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) { // S_FALSE too: every successful join is balanced
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // S_OK, S_FALSE when the thread was a member already, or why it could not join
    // (RPC_E_CHANGED_MODE: it is a member of the other kind).
    [[nodiscard]] HRESULT join_result() const noexcept { return result_; }

private:
    HRESULT result_;
};

} // namespace tolvek
