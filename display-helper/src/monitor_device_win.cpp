#include "monitor_device_win.h"

#include <atomic>
#include <memory>
#include <string>

#include "log.h"
#include "tolvek/error_text.h"
#include "tolvek/error_text_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

constexpr wchar_t kEnumeratorName[] = L"TolvekIdd";
constexpr wchar_t kParentInstance[] = L"HTREE\\ROOT\\0"; // the root device
// A multi-string of one id: the literal's own NUL ends the list.
constexpr wchar_t kHardwareIds[] = L"Root\\TolvekIdd\0";
constexpr wchar_t kDescription[] = L"Tolvek Virtual Monitor";
// Removable and installed silently; a driver is required, so a device that gets none is
// reported as failed through the callback. Shown in the UI like any monitor.
constexpr ULONG kCapabilityFlags = SWDeviceCapabilitiesRemovable |
                                   SWDeviceCapabilitiesSilentInstall |
                                   SWDeviceCapabilitiesDriverRequired;

// Shared between the waiting thread and the creation callback, which runs on a platform
// thread.
struct CreateWaitContext {
    explicit CreateWaitContext(UniqueHandle created_event) : event(std::move(created_event)) {}

    UniqueHandle event;
    std::atomic<HRESULT> result{S_OK};
};

VOID WINAPI on_device_created(HSWDEVICE, HRESULT create_result, PVOID context, PCWSTR)
{
    auto* wait = static_cast<CreateWaitContext*>(context);
    // The result is stored before the event is set: the waiter reads it only after its wait.
    wait->result.exchange(create_result);
    SetEvent(wait->event.get()); // a failure leaves the waiter to its timeout
}

} // namespace

std::optional<UniqueSwDevice> create_monitor_device(std::uint32_t width, std::uint32_t height,
                                                    std::uint32_t refresh_hz,
                                                    const MonitorIdentity& identity)
{
    std::u16string monitor_spec =
        utf8_to_utf16(monitor_spec_text(width, height, refresh_hz, identity));
    DEVPROPERTY property{};
    property.CompKey.Key = kMonitorSpecPropertyKey;
    property.CompKey.Store = DEVPROP_STORE_SYSTEM;
    property.CompKey.LocaleName = nullptr;
    property.Type = DEVPROP_TYPE_STRING;
    property.BufferSize =
        static_cast<ULONG>((monitor_spec.size() + 1) * sizeof(char16_t)); // with NUL
    property.Buffer = monitor_spec.data();

    const std::u16string instance_id = utf8_to_utf16(monitor_instance_id(identity.serial));
    SW_DEVICE_CREATE_INFO create_info{};
    create_info.cbSize = sizeof create_info;
    create_info.pszInstanceId = as_wide(instance_id.c_str());
    create_info.pszzHardwareIds = kHardwareIds;
    create_info.pszzCompatibleIds = nullptr;
    create_info.pContainerId = nullptr;
    create_info.CapabilityFlags = kCapabilityFlags;
    create_info.pszDeviceDescription = kDescription;
    create_info.pszDeviceLocation = nullptr;
    create_info.pSecurityDescriptor = nullptr;

    UniqueHandle event{CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr)};
    if (!event) {
        const DWORD error = GetLastError();
        log_line("no event for the create callback: " + win32_error_text(error));
        return std::nullopt;
    }
    auto context = std::make_unique<CreateWaitContext>(std::move(event));

    const SoftwareDeviceApi& api = software_device_api();
    // Where the system lacks the interface, the create fails like a refused one, with the
    // reason the lookup gave.
    HSWDEVICE created = nullptr;
    const HRESULT started = api.create
                                ? api.create(kEnumeratorName, kParentInstance, &create_info, 1,
                                             &property, on_device_created, context.get(), &created)
                                : api.missing;
    if (FAILED(started)) {
        // Nothing was created and no callback will come; `created` is not a handle.
        log_line("SwDeviceCreate refused: " + hresult_error_text(started));
        return std::nullopt;
    }
    UniqueSwDevice device{created};

    if (WaitForSingleObject(context->event.get(), kDeviceCreationTimeoutMs) != WAIT_OBJECT_0) {
        device.reset();
        // The callback may still come after this, and it uses the context and its event:
        // both are left alive on purpose. The cost is one event and a few bytes per create
        // that timed out.
        [[maybe_unused]] CreateWaitContext* left_for_a_late_callback = context.release();
        log_line("the device was not created within the timeout");
        return std::nullopt;
    }
    const HRESULT create_result = context->result.load();
    context.reset();
    if (FAILED(create_result)) {
        device.reset();
        log_line("the device was refused after creation: " +
                 format_hresult_error({}, static_cast<std::uint32_t>(create_result)));
        return std::nullopt;
    }
    return device;
}

} // namespace tolvek
