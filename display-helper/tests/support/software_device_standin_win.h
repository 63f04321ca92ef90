#pragma once

// Control of the stand-in cfgmgr32.dll (tests/doubles/cfgmgr32_standin/README.md) from a
// test: empty its ledger and script, tell it how to answer creates, and read back every
// create, callback and close it saw, in order, from this process and from a service
// process alike.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tolvek::testing {

enum class StandinAction {
    succeed,          // a device, then the callback with S_OK
    fail_at_once,     // no device; SwDeviceCreate returns the rule's result
    fail_in_callback, // a device, then the callback with the rule's result
    never_call_back,  // a device and no callback ever
};

struct StandinRule {
    std::string instance_id = "*"; // the one create it applies to, or "*" for every one
    StandinAction action = StandinAction::succeed;
    HRESULT result = S_OK;
    DWORD callback_delay_ms = 0;
};

// Empties the ledger and the script: every create then succeeds at once.
void reset_software_device_standin();

// Replaces the script; the first rule that matches a create applies.
void script_software_device_standin(const std::vector<StandinRule>& rules);

struct LedgerProperty {
    std::string key; // "{A4C3D9F2-6B1E-4F7A-9D0C-2E5B8F31C740},2"
    std::uint32_t store = 0;
    std::optional<std::string> locale;
    std::uint32_t type = 0;
    std::uint32_t buffer_size = 0;
    std::optional<std::string> buffer; // the bytes as received
};

// Texts are UTF-8; a multi-string keeps its NULs, the terminating empty string included.
struct LedgerCreate {
    std::uint32_t process = 0;
    std::uint32_t thread = 0;
    std::uint32_t returned = 0; // the HRESULT SwDeviceCreate gave back
    std::uint64_t device = 0;   // 0 when no device was made
    std::optional<std::string> enumerator;
    std::optional<std::string> parent;
    std::uint32_t cb_size = 0;
    std::optional<std::string> instance_id;
    std::optional<std::string> hardware_ids;
    std::optional<std::string> compatible_ids;
    std::optional<std::string> container_id;
    std::uint32_t capability_flags = 0;
    std::optional<std::string> description;
    std::optional<std::string> location;
    bool security_descriptor_present = false;
    std::uint32_t property_count = 0;
    std::vector<LedgerProperty> properties;
};

struct LedgerCallback {
    std::uint32_t process = 0;
    std::uint32_t thread = 0;
    std::uint64_t device = 0;
    std::uint32_t result = 0;
};

struct LedgerClose {
    std::uint32_t process = 0;
    std::uint32_t thread = 0;
    std::uint64_t device = 0;
    bool known = false; // false: the handle was not a live device
};

using LedgerEvent = std::variant<LedgerCreate, LedgerCallback, LedgerClose>;

struct SoftwareDeviceLedger {
    std::vector<LedgerEvent> events; // in the order the calls happened

    [[nodiscard]] std::vector<LedgerCreate> creates() const;
    [[nodiscard]] std::vector<LedgerCallback> callbacks() const;
    [[nodiscard]] std::vector<LedgerClose> closes() const;

    // One text per fault: a device made and not closed, or closed more than once, and a
    // close of a handle that was never a device. Empty when every device made was closed
    // exactly once.
    [[nodiscard]] std::vector<std::string> imbalances() const;
};

// The ledger as it stands; a record still being written is left out.
[[nodiscard]] SoftwareDeviceLedger read_software_device_ledger();

// The UTF-16LE bytes of ASCII text and its terminating NUL, as a property buffer holds them.
[[nodiscard]] std::string utf16_buffer(std::string_view ascii);

} // namespace tolvek::testing
