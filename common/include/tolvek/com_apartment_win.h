#pragma once

// COM on the calling thread, in the multithreaded apartment, for the life of the object.
// Link ole32.

#include <windows.h>
#include <objbase.h>

namespace tolvek {

class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    // Only a successful initialisation is undone; a thread that had COM in another apartment
    // keeps it.
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

} // namespace tolvek
