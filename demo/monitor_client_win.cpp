// Monitors as the user's application gets them: it starts the installed service (install
// let the user do that), speaks the request protocol on the helper's pipe, and disconnects.
// Then the service must stop by itself, its log must tell the story, and the stand-in
// cfgmgr32.dll, which Wine needs for want of SwDeviceCreate, must have recorded each device
// made and closed.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "demo_steps.h"
#include "helper_owners_win.h"
#include "monitor_identity.h"
#include "request_protocol.h"
#include "service/request_dispatch.h"
#include "service_name.h"
#include "support/helper_service_win.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::demo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStateLimit = 20s; // the service reports each state within a second or two
constexpr auto kPipeLimit = 10s;  // the pipe exists right after the service reports running

struct Monitor {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t serial;

    [[nodiscard]] std::string spec_text() const
    {
        return monitor_spec_text(width, height, kMonitorRefreshHz,
                                 {kMonitorVendorId, kMonitorProductId, serial});
    }
};

constexpr Monitor kMonitors[] = {{1920, 1080, 1}, {2560, 1440, 2}};

struct Exchange {
    Request request;
    Reply expected;
};

// Ping, create both monitors, destroy the first; the second goes with the connection.
std::vector<Exchange> conversation()
{
    std::vector<Exchange> exchanges{{Ping{}, Reply::pong()}};
    for (const Monitor& monitor : kMonitors) {
        exchanges.push_back({Create{monitor.width, monitor.height, kMonitorRefreshHz,
                                    kMonitorVendorId, kMonitorProductId, monitor.serial},
                             Reply::success()});
    }
    exchanges.push_back({Destroy{kMonitors[0].serial}, Reply::success()});
    return exchanges;
}

std::string without_line_feed(std::string line)
{
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    return line;
}

// Starts the service and waits until it runs; its process id, or nothing.
std::optional<DWORD> start_service(Account& account, SC_HANDLE manager)
{
    const UniqueServiceHandle service{OpenServiceW(manager, as_wide(kServiceName), SERVICE_START)};
    if (!service || !StartServiceW(service.get(), 0, nullptr)) {
        account.expect(false, "the service would not start: " + win32_error_text(GetLastError()));
        return std::nullopt;
    }
    const auto asked = Clock::now();
    const SERVICE_STATUS_PROCESS status =
        testing::wait_for_helper_service_state(manager, SERVICE_RUNNING, kStateLimit);
    if (!account.expect(status.dwCurrentState == SERVICE_RUNNING,
                        "the service did not report running within " +
                            seconds_text(kStateLimit, 0))) {
        return std::nullopt;
    }
    account.line("started the service TolvekDisplayHelper: running " +
                 seconds_text(Clock::now() - asked) + " later, process " +
                 std::to_string(status.dwProcessId));
    return status.dwProcessId;
}

// Speaks to the service and disconnects; true when every reply was the expected one.
bool converse(Account& account)
{
    std::optional<testing::PipeClient> client = testing::open_helper_pipe(kPipeLimit);
    if (!account.expect(client.has_value(), "the pipe \\\\.\\pipe\\tolvek-display-helper did "
                                            "not open within " +
                                                seconds_text(kPipeLimit, 0))) {
        return false;
    }
    account.line("connected to \\\\.\\pipe\\tolvek-display-helper");
    bool all_expected = true;
    for (const Exchange& exchange : conversation()) {
        const std::string line = encode_request(exchange.request);
        account.detail("-> " + line);
        const std::optional<std::string> reply = testing::request(*client, line);
        account.detail("<- " + reply.value_or("(no reply)"));
        const std::string expected = without_line_feed(encode_reply(exchange.expected));
        all_expected =
            account.expect(reply == expected, "the reply should be " + expected) && all_expected;
    }
    client->close();
    account.line("disconnected; the monitor still held goes with the connection");
    return all_expected;
}

