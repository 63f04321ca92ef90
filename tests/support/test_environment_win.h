#pragma once

// Helpers that give each Windows-side test its own state: a fresh temporary folder, an
// environment variable set for the test's duration, whole-file reads, child processes.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tolvek::testing {

// A new empty folder under the system's temporary folder, removed with everything in it
// when the object goes.
class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets (or, with nothing, removes) a variable of this process's environment and restores
// the previous value when the object goes. Child processes inherit it.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const wchar_t* name, const std::optional<std::wstring>& value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

// The whole file as bytes, or nothing when it cannot be read.
[[nodiscard]] std::optional<std::string> read_file(const std::filesystem::path& path);

// The folder of the running test executable; the build puts every Windows binary of the
// tree there.
[[nodiscard]] std::filesystem::path executable_folder();

struct ProcessOutcome {
    DWORD exit_code = 0;
    std::string standard_output;
    std::string standard_error;
};

// Runs a program with the given command line (program path included, already quoted) and
// waits for it; nothing when it could not be started or did not end within `timeout`
// (it is then terminated).
[[nodiscard]] std::optional<ProcessOutcome> run_process(const std::wstring& command_line,
                                                        std::chrono::milliseconds timeout);

} // namespace tolvek::testing
