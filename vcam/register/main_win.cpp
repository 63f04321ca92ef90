// Program entry of tolvek-vcam-register: registers the camera module for the machine, or
// removes that registration, and reports the outcome in one line: on standard output with
// exit code 0, or on standard error with exit code 1.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "camera_registration_win.h"
#include "camera_registry_layout.h"
#include "registration_command.h"
#include "tolvek/dll_search_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace {

using namespace tolvek;
using namespace tolvek::vcam;

// What the tool did, for standard output; or why it did not.
Result<std::string> run(const RegistrationCommand& command)
{
    struct Runner {
        Result<std::string> operator()(const RegisterCamera& c) const
        {
            Result<std::u16string> module = c.module_path ? Result<std::u16string>(*c.module_path)
                                                          : module_beside_this_program();
            if (module) {
                module = register_camera(module.value());
            }
            if (!module) {
                return std::move(module).error();
            }
            return "registered " + utf16_to_utf8_lossy(kCameraFriendlyName) + ": " +
                   utf16_to_utf8_lossy(module.value());
        }
        Result<std::string> operator()(const UnregisterCamera&) const
        {
            if (Status removed = unregister_camera(); !removed) {
                return std::move(removed).error();
            }
            return "unregistered " + utf16_to_utf8_lossy(kCameraFriendlyName);
        }
        Result<std::string> operator()(const RegistrationUsageError&) const
        {
            return Error{std::string(kRegistrationUsage)};
        }
    };
    return std::visit(Runner{}, command);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    tolvek::restrict_dll_search_to_system_folder();
    std::vector<std::u16string> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.emplace_back(tolvek::as_utf16(argv[index]));
    }
    const Result<std::string> outcome = run(select_registration_command(arguments));
    // Binary mode: the C runtime's text mode would write CR LF where the line ends in LF.
    FILE* stream = outcome ? stdout : stderr;
    _setmode(_fileno(stream), _O_BINARY);
    std::fprintf(stream, "%s\n", outcome ? outcome.value().c_str() : outcome.error().text.c_str());
    return outcome ? 0 : 1;
}