void show_service_log(Account& account, const std::string& user_sid)
{
    const std::vector<std::string> messages = testing::log_messages(testing::kServiceProgramData);
    account.line("the service's log, C:\\users\\Public\\Tolvek\\display-helper.log:");
    for (const std::string& message : messages) {
        account.detail(message);
    }
    // The story in order; other lines may come between.
    const std::vector<std::string> story{"listening for " + user_sid,
                                         "a connection went, taking 1 display(s)",
                                         "the last connection went; stopping", "stopped"};
    auto next = messages.begin();
    for (const std::string& expected : story) {
        next = std::find(next, messages.end(), expected);
        if (!account.expect(next != messages.end(),
                            "the log should go on with \"" + expected + "\"")) {
            return;
        }
    }
}

// The MonitorSpec property of a create, as text.
std::string monitor_spec_of(const testing::LedgerCreate& create)
{
    if (create.properties.size() != 1 || !create.properties[0].buffer) {
        return "(no property)";
    }
    const std::string& bytes = *create.properties[0].buffer;
    std::u16string text;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
    }
    if (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return utf16_to_utf8_lossy(text);
}

struct LedgerLine {
    std::string operator()(const testing::LedgerCreate& create) const
    {
        return "create " + create.instance_id.value_or("(no instance id)") + ", MonitorSpec \"" +
               monitor_spec_of(create) + "\": device " + std::to_string(create.device);
    }
    std::string operator()(const testing::LedgerCallback& callback) const
    {
        return "creation callback for device " + std::to_string(callback.device) + ": " +
               hex_text(callback.result);
    }
    std::string operator()(const testing::LedgerClose& close) const
    {
        return "close device " + std::to_string(close.device);
    }
};

void show_standin_ledger(Account& account)
{
    const testing::SoftwareDeviceLedger ledger = testing::read_software_device_ledger();
    account.line("what the stand-in recorded, C:\\tolvek-test-doubles\\cfgmgr32\\ledger.txt:");
    for (const testing::LedgerEvent& event : ledger.events) {
        account.detail(std::visit(LedgerLine{}, event));
    }
    const std::vector<testing::LedgerCreate> creates = ledger.creates();
    const std::vector<testing::LedgerClose> closes = ledger.closes();
    if (!account.expect(creates.size() == 2 && closes.size() == 2,
                        "two creates and two closes expected")) {
        return;
    }
    for (std::size_t index = 0; index < creates.size(); ++index) {
        const Monitor& monitor = kMonitors[index];
        account.expect(creates[index].instance_id == monitor_instance_id(monitor.serial) &&
                           monitor_spec_of(creates[index]) == monitor.spec_text(),
                       "create " + std::to_string(index + 1) + " should be " +
                           monitor_instance_id(monitor.serial) + " with MonitorSpec \"" +
                           monitor.spec_text() + "\"");
    }
    account.expect(closes[0].device == creates[0].device,
                   "the destroyed monitor's device should be closed first");
    for (const std::string& imbalance : ledger.imbalances()) {
        account.expect(false, imbalance);
    }
}

} // namespace

void run_monitor_client(Account& account)
{
    const std::optional<std::string> user_sid = this_process_user_sid();
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!account.expect(manager.valid() && user_sid.has_value(),
                        "no service manager, or no user SID")) {
        return;
    }
    if (!start_service(account, manager.get())) {
        return;
    }
    converse(account);
    const auto left = Clock::now();

    // This process stays until the service has stopped: under Wine a prefix's services are
    // shut down once its last ordinary process has gone, which would prove nothing.
    const SERVICE_STATUS_PROCESS status =
        testing::wait_for_helper_service_state(manager.get(), SERVICE_STOPPED, kStateLimit);
    if (account.expect(status.dwCurrentState == SERVICE_STOPPED,
                       "the service did not stop within " + seconds_text(kStateLimit, 0) +
                           " of the last connection leaving")) {
        account.line("the service stopped by itself " + seconds_text(Clock::now() - left) +
                     " after the last connection left (exit code " +
                     std::to_string(status.dwWin32ExitCode) + ")");
    }
    show_service_log(account, *user_sid);
    show_standin_ledger(account);
}

} // namespace tolvek::demo
