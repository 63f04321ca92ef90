#include "test_environment_win.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::testing {

ScopedTempDir::ScopedTempDir()
{
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    const std::wstring name = L"tolvek-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64()) + L"-" +
                              std::to_wstring(counter.fetch_add(1));
    path_ = std::filesystem::path{base} / name;
    std::filesystem::create_directories(path_);
}

ScopedTempDir::~ScopedTempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::optional<std::wstring> environment_value(const std::wstring& name)
{
    const std::optional<std::u16string> value = environment_variable(name.c_str());
    if (!value) {
        return std::nullopt;
    }
    return std::wstring{as_wide(value->c_str()), value->size()};
}

void set_environment_value(const std::wstring& name, const std::optional<std::wstring>& value)
{
    SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

} // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name,
                                                     const std::optional<std::wstring>& value)
    : name_(name), previous_(environment_value(name_))
{
    set_environment_value(name_, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable()
{
    set_environment_value(name_, previous_);
}

std::optional<std::string> read_file(const std::filesystem::path& path)
{
    std::ifstream file{path, std::ios::binary};
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::filesystem::path executable_folder()
{
    const Result<std::u16string> path = module_path();
    return path ? std::filesystem::path{as_wide(path.value().c_str())}.parent_path()
                : std::filesystem::path{};
}

namespace {

// Reads a pipe to its end on a thread of its own, so that a child writing much to both
// streams never blocks on a full pipe.
std::thread drain(HANDLE pipe, std::string& into)
{
    return std::thread{[pipe, &into] {
        char buffer[4096];
        DWORD count = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            into.append(buffer, count);
        }
    }};
}

} // namespace

std::optional<ProcessOutcome> run_process(const std::wstring& command_line,
                                          std::chrono::milliseconds timeout)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    UniqueHandle out_read, out_write, err_read, err_write;
    if (!CreatePipe(out_read.put(), out_write.put(), &inheritable, 0) ||
        !CreatePipe(err_read.put(), err_write.put(), &inheritable, 0)) {
        return std::nullopt;
    }
    SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out_write.get();
    startup.hStdError = err_write.get();
    PROCESS_INFORMATION info{};
    std::wstring mutable_line = command_line;
    if (!CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return std::nullopt;
    }
    const UniqueHandle process{info.hProcess};
    const UniqueHandle thread{info.hThread};
    // The child holds its own copies now; closing ours lets the reads end with the child.
    out_write.reset();
    err_write.reset();

    ProcessOutcome outcome;
    std::thread out_reader = drain(out_read.get(), outcome.standard_output);
    std::thread err_reader = drain(err_read.get(), outcome.standard_error);
    const bool ended =
        WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
    }
    out_reader.join();
    err_reader.join();
    if (!ended) {
        return std::nullopt;
    }
    GetExitCodeProcess(process.get(), &outcome.exit_code);
    return outcome;
}

} // namespace tolvek::testing
