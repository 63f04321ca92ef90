// A stand-in for the software device interface of cfgmgr32.dll, which Wine lacks. It has the
// real signatures and calling convention, records every call in the ledger and answers as
// the script says; a successful create calls back from another thread, as the platform does.
// See README.md beside this file.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "ledger_format.h"
#include "swdevice_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/wide_text_win.h"

namespace {

using namespace tolvek;
using namespace tolvek::standin;

// The stand-in uses the system's own lock and thread pool rather than the C++ runtime's
// threads: a DLL with a static copy of MinGW's thread library beside the program's own
// stalled new threads under load.

// Guards the ledger file's appends within this process and the live handles. Appends from
// different processes land whole: the file is opened for appending only, and a record is
// one write.
SRWLOCK ledger_lock = SRWLOCK_INIT;
std::set<std::uintptr_t> live_devices;
std::uintptr_t next_device = 1;

class LedgerLock {
public:
    LedgerLock() { AcquireSRWLockExclusive(&ledger_lock); }
    ~LedgerLock() { ReleaseSRWLockExclusive(&ledger_lock); }
    LedgerLock(const LedgerLock&) = delete;
    LedgerLock& operator=(const LedgerLock&) = delete;
};

void append_record(const std::string& record)
{
    const LedgerLock lock;
    CreateDirectoryW(L"C:\\tolvek-test-doubles", nullptr); // existing folders are fine
    CreateDirectoryW(kFolder, nullptr);
    const UniqueHandle file{CreateFileW(kLedgerPath, FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) {
        return;
    }
    DWORD written = 0;
    WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}

std::string read_script()
{
    const UniqueHandle file{CreateFileW(kScriptPath, GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    std::string text;
    if (!file) {
        return text;
    }
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr) && count > 0) {
        text.append(buffer, count);
    }
    return text;
}

struct Rule {
    std::string action{kSucceed};
    HRESULT result = S_OK;
    DWORD callback_delay_ms = 0;
};

// The first script line whose instance id is this one or "*"; without one, success at once.
// A line reads: instance-id action [result=0xHHHHHHHH] [delay_ms=N]
Rule rule_for(std::string_view instance_id)
{
    const std::string script = read_script();
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos) {
            end = script.size();
        }
        const std::string line = script.substr(start, end - start);
        start = end + 1;

        char match[128] = {};
        char action[64] = {};
        if (std::sscanf(line.c_str(), "%127s %63s", match, action) != 2 ||
            (match != instance_id && std::string_view{match} != "*")) {
            continue;
        }
        Rule rule;
        rule.action = action;
        if (const auto at = line.find("result="); at != std::string::npos) {
            rule.result = static_cast<HRESULT>(std::stoul(line.substr(at + 7), nullptr, 16));
        }
        if (const auto at = line.find("delay_ms="); at != std::string::npos) {
            rule.callback_delay_ms = static_cast<DWORD>(std::stoul(line.substr(at + 9)));
        }
        return rule;
    }
    return {};
}

// Instance ids are ASCII; other units only need to compare unequal.
std::string ascii(std::u16string_view text)
{
    std::string narrow;
    for (const char16_t unit : text) {
        narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return narrow;
}

std::string quoted_or_null(PCWSTR text)
{
    return text == nullptr ? "null" : quote_utf16(as_utf16(text));
}

// A multi-string with its terminating empty string, so "a\0\0" is recorded as it came.
std::string multi_string_or_null(PCZZWSTR text)
{
    if (text == nullptr) {
        return "null";
    }
    constexpr std::size_t kMostUnits = 4096;
    std::size_t length = 0;
    while (length + 1 < kMostUnits && !(text[length] == 0 && text[length + 1] == 0)) {
        ++length;
    }
    return quote_utf16(as_utf16(text, length + 2));
}

std::string hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string guid_text(const GUID& id)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0],
                  id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    return text;
}

std::string caller_fields()
{
    return "\tprocess=" + std::to_string(GetCurrentProcessId()) +
           "\tthread=" + std::to_string(GetCurrentThreadId());
}

std::string create_info_fields(const SW_DEVICE_CREATE_INFO* info)
{
    if (info == nullptr) {
        return "\tcreate_info=null";
    }
    return "\tcb_size=" + std::to_string(info->cbSize) +
           "\tinstance_id=" + quoted_or_null(info->pszInstanceId) +
           "\thardware_ids=" + multi_string_or_null(info->pszzHardwareIds) +
           "\tcompatible_ids=" + multi_string_or_null(info->pszzCompatibleIds) +
           "\tcontainer_id=" + (info->pContainerId ? guid_text(*info->pContainerId) : "null") +
           "\tcapability_flags=" + hex32(info->CapabilityFlags) +
           "\tdescription=" + quoted_or_null(info->pszDeviceDescription) +
           "\tlocation=" + quoted_or_null(info->pszDeviceLocation) +
           "\tsecurity_descriptor=" + (info->pSecurityDescriptor ? "present" : "null");
}

