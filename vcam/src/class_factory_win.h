#pragma once

// CameraClassFactory: makes the camera's source filter for COM. A fresh factory is made for
// every DllGetClassObject; it holds nothing but its reference count and does not count in
// `live_objects`, so a factory alone never keeps the module loaded.

#include <windows.h>
#include <unknwn.h>

#include "com_object_win.h"

namespace tolvek::vcam {

class CameraClassFactory final
    : public ComObject<CameraClassFactory, LiveObject::not_counted, IClassFactory> {
public:
    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

} // namespace tolvek::vcam
