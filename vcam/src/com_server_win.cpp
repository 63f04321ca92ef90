#include <windows.h>
#include <objbase.h>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_OK;
}
