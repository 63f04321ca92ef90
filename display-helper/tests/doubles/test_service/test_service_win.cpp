// A long-running service for the uninstall tests, registered under the helper's service
// name in its place until the helper's own service host can run. Install points the service
// at it when it sits where install finds the helper.
//
// Beside the executable, test-service.conf holds two lines: the prefix of the named events
// that the test created, and "stoppable" or "stubborn" (a stubborn service accepts no stop
// request and ends only when the test sets <prefix>-quit). The service writes its command
// line arguments, one a line, to test-service-arguments.txt, then sets <prefix>-running
// once it reports SERVICE_RUNNING, and <prefix>-stop when a stop request arrives. It ends by
// itself after two minutes, so that nothing outlives a failed test for long.

#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "service_name.h"
#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace {

using tolvek::UniqueHandle;

std::filesystem::path own_folder()
{
    const tolvek::Result<std::u16string> path = tolvek::module_path();
    return path ? std::filesystem::path{tolvek::as_wide(path.value().c_str())}.parent_path()
                : std::filesystem::path{};
}

struct Configuration {
    std::wstring event_prefix;
    bool stubborn = false;
};

Configuration read_configuration()
{
    std::wifstream file{own_folder() / "test-service.conf"};
    Configuration configuration;
    std::wstring mode;
    std::getline(file, configuration.event_prefix);
    std::getline(file, mode);
    configuration.stubborn = mode == L"stubborn";
    return configuration;
}

void write_arguments()
{
    int count = 0;
    const tolvek::UniqueLocalMemory<wchar_t*> argv{CommandLineToArgvW(GetCommandLineW(), &count)};
    std::string lines;
    for (int i = 1; i < count; ++i) {
        lines += tolvek::utf16_to_utf8_lossy(tolvek::as_utf16(argv.get()[i])) + '\n';
    }
    std::ofstream{own_folder() / "test-service-arguments.txt", std::ios::binary} << lines;
}

UniqueHandle open_event(const std::wstring& name)
{
    return UniqueHandle{OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str())};
}

// The stop event while service_main owns it. The control handler sets it under the lock, and
// service_main withdraws it under the same lock before closing it, so that a STOP arriving
// late finds nothing instead of a closed handle.
class StopEventSlot {
public:
    void publish(HANDLE event)
    {
        const std::lock_guard lock{mutex_};
        event_ = event;
    }

    void withdraw()
    {
        const std::lock_guard lock{mutex_};
        event_ = nullptr;
    }

    void signal()
    {
        const std::lock_guard lock{mutex_};
        if (event_ != nullptr) {
            SetEvent(event_);
        }
    }

private:
    std::mutex mutex_;
    HANDLE event_ = nullptr;
};

Configuration configuration;
SERVICE_STATUS_HANDLE status_handle = nullptr;
StopEventSlot stop_requested;

void report(DWORD state)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING && !configuration.stubborn ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        const UniqueHandle stop_seen = open_event(configuration.event_prefix + L"-stop");
        SetEvent(stop_seen.get());
        stop_requested.signal();
    }
    return NO_ERROR;
}

void WINAPI service_main(DWORD, wchar_t**)
{
    status_handle = RegisterServiceCtrlHandlerExW(tolvek::as_wide(tolvek::kServiceName),
                                                  control_handler, nullptr);
    if (status_handle == nullptr) {
        return;
    }
    const UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    stop_requested.publish(stop.get());
    const UniqueHandle quit = open_event(configuration.event_prefix + L"-quit");
    write_arguments();
    report(SERVICE_RUNNING);
    const UniqueHandle running = open_event(configuration.event_prefix + L"-running");
    SetEvent(running.get());

    const HANDLE ends[] = {stop.get(), quit.get()};
    WaitForMultipleObjects(quit ? 2 : 1, ends, FALSE, 120000);
    stop_requested.withdraw(); // before `stop` closes
    report(SERVICE_STOPPED);
}

} // namespace

int wmain()
{
    configuration = read_configuration();
    const SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<wchar_t*>(tolvek::as_wide(tolvek::kServiceName)), service_main},
        {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
