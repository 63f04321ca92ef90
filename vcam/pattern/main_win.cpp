// Program entry of tolvek-vcam-pattern: feeds the camera a moving test picture, or a still
// picture from a file, at 30 frames a second while a camera watches, until Ctrl+C or the
// given number of seconds. Lines about viewers go to standard output; an error goes to
// standard error as one line, with exit code 1.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "feed_command_line.h"
#include "feed_report.h"
#include "frame_producer_win.h"
#include "pattern_feed_win.h"
#include "still_picture_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/command_line_win.h"
#include "tolvek/dll_search_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tolvek;
using namespace tolvek::vcam;

// The event that Ctrl+C, Ctrl+Break and closing the console set; the handler runs on a thread
// of its own.
std::atomic<HANDLE> stop_event{nullptr};

BOOL WINAPI on_console_control(DWORD control) noexcept
{
    switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        if (const HANDLE event = stop_event.load()) {
            SetEvent(event);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

// Ctrl+C and its kin set `event()` for as long as the object lives.
class ConsoleStop {
public:
    ConsoleStop() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (event_) {
            stop_event = event_.get();
            SetConsoleCtrlHandler(on_console_control, TRUE);
        }
    }
    // The handler goes before the event, so that it never sets a closed handle.
    ~ConsoleStop()
    {
        SetConsoleCtrlHandler(on_console_control, FALSE);
        stop_event = nullptr;
    }
    ConsoleStop(const ConsoleStop&) = delete;
    ConsoleStop& operator=(const ConsoleStop&) = delete;

    [[nodiscard]] HANDLE event() const noexcept { return event_.get(); }

private:
    UniqueHandle event_;
};

void say(const std::string& line)
{
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout); // whoever reads a pipe sees each line as it happens
}

Status feed(const FeedOptions& options)
{
    const ComApartment com; // the imaging component is reached through COM
    std::vector<std::byte> still;
    FeedSettings settings;
    if (options.image_path) {
        Result<std::vector<std::byte>> loaded = load_still_picture(*options.image_path);
        if (!loaded) {
            return Error{"the image cannot be read: " + loaded.error().text};
        }
        still = std::move(loaded).value();
        settings.draw = [&still](FramePixels frame, std::uint64_t) {
            std::memcpy(frame.data(), still.data(), kFrameSize);
        };
    } else {
        settings.draw = draw_pattern_now;
    }

    std::unique_ptr<FrameProducer> producer;
    if (const HRESULT result = FrameProducer::create(producer); FAILED(result)) {
        return Error{"the camera cannot be fed: " + producer_failure_text(result)};
    }
    const ConsoleStop stop;
    if (!stop.event()) {
        return win32_failure("no stop event: ", GetLastError());
    }
    settings.duration = options.duration;
    settings.stop = stop.event();
    settings.say = say;
    say(started_line(options.image_path, options.duration));
    say(stopped_line(run_feed(*producer, settings)));
    return success();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    tolvek::restrict_dll_search_to_system_folder();
    // Binary mode: the C runtime's text mode would write CR LF where a line ends in LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    const std::vector<std::u16string> arguments = tolvek::utf16_arguments(argc, argv);
    const FeedCommand command = parse_feed_command_line(arguments);
    if (const auto* usage = std::get_if<FeedUsageError>(&command)) {
        std::fprintf(stderr, "%s\n", usage->line.c_str());
        return 1;
    }
    if (const Status fed = feed(std::get<FeedOptions>(command)); !fed) {
        std::fprintf(stderr, "%s\n", fed.error().text.c_str());
        return 1;
    }
    return 0;
}
