#pragma once

// Owners of the Windows resource kinds that only the display helper uses, one line each over
// the common UniqueResource. Like the common owners, closing keeps the thread's last error.

#include <windows.h>

#include "software_device_api_win.h"
#include "tolvek/owners_win.h"

namespace tolvek {

// A software device (SwDeviceCreate): closing the handle removes the device from the system.
using UniqueSwDevice = UniqueResource<ClosedWith<HSWDEVICE, close_software_device>>;

} // namespace tolvek
