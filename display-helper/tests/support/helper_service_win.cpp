#include "helper_service_win.h"

#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "service/pipe_listener_win.h"
#include "setup/service_configuration.h"
#include "support/setup_test_support_win.h"
#include "support/test_environment_win.h"
#include "tolvek/service_status_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Nothing signals a log line or a pipe that appears from outside the service process, so
// they are polled at this pace until a deadline.
constexpr auto kPollInterval = 20ms;

SERVICE_STATUS_PROCESS query_status(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS unknown{}; // no state: never equal to one asked for
    return query_service_status(service).value_or(unknown);
}

} // namespace

SERVICE_STATUS_PROCESS wait_for_helper_service_state(SC_HANDLE manager, DWORD state,
                                                     std::chrono::milliseconds timeout)
{
    return wait_for_service_state(manager, kServiceName, state, timeout);
}

HelperService::HelperService(std::string_view sid_argument)
    : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS))
{
    if (!manager_) {
        return;
    }
    remove_helper_service(); // a leftover of a test that crashed
    const std::filesystem::path helper = executable_folder() / "tolvek-display-helper.exe";
    const std::u16string command_line =
        service_command_line(as_utf16(helper.wstring()), sid_argument);
    service_.reset(CreateServiceW(manager_.get(), as_wide(kServiceName),
                                  as_wide(kServiceDisplayName), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, as_wide(command_line.c_str()), nullptr,
                                  nullptr, nullptr, nullptr /* LocalSystem */, nullptr));
}

HelperService::~HelperService()
{
    service_.reset();
    if (manager_) {
        remove_helper_service(); // a leftover of a test that crashed
    }
}

bool HelperService::start()
{
    return StartServiceW(service_.get(), 0, nullptr) != FALSE;
}

DWORD HelperService::control(DWORD code)
{
    SERVICE_STATUS status{};
    return ControlService(service_.get(), code, &status) ? 0 : GetLastError();
}

SERVICE_STATUS_PROCESS HelperService::status() const
{
    return query_status(service_.get());
}

SERVICE_STATUS_PROCESS HelperService::wait_for_state(DWORD state,
                                                     std::chrono::milliseconds timeout) const
{
    return wait_for_helper_service_state(manager_.get(), state, timeout);
}

ServiceLog::ServiceLog()
{
    std::error_code ignored; // no log yet is fine
    std::filesystem::remove(
        std::filesystem::path{kServiceProgramData} / "Tolvek" / "display-helper.log", ignored);
}

std::vector<std::string> ServiceLog::messages() const
{
    return log_messages(kServiceProgramData);
}

bool ServiceLog::wait_for(std::string_view message, std::chrono::milliseconds timeout,
                          std::size_t times) const
{
    const auto deadline = Clock::now() + timeout;
    while (count(message) < times) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

std::size_t ServiceLog::count(std::string_view message) const
{
    std::size_t found = 0;
    for (const std::string& line : messages()) {
        found += line == message ? 1 : 0;
    }
    return found;
}

std::chrono::milliseconds process_cpu_time(DWORD process_id, std::chrono::milliseconds window)
{
    // Summed over the threads: Wine reports no processor time for another process as a
    // whole, but does for each of its threads.
    const auto busy_time = [process_id] {
        std::uint64_t units = 0; // of 100 ns
        const UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0)};
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot.get(), &entry); more;
             more = Thread32Next(snapshot.get(), &entry)) {
            if (entry.th32OwnerProcessID != process_id) {
                continue;
            }
            const UniqueHandle thread{
                OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID)};
            FILETIME created{}, exited{}, kernel{}, user{};
            if (thread && GetThreadTimes(thread.get(), &created, &exited, &kernel, &user)) {
                for (const FILETIME time : {kernel, user}) {
                    units += (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                             time.dwLowDateTime;
                }
            }
        }
        return std::chrono::milliseconds{units / 10'000};
    };
    const auto before = busy_time();
    const UniqueHandle process{OpenProcess(SYNCHRONIZE, FALSE, process_id)};
    WaitForSingleObject(process.get(), static_cast<DWORD>(window.count()));
    return busy_time() - before;
}

std::optional<PipeClient> open_helper_pipe(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        PipeClient client{kPipeName};
        if (client.connected()) {
            return client;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            return std::nullopt;
        }
        if (client.open_error() == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(kPipeName, static_cast<DWORD>(left.count()));
        } else {
            std::this_thread::sleep_for(kPollInterval); // the pipe does not exist yet
        }
    }
}

std::optional<std::string> request(PipeClient& client, std::string_view line)
{
    if (!client.write(std::string{line} + "\n")) {
        return std::nullopt;
    }
    std::optional<std::string> reply = client.read_line(20'000);
    if (reply) {
        reply->pop_back(); // the line feed
    }
    return reply;
}

} // namespace tolvek::testing
