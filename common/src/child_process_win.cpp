#include "tolvek/child_process_win.h"

#include <array>
#include <mutex>
#include <new>

#include "tolvek/argument_quoting.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

// The two ends of one output pipe: the child writes, this process reads.
struct OutputPipe {
    UniqueHandle read;
    UniqueHandle write;
};

// Held from the making of a child's inheritable handles (its ends of the pipes, its input)
// until this process has closed its copies. A child started meanwhile from another thread,
// with handles inherited, would get copies of them too, and the streams would not end
// before that other child ends.
std::mutex& inheritable_handles_lock()
{
    static std::mutex lock;
    return lock;
}

// Only the child's ends are inheritable.
Result<OutputPipe> create_output_pipe()
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    OutputPipe pipe;
    if (!CreatePipe(pipe.read.put(), pipe.write.put(), &inheritable, 0) ||
        !SetHandleInformation(pipe.read.get(), HANDLE_FLAG_INHERIT, 0)) {
        return Error{os_error_text(GetLastError())};
    }
    return pipe;
}

Result<UniqueHandle> open_empty_input()
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle input{CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr)};
    if (!input) {
        return Error{os_error_text(GetLastError())};
    }
    return input;
}

struct StreamCapture {
    HANDLE pipe = nullptr;
    std::string bytes;
};

// Reads until every writer has closed the pipe. Should the bytes no longer fit in memory,
// the rest is still read and dropped, so that the child never blocks on a full pipe.
void drain(StreamCapture& capture) noexcept
{
    std::array<char, 16384> chunk;
    bool keeping = true;
    for (;;) {
        DWORD received = 0;
        if (!ReadFile(capture.pipe, chunk.data(), static_cast<DWORD>(chunk.size()), &received,
                      nullptr)) {
            return; // ERROR_BROKEN_PIPE once the last writer has gone
        }
        if (keeping) {
            try {
                capture.bytes.append(chunk.data(), received);
            } catch (const std::bad_alloc&) {
                keeping = false;
            }
        }
    }
}

DWORD WINAPI drain_on_thread(void* capture) noexcept
{
    drain(*static_cast<StreamCapture*>(capture));
    return 0;
}

} // namespace

Result<ChildProcessOutput> run_child_process(std::u16string_view program,
                                             const std::vector<std::u16string>& arguments)
{
    const std::u16string program_path{program};
    std::u16string command_line = child_command_line(program, arguments);

    std::unique_lock inheritable_handles(inheritable_handles_lock());
    Result<UniqueHandle> input = open_empty_input();
    if (!input) {
        return std::move(input).error();
    }
    Result<OutputPipe> output_pipe = create_output_pipe();
    if (!output_pipe) {
        return std::move(output_pipe).error();
    }
    Result<OutputPipe> error_pipe = create_output_pipe();
    if (!error_pipe) {
        return std::move(error_pipe).error();
    }

    // Standard error is drained on a thread of its own while this thread drains standard
    // output: reading one stream to its end first would deadlock with a child that has
    // filled the other stream's pipe.
    StreamCapture error_capture{error_pipe.value().read.get(), {}};
    const UniqueHandle error_reader{
        CreateThread(nullptr, 0, drain_on_thread, &error_capture, 0, nullptr)};
    if (!error_reader) {
        return Error{os_error_text(GetLastError())};
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.value().get();
    startup.hStdOutput = output_pipe.value().write.get();
    startup.hStdError = error_pipe.value().write.get();
    PROCESS_INFORMATION started{};
    const bool created = CreateProcessW(as_wide(program_path.c_str()), as_wide(command_line.data()),
                                        nullptr, nullptr,
                                        TRUE,             // inherit the three standard handles
                                        CREATE_NO_WINDOW, // all three streams are redirected
                                        nullptr, nullptr, &startup, &started);
    const DWORD start_error = created ? ERROR_SUCCESS : GetLastError();
    const UniqueHandle process{created ? started.hProcess : nullptr};
    const UniqueHandle primary_thread{created ? started.hThread : nullptr};

    // The child holds its own copies now. Ours must go, or the reads would never see the end
    // of the streams; without a child, closing them ends the error reader at once.
    input.value().reset();
    output_pipe.value().write.reset();
    error_pipe.value().write.reset();
    inheritable_handles.unlock();

    ChildProcessOutput output;
    if (created) {
        StreamCapture output_capture{output_pipe.value().read.get(), {}};
        drain(output_capture);
        output.standard_output = std::move(output_capture.bytes);
    }
    WaitForSingleObject(error_reader.get(), INFINITE);
    if (!created) {
        return Error{os_error_text(start_error)};
    }
    output.standard_error = std::move(error_capture.bytes);

    WaitForSingleObject(process.get(), INFINITE);
    if (!GetExitCodeProcess(process.get(), &output.exit_code)) {
        return Error{os_error_text(GetLastError())};
    }
    return output;
}

} // namespace tolvek
