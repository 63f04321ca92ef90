#include "support/pipe_client_win.h"

namespace tolvek::testing {
namespace {

enum class Wait { done, failed, timed_out };

// Waits for an overlapped operation that was started; on a timeout it is cancelled and
// waited for, so the record is free when this returns.
Wait finish(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD timeout_ms, DWORD& count)
{
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return Wait::failed;
    }
    if (!started && WaitForSingleObject(overlapped.hEvent, timeout_ms) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
        // It may have completed just before the cancel; then it counts as done.
        return GetOverlappedResult(pipe, &overlapped, &count, TRUE) ? Wait::done : Wait::timed_out;
    }
    return GetOverlappedResult(pipe, &overlapped, &count, FALSE) ? Wait::done : Wait::failed;
}

} // namespace

PipeClient::PipeClient(const std::wstring& pipe_name)
    : pipe_(CreateFileW(pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr))
{
    if (!pipe_) {
        open_error_ = GetLastError(); // before any other call can overwrite it
    }
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

bool PipeClient::write(std::string_view bytes, DWORD timeout_ms)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    const BOOL started = WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                   nullptr, &overlapped);
    DWORD count = 0;
    return finish(pipe_.get(), overlapped, started, timeout_ms, count) == Wait::done &&
           count == bytes.size();
}

PipeClient::ReadOutcome PipeClient::read_some(DWORD timeout_ms)
{
    char buffer[4096];
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    const BOOL started = ReadFile(pipe_.get(), buffer, sizeof buffer, nullptr, &overlapped);
    DWORD count = 0;
    switch (finish(pipe_.get(), overlapped, started, timeout_ms, count)) {
    case Wait::done:
        if (count == 0) {
            return ReadOutcome::ended;
        }
        received_.append(buffer, count);
        return ReadOutcome::bytes;
    case Wait::failed:
        return ReadOutcome::ended;
    case Wait::timed_out:
        return ReadOutcome::timed_out;
    }
    return ReadOutcome::ended;
}

std::optional<std::string> PipeClient::read_line(DWORD timeout_ms)
{
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        if (const std::size_t end = received_.find('\n'); end != std::string::npos) {
            std::string line = received_.substr(0, end + 1);
            received_.erase(0, end + 1);
            return line;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline ||
            read_some(static_cast<DWORD>(deadline - now)) != ReadOutcome::bytes) {
            return std::nullopt;
        }
    }
}

bool PipeClient::sees_end_without_bytes(DWORD timeout_ms)
{
    const std::size_t before = received_.size();
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        const ReadOutcome outcome = read_some(static_cast<DWORD>(deadline - now));
        if (outcome == ReadOutcome::ended) {
            return received_.size() == before;
        }
        if (outcome == ReadOutcome::timed_out) {
            return false;
        }
    }
}

} // namespace tolvek::testing
