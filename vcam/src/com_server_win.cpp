// The module's two exports, its whole face to COM: the class object of the camera's one
// class, and whether the module may be unloaded. The module registers nothing itself.

#include <windows.h>
#include <objbase.h>

#include "class_factory_win.h"
#include "class_id_win.h"
#include "module_counters.h"

using namespace tolvek::vcam;

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID iid, void** result)
{
    if (is_null_reference(class_id) || is_null_reference(iid) || result == nullptr) {
        return E_POINTER;
    }
    if (class_id != CLSID_VirtualCamera) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    const ComPtr<CameraClassFactory> factory = CameraClassFactory::create();
    if (!factory) {
        *result = nullptr;
        return E_OUTOFMEMORY;
    }
    // A fresh factory each time; it goes again at once when it lacks the interface.
    return factory->QueryInterface(iid, result);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return module_can_unload() ? S_OK : S_FALSE;
}
