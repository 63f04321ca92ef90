// tolvek-demo: what the end-to-end run that tools/build.sh ends with (demo/end-to-end.sh) has
// to see from inside its Wine prefix, beside the shipped programs it runs there. One command
// per step; each prints its account and exits with 0 when the step went as it should, 1 when
// it did not. A 32-bit build's tolvek-demo is a camera host alone: it has the camera step only.
//
//   tolvek-demo user-sid            the SID of the user this process runs as
//   tolvek-demo service installed   the helper's service as the service manager holds it
//   tolvek-demo service running     that it runs, and its process
//   tolvek-demo service stopped     that it has stopped by itself (waits for it)
//   tolvek-demo service gone        that the service manager no longer holds it
//   tolvek-demo camera PICTURE.png  the registered camera in a host's DirectShow graph, one
//                                   of its frames saved as PICTURE.png

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <string_view>

#include "demo_steps.h"
#include "tolvek/dll_search_win.h"
#include "tolvek/wide_text_win.h"

namespace {

using namespace tolvek::demo;

constexpr std::string_view kUsage = "usage: tolvek-demo user-sid | service "
                                    "installed|running|stopped|gone | camera PICTURE.png";

// Runs the step the arguments name; false when they name none.
bool run_step(int argc, wchar_t** argv, Account& account)
{
    const std::wstring_view step = argc >= 2 ? argv[1] : L"";
    const std::wstring_view argument = argc == 3 ? argv[2] : L"";
    if (argc == 3 && step == L"camera" && !argument.empty()) {
        run_camera_host(account, tolvek::as_utf16(argument));
        return true;
    }
#ifndef TOLVEK_DEMO_CAMERA_HOST_ONLY
    if (argc == 2 && step == L"user-sid") {
        print_user_sid(account);
    } else if (argc == 3 && step == L"service" && argument == L"installed") {
        report_helper_service(account, ServiceExpectation::installed);
    } else if (argc == 3 && step == L"service" && argument == L"running") {
        report_helper_service(account, ServiceExpectation::running);
    } else if (argc == 3 && step == L"service" && argument == L"stopped") {
        report_helper_service(account, ServiceExpectation::stopped);
    } else if (argc == 3 && step == L"service" && argument == L"gone") {
        report_helper_service(account, ServiceExpectation::gone);
    } else {
        return false;
    }
    return true;
#else
    return false;
#endif
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    tolvek::restrict_dll_search_to_system_folder();
    // Line feeds as they are: the account goes to a Unix terminal or pipe.
    _setmode(_fileno(stdout), _O_BINARY);
    Account account;
    try {
        if (!run_step(argc, argv, account)) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(kUsage.size()), kUsage.data());
            return 2;
        }
    } catch (const std::exception& error) { // from the standard library: memory, files
        account.expect(false, std::string{"the step stopped: "} + error.what());
    }
    return account.exit_code();
}
