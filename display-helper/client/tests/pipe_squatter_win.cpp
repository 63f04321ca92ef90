// A program of the same user that takes the helper's pipe name before the service does:
// it creates "\\.\pipe\tolvek-display-helper", signals that it is ready, accepts one client
// and records whether that client wrote anything, until it is told to quit.
//
//   pipe_squatter.exe <ready event> <quit event>
//
// Exit code: 0 a client connected and wrote nothing; 1 nobody connected; 2 the client wrote
// bytes; 3 the pipe or the events could not be set up.

#include <windows.h>

#include "service_name.h"
#include "tolvek/owners_win.h"
#include "tolvek/wide_text_win.h"

namespace {

using tolvek::UniqueHandle;

enum ExitCode : int { kConnectedSilent = 0, kNobody = 1, kBytesWritten = 2, kSetupFailed = 3 };

// Waits for the overlapped operation or the quit event; whether the operation completed.
bool completed(HANDLE pipe, OVERLAPPED& overlapped, HANDLE quit, DWORD& count)
{
    const HANDLE events[] = {overlapped.hEvent, quit};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
        GetOverlappedResult(pipe, &overlapped, &count, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &count, FALSE) != FALSE;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        return kSetupFailed;
    }
    const UniqueHandle ready{OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1])};
    const UniqueHandle quit{OpenEventW(SYNCHRONIZE, FALSE, argv[2])};
    const UniqueHandle pipe{CreateNamedPipeW(
        tolvek::as_wide(tolvek::kHelperPipeName), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 512, 512, 0, nullptr)};
    const UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (!ready || !quit || !pipe || !event) {
        return kSetupFailed;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const BOOL connected_now = ConnectNamedPipe(pipe.get(), &overlapped);
    const DWORD connect_error = connected_now ? ERROR_SUCCESS : GetLastError();
    SetEvent(ready.get());
    DWORD count = 0;
    if (connect_error == ERROR_IO_PENDING &&
        !completed(pipe.get(), overlapped, quit.get(), count)) {
        return kNobody;
    }
    if (connect_error != ERROR_SUCCESS && connect_error != ERROR_IO_PENDING &&
        connect_error != ERROR_PIPE_CONNECTED) {
        return kSetupFailed;
    }
    // Whatever the client writes before it goes; the read fails once it has gone.
    char buffer[512];
    ResetEvent(event.get());
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event.get();
    count = 0;
    const BOOL started = ReadFile(pipe.get(), buffer, sizeof buffer, nullptr, &overlapped);
    if ((started || GetLastError() == ERROR_IO_PENDING) &&
        completed(pipe.get(), overlapped, quit.get(), count) && count > 0) {
        return kBytesWritten;
    }
    WaitForSingleObject(quit.get(), INFINITE);
    return kConnectedSilent;
}