std::string property_fields(ULONG count, const DEVPROPERTY* properties)
{
    std::string fields = "\tproperty_count=" + std::to_string(count);
    if (properties == nullptr) {
        return fields + "\tproperties=null";
    }
    for (ULONG i = 0; i < count; ++i) {
        const DEVPROPERTY& property = properties[i];
        const std::string prefix = "\tproperty" + std::to_string(i) + ".";
        fields += prefix + "key=" + guid_text(property.CompKey.Key.fmtid) + "," +
                  std::to_string(property.CompKey.Key.pid);
        fields += prefix + "store=" + std::to_string(property.CompKey.Store);
        fields += prefix + "locale=" + quoted_or_null(property.CompKey.LocaleName);
        fields += prefix + "type=" + hex32(property.Type);
        fields += prefix + "buffer_size=" + std::to_string(property.BufferSize);
        fields += prefix + "buffer=" +
                  (property.Buffer ? hex_bytes(property.Buffer, property.BufferSize) : "null");
    }
    return fields;
}

HSWDEVICE new_device()
{
    const LedgerLock lock;
    const std::uintptr_t device = next_device++;
    live_devices.insert(device);
    return reinterpret_cast<HSWDEVICE>(device);
}

std::string device_field(HSWDEVICE device)
{
    return "\tdevice=" + std::to_string(reinterpret_cast<std::uintptr_t>(device));
}

// A creation callback due on a thread of the system's pool, as the platform makes it.
struct PendingCallback {
    SW_DEVICE_CREATE_CALLBACK callback;
    HSWDEVICE device;
    HRESULT result;
    PVOID context;
    std::u16string instance_id;
    DWORD delay_ms;
};

VOID CALLBACK call_back(PTP_CALLBACK_INSTANCE, PVOID parameter)
{
    const std::unique_ptr<PendingCallback> pending{static_cast<PendingCallback*>(parameter)};
    Sleep(pending->delay_ms);
    // Recorded before the call: once the callback returns, the caller may already be
    // creating the next device.
    append_record("callback" + caller_fields() + device_field(pending->device) +
                  "\tresult=" + hex32(static_cast<std::uint32_t>(pending->result)) + "\n");
    pending->callback(pending->device, pending->result, pending->context,
                      as_wide(pending->instance_id.c_str()));
}

} // namespace

extern "C" HRESULT WINAPI SwDeviceCreate(PCWSTR enumerator_name, PCWSTR parent_instance,
                                         const SW_DEVICE_CREATE_INFO* create_info,
                                         ULONG property_count, const DEVPROPERTY* properties,
                                         SW_DEVICE_CREATE_CALLBACK callback, PVOID context,
                                         HSWDEVICE* device_out)
{
    // Everything the caller handed over is recorded now: none of it may be used after the
    // call returns.
    const std::string request = "\tenumerator=" + quoted_or_null(enumerator_name) +
                                "\tparent=" + quoted_or_null(parent_instance) +
                                create_info_fields(create_info) +
                                property_fields(property_count, properties);
    const bool well_formed =
        create_info != nullptr && create_info->cbSize == sizeof(SW_DEVICE_CREATE_INFO) &&
        create_info->pszInstanceId != nullptr && callback != nullptr && device_out != nullptr;
    const Rule rule = well_formed ? rule_for(ascii(as_utf16(create_info->pszInstanceId)))
                                  : Rule{std::string{kFailAtOnce}, E_INVALIDARG, 0};

    if (rule.action == kFailAtOnce) {
        append_record("create" + caller_fields() + "\treturned=" + hex32(rule.result) +
                      "\tdevice=0" + request + "\n");
        return rule.result;
    }
    const HSWDEVICE device = new_device();
    *device_out = device;
    append_record("create" + caller_fields() + "\treturned=" + hex32(S_OK) + device_field(device) +
                  request + "\n");
    if (rule.action == kNeverCallBack) {
        return S_OK;
    }
    auto pending = std::make_unique<PendingCallback>(PendingCallback{
        callback, device, rule.action == kFailInCallback ? rule.result : S_OK, context,
        std::u16string{as_utf16(create_info->pszInstanceId)}, rule.callback_delay_ms});
    if (TrySubmitThreadpoolCallback(call_back, pending.get(), nullptr)) {
        [[maybe_unused]] PendingCallback* owned_by_the_pool = pending.release();
    } else {
        call_back(nullptr, pending.release()); // no pool thread: the caller's thread will do
    }
    return S_OK;
}

extern "C" VOID WINAPI SwDeviceClose(HSWDEVICE device)
{
    bool known = false;
    {
        const LedgerLock lock;
        known = live_devices.erase(reinterpret_cast<std::uintptr_t>(device)) == 1;
    }
    append_record("close" + caller_fields() + device_field(device) +
                  "\tknown=" + (known ? "true" : "false") + "\n");
}
