#include "setup/install_win.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "helper_owners_win.h"
#include "log.h"
#include "service/user_sid_win.h"
#include "setup/driver_package_win.h"
#include "setup/install_layout.h"
#include "setup/service_configuration.h"
#include "setup/windows_path.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

// Whether the file or folder is there and its attributes can be read.
bool metadata_readable(const std::u16string& path)
{
    return GetFileAttributesW(as_wide(path.c_str())) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::u16string> find_helper()
{
    const Result<std::u16string> program = module_path();
    if (!program) {
        return std::nullopt;
    }
    for (std::u16string& candidate : helper_candidates(parent_directory(program.value()))) {
        if (metadata_readable(candidate)) {
            return std::move(candidate);
        }
    }
    return std::nullopt;
}

Status add_shipped_driver_package(const std::u16string& helper_path)
{
    const std::u16string package = driver_package_path(helper_path);
    if (!metadata_readable(package)) {
        log_line("no driver package in this build; installing the service alone");
        return success();
    }
    return add_driver_package(package);
}

// Creates the service, or points an existing one at `command_line` without touching its
// display name.
Status create_or_update_service(const std::u16string& command_line)
{
    const UniqueServiceHandle manager{
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE)};
    if (!manager) {
        return win32_failure("no service manager: ", GetLastError());
    }
    const UniqueServiceHandle created{
        CreateServiceW(manager.get(), as_wide(kServiceName), as_wide(kServiceDisplayName),
                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, as_wide(command_line.c_str()),
                       nullptr,   // load order group
                       nullptr,   // tag
                       nullptr,   // dependencies
                       nullptr,   // account: local system
                       nullptr)}; // password
    if (created) {
        return success();
    }
    const DWORD create_error = GetLastError();
    if (create_error != ERROR_SERVICE_EXISTS) {
        return win32_failure("the service would not be created: ", create_error);
    }

    const UniqueServiceHandle existing{
        OpenServiceW(manager.get(), as_wide(kServiceName), SERVICE_CHANGE_CONFIG)};
    if (!existing) {
        return win32_failure("the service is there and would not open: ", GetLastError());
    }
    if (!ChangeServiceConfigW(existing.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL, as_wide(command_line.c_str()),
                              nullptr,    // load order group unchanged
                              nullptr,    // tag unchanged
                              nullptr,    // dependencies unchanged
                              nullptr,    // account unchanged
                              nullptr,    // password unchanged
                              nullptr)) { // display name unchanged
        return win32_failure("the service would not be reconfigured: ", GetLastError());
    }
    return success();
}

// The user's access entry as the system renders it in a descriptor's text: through the same
// conversion as the service's own descriptor. Should that fail, the entry as written, which
// then is what the widened text would hold.
std::string rendered_access_entry(const std::string& sid_text)
{
    const std::string entry = user_access_entry(sid_text);
    const Result<UniqueLocalMemory<void>> alone = security_descriptor_from_text("D:" + entry);
    if (!alone) {
        return entry;
    }
    const Result<std::u16string> rendered = rendered_dacl(alone.value().get());
    if (!rendered) {
        return entry;
    }
    return access_entries_of(utf16_to_utf8_lossy(rendered.value())).value_or(entry);
}

// Adds the user's access entry to the service's discretionary access list, unless the list
// already holds it.
Status widen_service_access(const std::string& sid_text)
{
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager) {
        return win32_failure("no service manager: ", GetLastError());
    }
    const UniqueServiceHandle service{
        OpenServiceW(manager.get(), as_wide(kServiceName), READ_CONTROL | WRITE_DAC)};
    if (!service) {
        return win32_failure("the service's descriptor would not open: ", GetLastError());
    }

    // Asked with no buffer, the call fails and tells the size it needs.
    DWORD needed = 0;
    QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) {
        return Error{"the service's descriptor would not size"};
    }
    std::vector<std::byte> descriptor(needed);
    if (!QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                    needed, &needed)) {
        return win32_failure("the service's descriptor would not read: ", GetLastError());
    }

    const Result<std::u16string> rendered = rendered_dacl(descriptor.data());
    if (!rendered) {
        return Error{"the service's descriptor would not render: " + rendered.error().text};
    }
    const std::optional<std::string> descriptor_text = utf16_to_utf8(rendered.value());
    if (!descriptor_text) {
        return Error{"the service's descriptor is not text: invalid utf-16: lone surrogate found"};
    }

    const std::optional<std::string> widened =
        widened_descriptor(*descriptor_text, sid_text, rendered_access_entry(sid_text));
    if (!widened) {
        return success();
    }
    const Result<UniqueLocalMemory<void>> widened_block = security_descriptor_from_text(*widened);
    if (!widened_block) {
        return Error{"the widened descriptor would not build: " + widened_block.error().text};
    }
    if (!SetServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION,
                                  widened_block.value().get())) {
        return win32_failure("the service's descriptor would not be widened: ", GetLastError());
    }
    return success();
}

} // namespace

Status install(const std::string& sid_argument)
{
    const std::optional<UserSid> user = parse_user_sid(sid_argument);
    if (!user) {
        return Error{"that is not a user"};
    }
    const std::optional<std::u16string> helper_path = find_helper();
    if (!helper_path) {
        return Error{"this build ships no display helper"};
    }
    TOLVEK_TRY(add_shipped_driver_package(*helper_path));
    TOLVEK_TRY(create_or_update_service(service_command_line(*helper_path, user->text)));
    TOLVEK_TRY(widen_service_access(user->text));
    log_line("installed for " + user->text);
    return success();
}

} // namespace tolvek
