#pragma once

// vcam_test_producer in a process of its own, for the tests of the camera's real section
// path: it creates both sections with the producer library and publishes pattern frames
// until it is told to quit.

#include <windows.h>

#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tolvek::vcam::testing {

inline constexpr DWORD kProducerWaitLimitMs = 20'000;

// vcam_test_producer's exit code when the producer library refused it because another
// producer of the session is running (0-8 are the viewers it counted).
inline constexpr DWORD kProducerRefusedExitCode = 103;
// What the helpers below give when the producer did not end within the wait limit.
inline constexpr DWORD kProducerDidNotEnd = 999;

// The full path of `file_name` in the folder of the running program.
inline std::wstring beside_this_program(const wchar_t* file_name)
{
    const Result<std::u16string> program = module_path();
    const std::wstring path = program ? as_wide(program.value().c_str()) : L"";
    return path.substr(0, path.find_last_of(L'\\') + 1) + file_name;
}

// A name for an event that steers a test's child process, unique in the session: `role`,
// this process's id and a running number.
inline std::wstring unique_event_name(const wchar_t* role)
{
    static std::atomic<int> instance{0};
    return std::wstring(L"Local\\TolvekVcamTest") + role + L"-" +
           std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++instance);
}

// vcam_test_producer in a process of its own, with the two events that steer it. The program
// is the one beside the test unless another (one of the other bitness) is named.
class ProducerProcess {
public:
    ProducerProcess(const wchar_t* mode, std::uint32_t pattern,
                    const std::wstring& program = beside_this_program(L"vcam_test_producer.exe"))
    {
        const std::wstring ready_name = unique_event_name(L"Ready");
        const std::wstring quit_name = unique_event_name(L"Quit");
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
        quit_.reset(CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str()));
        std::wstring command_line = L"\"" + program + L"\" " + mode + L" " +
                                    std::to_wstring(pattern) + L" " + ready_name + L" " + quit_name;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &process)) {
            process_.reset(process.hProcess);
            UniqueHandle thread{process.hThread};
        }
    }

    ~ProducerProcess()
    {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            SetEvent(quit_.get());
            WaitForSingleObject(process_.get(), kProducerWaitLimitMs);
        }
    }

    // True once the sections exist and the first frame is published.
    [[nodiscard]] bool wait_until_ready() const
    {
        if (!process_ || !ready_) {
            return false;
        }
        const HANDLE handles[] = {ready_.get(), process_.get()};
        return WaitForMultipleObjects(2, handles, FALSE, kProducerWaitLimitMs) == WAIT_OBJECT_0;
    }

    // Tells the producer to end and gives the number of live viewers it counted last.
    [[nodiscard]] DWORD quit_and_count_viewers() const
    {
        SetEvent(quit_.get());
        return wait_for_exit();
    }

    // Waits for the producer to end by itself and gives its exit code.
    [[nodiscard]] DWORD wait_for_exit() const
    {
        DWORD exit_code = kProducerDidNotEnd;
        if (!process_ ||
            WaitForSingleObject(process_.get(), kProducerWaitLimitMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process_.get(), &exit_code)) {
            return kProducerDidNotEnd;
        }
        return exit_code;
    }

    // Ends the producer as a crash would, with no clean-up of its own, and waits until it has
    // gone.
    [[nodiscard]] bool kill() const
    {
        return process_ && TerminateProcess(process_.get(), 1) &&
               WaitForSingleObject(process_.get(), kProducerWaitLimitMs) == WAIT_OBJECT_0;
    }

private:
    UniqueHandle ready_;
    UniqueHandle quit_;
    UniqueHandle process_;
};

} // namespace tolvek::vcam::testing
