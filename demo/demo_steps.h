#pragma once

// The steps of the end-to-end run that run inside Wine, one file each. Each prints its
// account and tells whether it went as it should.

#include <optional>
#include <string>

#include "account.h"

namespace tolvek::demo {

// The SID of the user this process runs as, as the system renders it.
[[nodiscard]] std::optional<std::string> this_process_user_sid();

// Prints the SID of the user this process runs as, alone on its line, for the script to
// pass to install.
void print_user_sid(Account& account);

enum class ServiceExpectation {
    installed, // the service manager holds the helper's service
    gone,      // the service manager has dropped it (waits for that, up to a deadline)
};

// The helper's service as the service manager holds it, or its absence.
void report_helper_service(Account& account, ServiceExpectation expectation);

// As the user's application: starts the installed service, asks it for two monitors on its
// pipe, lets one go, disconnects, and shows that the service stopped by itself, its log and
// what the stand-in cfgmgr32.dll recorded.
void run_monitor_client(Account& account);

// As any camera host: finds the registered camera among the video input devices and streams
// it through a graph while a producer publishes, then after the producer has gone.
void run_camera_viewer(Account& account);

} // namespace tolvek::demo
