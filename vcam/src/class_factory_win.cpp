#include "class_factory_win.h"

#include "camera_filter_win.h"
#include "module_counters.h"

namespace tolvek::vcam {

// IClassFactory

HRESULT CameraClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** result)
{
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    const ComPtr<CameraFilter> filter = CameraFilter::create_with_pin();
    if (!filter) {
        if (result != nullptr) {
            *result = nullptr;
        }
        return E_OUTOFMEMORY;
    }
    // The creation reference goes when `filter` does: an interface the filter lacks (or a
    // null argument) leaves nothing alive.
    return filter->QueryInterface(iid, result);
}

HRESULT CameraClassFactory::LockServer(BOOL lock)
{
    if (lock) {
        ++server_locks;
    } else {
        --server_locks;
    }
    return S_OK;
}

} // namespace tolvek::vcam
