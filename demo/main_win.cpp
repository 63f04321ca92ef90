// tolvek-demo: the programs' side of the end-to-end run that tools/build.sh ends with
// (demo/end-to-end.sh runs it in a Wine prefix of its own). One command per step; each prints
// its account and exits with 0 when the step went as it should, 1 when it did not.
//
//   tolvek-demo user-sid            the SID of the user this process runs as
//   tolvek-demo service installed   the helper's service as the service manager holds it
//   tolvek-demo service gone        that the service manager no longer holds it
//   tolvek-demo monitors            monitors through the service, as the user's application
//   tolvek-demo camera              the registered camera in a DirectShow graph

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <string_view>

#include "demo_steps.h"

namespace {

using namespace tolvek::demo;

constexpr std::string_view kUsage =
    "usage: tolvek-demo user-sid | service installed|gone | monitors | camera";

// Runs the step the arguments name; false when they name none.
bool run_step(int argc, wchar_t** argv, Account& account)
{
    const std::wstring_view step = argc >= 2 ? argv[1] : L"";
    const std::wstring_view argument = argc == 3 ? argv[2] : L"";
    if (argc == 2 && step == L"user-sid") {
        print_user_sid(account);
    } else if (argc == 3 && step == L"service" && argument == L"installed") {
        report_helper_service(account, ServiceExpectation::installed);
    } else if (argc == 3 && step == L"service" && argument == L"gone") {
        report_helper_service(account, ServiceExpectation::gone);
    } else if (argc == 2 && step == L"monitors") {
        run_monitor_client(account);
    } else if (argc == 2 && step == L"camera") {
        run_camera_viewer(account);
    } else {
        return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
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
