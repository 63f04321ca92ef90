#pragma once

// Declarations of the Windows SDK that MinGW-w64 10 lacks, each guarded so that a build
// with the SDK uses the SDK's own.

#include <windows.h>
#include <inspectable.h>

#if __has_include(<weakreference.h>)
#include <weakreference.h>
#endif

// COM interfaces have no virtual destructor: objects end through Release, never through a
// delete of an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// MIDL_INTERFACE is beyond clang-format.
// clang-format off

#ifndef __IWeakReference_INTERFACE_DEFINED__
#define __IWeakReference_INTERFACE_DEFINED__
MIDL_INTERFACE("00000037-0000-0000-C000-000000000046")
IWeakReference : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Resolve(REFIID riid, IInspectable** objectReference) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IWeakReference, 0x00000037, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x46)
#endif
#endif

#ifndef __IWeakReferenceSource_INTERFACE_DEFINED__
#define __IWeakReferenceSource_INTERFACE_DEFINED__
MIDL_INTERFACE("00000038-0000-0000-C000-000000000046")
IWeakReferenceSource : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference** weakReference) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IWeakReferenceSource, 0x00000038, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x46)
#endif
#endif

// clang-format on
#pragma GCC diagnostic pop

// Waitable timers with sub-millisecond resolution (Windows 10 1803 and later).
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
