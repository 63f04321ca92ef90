#include "feed_process_win.h"

#include "producer_process_win.h"
#include "support/setup_test_support_win.h"

#include <algorithm>

namespace tolvek::vcam::testing {

namespace {

// The test's answer to the Ctrl+C it presses: none. Installed once for the life of the
// process, since the event reaches the test at some moment after GenerateConsoleCtrlEvent
// returns, and the default handler would end the test. (Ignoring Ctrl+C instead would be
// inherited by the processes the test starts next, and they would ignore it too.)
BOOL WINAPI swallow_ctrl_c(DWORD control) noexcept
{
    return control == CTRL_C_EVENT ? TRUE : FALSE;
}

} // namespace

SharedConsole::SharedConsole()
{
    static const bool swallowing = SetConsoleCtrlHandler(swallow_ctrl_c, TRUE) != FALSE;
    FreeConsole(); // whatever console the test had, if any
    ready_ = swallowing && AllocConsole() != FALSE;
}

SharedConsole::~SharedConsole()
{
    FreeConsole();
}

bool SharedConsole::press_ctrl_c() const
{
    return ready_ && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
}

FeedProcess::FeedProcess(const std::vector<std::wstring>& arguments)
{
    std::wstring command_line = L"\"" + beside_this_program(L"tolvek-vcam-pattern.exe") + L"\"";
    for (const std::wstring& argument : arguments) {
        command_line += L" \"" + argument + L"\"";
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    UniqueHandle output_write;
    UniqueHandle error_write;
    if (!CreatePipe(output_.put(), output_write.put(), &inheritable, 0) ||
        !CreatePipe(error_.put(), error_write.put(), &inheritable, 0)) {
        return;
    }
    SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(error_.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output_write.get();
    startup.hStdError = error_write.get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return;
    }
    process_.reset(process.hProcess);
    const UniqueHandle thread{process.hThread};
    // The feed holds its own ends now: the reads end when it does.
    output_write.reset();
    error_write.reset();
    output_reader_ = std::thread([this] { read_into(output_.get(), output_stream_); });
    error_reader_ = std::thread([this] { read_into(error_.get(), error_stream_); });
}

FeedProcess::~FeedProcess()
{
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), kProducerWaitLimitMs);
    }
    if (output_reader_.joinable()) {
        output_reader_.join();
    }
    if (error_reader_.joinable()) {
        error_reader_.join();
    }
}

void FeedProcess::read_into(HANDLE pipe, Stream& stream)
{
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        {
            const std::lock_guard hold(lock_);
            stream.text.append(buffer, count);
        }
        changed_.notify_all();
    }
    {
        const std::lock_guard hold(lock_);
        stream.ended = true;
    }
    changed_.notify_all();
}

bool FeedProcess::wait_for_line(std::string_view line, std::size_t count,
                                std::chrono::milliseconds limit)
{
    const auto seen = [&] {
        const std::vector<std::string> lines = tolvek::testing::lines_of(output_stream_.text);
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >= count;
    };
    std::unique_lock hold(lock_);
    return changed_.wait_for(hold, limit, [&] { return seen() || output_stream_.ended; }) && seen();
}

std::optional<DWORD> FeedProcess::wait_for_exit(std::chrono::milliseconds limit) const
{
    DWORD exit_code = 0;
    if (!process_ ||
        WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.get(), &exit_code)) {
        return std::nullopt;
    }
    return exit_code;
}

std::vector<std::string> FeedProcess::output_lines() const
{
    const std::lock_guard hold(lock_);
    return tolvek::testing::lines_of(output_stream_.text);
}

std::string FeedProcess::error_output() const
{
    const std::lock_guard hold(lock_);
    return error_stream_.text;
}

} // namespace tolvek::vcam::testing
