#pragma once

// The software device interface of cfgmgr32 (Windows 8 and later). MinGW-w64 10 ships no
// swdevice.h and lacks DEVPROPCOMPKEY and DEVPROPERTY; a build with the Windows SDK uses the
// SDK's own declarations. SwDeviceCreate and SwDeviceClose themselves are never declared
// here: the helper resolves them at run time (software_device_api_win.h), since Wine and
// older systems lack them and the helper must start there all the same.

#include <windows.h>

#include <devpropdef.h>

#if __has_include(<swdevice.h>)
#include <swdevice.h>
#else

DECLARE_HANDLE(HSWDEVICE);
typedef HSWDEVICE* PHSWDEVICE;

typedef enum _SW_DEVICE_CAPABILITIES {
    SWDeviceCapabilitiesNone = 0x00000000,
    SWDeviceCapabilitiesRemovable = 0x00000001,
    SWDeviceCapabilitiesSilentInstall = 0x00000002,
    SWDeviceCapabilitiesNoDisplayInUI = 0x00000004,
    SWDeviceCapabilitiesDriverRequired = 0x00000008,
} SW_DEVICE_CAPABILITIES;

typedef struct _SW_DEVICE_CREATE_INFO {
    ULONG cbSize;
    PCWSTR pszInstanceId;
    PCZZWSTR pszzHardwareIds;
    PCZZWSTR pszzCompatibleIds;
    const GUID* pContainerId;
    ULONG CapabilityFlags;
    PCWSTR pszDeviceDescription;
    PCWSTR pszDeviceLocation;
    const SECURITY_DESCRIPTOR* pSecurityDescriptor;
} SW_DEVICE_CREATE_INFO, *PSW_DEVICE_CREATE_INFO;

typedef VOID(WINAPI* SW_DEVICE_CREATE_CALLBACK)(HSWDEVICE hSwDevice, HRESULT CreateResult,
                                                PVOID pContext, PCWSTR pszDeviceInstanceId);

typedef enum _DEVPROPSTORE {
    DEVPROP_STORE_SYSTEM = 0,
    DEVPROP_STORE_USER = 1,
} DEVPROPSTORE,
    *PDEVPROPSTORE;

typedef struct _DEVPROPCOMPKEY {
    DEVPROPKEY Key;
    DEVPROPSTORE Store;
    PCWSTR LocaleName;
} DEVPROPCOMPKEY, *PDEVPROPCOMPKEY;

typedef struct _DEVPROPERTY {
    DEVPROPCOMPKEY CompKey;
    DEVPROPTYPE Type;
    ULONG BufferSize;
    PVOID Buffer;
} DEVPROPERTY, *PDEVPROPERTY;

#endif

#ifdef _WIN64
static_assert(sizeof(SW_DEVICE_CREATE_INFO) == 72, "the platform reads the record by this layout");
#endif

// The two entry points of cfgmgr32, as the stand-in of the tests exports them too.
using SwDeviceCreateFunction = HRESULT(WINAPI*)(PCWSTR enumerator_name, PCWSTR parent_instance,
                                                const SW_DEVICE_CREATE_INFO* create_info,
                                                ULONG property_count, const DEVPROPERTY* properties,
                                                SW_DEVICE_CREATE_CALLBACK callback, PVOID context,
                                                HSWDEVICE* device);
using SwDeviceCloseFunction = VOID(WINAPI*)(HSWDEVICE device);
