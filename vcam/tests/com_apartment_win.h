#pragma once

// COM on a thread of a test, a benchmark or the demo.

#include <windows.h>
#include <objbase.h>

namespace tolvek::vcam::testing {

// COM for the calling thread, multithreaded apartment, for the life of the object.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

} // namespace tolvek::vcam::testing
