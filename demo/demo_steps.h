#pragma once

// The steps of the end-to-end run that a program of the prefix has to see, one file each:
// what the service manager holds, and the camera as a host meets it. Each prints its account
// and tells whether it went as it should.

#include <string_view>

#include "account.h"

namespace tolvek::demo {

// Prints the SID of the user this process runs as, alone on its line, for the script to
// pass to install.
void print_user_sid(Account& account);

enum class ServiceExpectation {
    installed, // the service manager holds the helper's service
    running,   // it runs now, its process named
    stopped,   // it has stopped by itself (waits for that, up to a deadline)
    gone,      // the service manager has dropped it (waits for that, up to a deadline)
};

// The helper's service as the service manager holds it, or its absence.
void report_helper_service(Account& account, ServiceExpectation expectation);

// The account line after which the host goes on streaming while the script ends the feed;
// the script waits for it word for word.
inline constexpr std::string_view kFeedMayGoLine =
    "the host goes on streaming; the feed may go now";

// As any camera host: finds the registered camera among the video input devices, streams it
// while tolvek-vcam-pattern feeds it, reads the feed's frame numbers back from the pictures,
// saves one frame as a PNG file at `picture_path`, and after kFeedMayGoLine waits for the
// camera's fill colour.
void run_camera_host(Account& account, std::u16string_view picture_path);

} // namespace tolvek::demo
