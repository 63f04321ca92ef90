#include "helper_service_win.h"

#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "test_environment_win.h"

namespace tolvek::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Nothing signals these from outside the service process (a log line, a state, a pipe
// that appears), so they are polled at this pace until a deadline.
constexpr auto kPollInterval = 20ms;

const std::filesystem::path kServiceLogPath = L"C:\\users\\Public\\Tolvek\\display-helper.log";

std::string narrow(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text) {
        result += static_cast<char>(*text); // SIDs are ASCII
    }
    return result;
}

std::wstring widen(std::string_view text)
{
    return {text.begin(), text.end()};
}

SERVICE_STATUS_PROCESS query_status(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
        status.dwCurrentState = 0; // no state: never equal to one asked for
    }
    return status;
}

SERVICE_STATUS_PROCESS wait_for(SC_HANDLE service, DWORD state, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    SERVICE_STATUS_PROCESS status = query_status(service);
    while (status.dwCurrentState != state && Clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
        status = query_status(service);
    }
    return status;
}

// Stops and deletes the service if it exists, and waits until the manager has forgotten it.
void remove_service(SC_HANDLE manager)
{
    {
        const UniqueServiceHandle existing{
            OpenServiceW(manager, kHelperServiceName, SERVICE_ALL_ACCESS)};
        if (!existing) {
            return;
        }
        SERVICE_STATUS ignored{};
        ControlService(existing.get(), SERVICE_CONTROL_STOP, &ignored);
        wait_for(existing.get(), SERVICE_STOPPED, 15s);
        DeleteService(existing.get());
    }
    const auto deadline = Clock::now() + 15s;
    while (Clock::now() < deadline) {
        const UniqueServiceHandle probe{
            OpenServiceW(manager, kHelperServiceName, SERVICE_QUERY_STATUS)};
        if (!probe && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::uintmax_t log_size()
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(kServiceLogPath, error);
    return error ? 0 : size;
}

} // namespace

std::string current_user_sid()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return {};
    }
    alignas(TOKEN_USER) BYTE buffer[256] = {};
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) {
        return {};
    }
    UniqueLocalMemory<wchar_t> text;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, text.put())) {
        return {};
    }
    return narrow(text.get());
}

HelperService::HelperService(std::string_view sid_argument)
    : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS))
{
    if (!manager_) {
        return;
    }
    remove_service(manager_.get());
    const std::filesystem::path helper = executable_folder() / "tolvek-display-helper.exe";
    const std::wstring command_line =
        L"\"" + helper.wstring() + L"\" service " + widen(sid_argument);
    service_.reset(CreateServiceW(manager_.get(), kHelperServiceName, L"Tolvek Display Helper",
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command_line.c_str(),
                                  nullptr, nullptr, nullptr, nullptr /* LocalSystem */, nullptr));
}

HelperService::~HelperService()
{
    service_.reset();
    if (manager_) {
        remove_service(manager_.get());
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
    return wait_for(service_.get(), state, timeout);
}

ServiceLog::ServiceLog() : start_offset_(log_size()) {}

std::vector<std::string> ServiceLog::messages() const
{
    const std::optional<std::string> text = read_file(kServiceLogPath);
    if (!text) {
        return {};
    }
    // A log emptied past its size limit meanwhile starts again from its beginning.
    std::istringstream stream{start_offset_ <= text->size() ? text->substr(start_offset_) : *text};
    std::vector<std::string> messages;
    constexpr std::size_t kTimestampLength = 20; // "YYYY-MM-DD hh:mm:ss "
    for (std::string line; std::getline(stream, line);) {
        messages.push_back(line.size() >= kTimestampLength ? line.substr(kTimestampLength) : line);
    }
    return messages;
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
    const UniqueHandle process{
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id)};
    const auto busy_time = [&process] {
        FILETIME created{}, exited{}, kernel{}, user{};
        GetProcessTimes(process.get(), &created, &exited, &kernel, &user);
        const auto ticks = [](FILETIME t) {
            return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return std::chrono::milliseconds{(ticks(kernel) + ticks(user)) / 10'000};
    };
    const auto before = busy_time();
    WaitForSingleObject(process.get(), static_cast<DWORD>(window.count()));
    return busy_time() - before;
}

PipeClient::PipeClient(UniqueHandle pipe)
    : pipe_(std::move(pipe)), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

std::variant<PipeClient, DWORD> PipeClient::try_open()
{
    UniqueHandle pipe{CreateFileW(kHelperPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr)};
    if (!pipe) {
        return GetLastError();
    }
    return PipeClient{std::move(pipe)};
}

std::optional<PipeClient> PipeClient::open(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto opened = try_open();
        if (auto* client = std::get_if<PipeClient>(&opened)) {
            return std::move(*client);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            return std::nullopt;
        }
        if (std::get<DWORD>(opened) == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(kHelperPipeName, static_cast<DWORD>(left.count()));
        } else {
            std::this_thread::sleep_for(kPollInterval); // the pipe does not exist yet
        }
    }
}

bool PipeClient::write(std::string_view bytes)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    DWORD written = 0;
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                   &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    if (WaitForSingleObject(event_.get(), 10'000) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_.get(), &overlapped);
        GetOverlappedResult(pipe_.get(), &overlapped, &written, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe_.get(), &overlapped, &written, TRUE) && written == bytes.size();
}

std::optional<std::string> PipeClient::read_some(std::chrono::milliseconds timeout, bool& timed_out)
{
    timed_out = false;
    char buffer[512];
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    DWORD count = 0;
    if (!ReadFile(pipe_.get(), buffer, sizeof buffer, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return std::nullopt;
    }
    if (WaitForSingleObject(event_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        timed_out = true;
        CancelIoEx(pipe_.get(), &overlapped);
        GetOverlappedResult(pipe_.get(), &overlapped, &count, TRUE);
        return std::nullopt;
    }
    if (!GetOverlappedResult(pipe_.get(), &overlapped, &count, TRUE) || count == 0) {
        return std::nullopt;
    }
    return std::string{buffer, count};
}

std::optional<std::string> PipeClient::read_line(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        bool timed_out = false;
        const std::optional<std::string> bytes = read_some(std::max(left, 0ms), timed_out);
        if (!bytes) {
            return std::nullopt;
        }
        pending_ += *bytes;
    }
}

std::optional<std::string> PipeClient::request(std::string_view line,
                                               std::chrono::milliseconds timeout)
{
    if (!write(std::string{line} + "\n")) {
        return std::nullopt;
    }
    return read_line(timeout);
}

bool PipeClient::ended_by_server(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        bool timed_out = false;
        if (!read_some(std::max(left, 0ms), timed_out)) {
            return !timed_out;
        }
    }
}

} // namespace tolvek::testing
