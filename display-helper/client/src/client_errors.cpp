#include "client_errors.h"

#include <cstdio>
#include <variant>

#include "service_name.h"
#include "tolvek/text_encoding.h"

namespace tolvek::display {
namespace {

// Long replies are cut in a message; a reply the helper writes is shorter.
constexpr std::size_t kQuotedReplyLimit = 80;

std::string service_name()
{
    return utf16_to_utf8_lossy(kServiceName);
}

std::string pipe_name()
{
    return utf16_to_utf8_lossy(kHelperPipeName);
}

std::string mode_text(std::uint32_t width, std::uint32_t height, std::uint32_t serial)
{
    return std::to_string(width) + "x" + std::to_string(height) + " as serial " +
           std::to_string(serial);
}

// What the client asked for, as the start of a sentence.
std::string request_text(const Request& request)
{
    struct Describe {
        std::string operator()(const Create& create) const
        {
            return "a monitor of " + mode_text(create.width, create.height, create.serial);
        }
        std::string operator()(const Destroy& destroy) const
        {
            return "letting go of serial " + std::to_string(destroy.serial);
        }
        std::string operator()(const Ping&) const { return "a ping"; }
    };
    return std::visit(Describe{}, request);
}

} // namespace

std::string_view error_kind_text(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::not_installed:
        return "the display helper's service is not installed";
    case ErrorKind::access_denied:
        return "the display helper's service is installed for another user";
    case ErrorKind::start_failed:
        return "the display helper's service would not start";
    case ErrorKind::pipe_busy:
        return "the display helper's pipe stayed busy";
    case ErrorKind::timed_out:
        return "the display helper did not answer in time";
    case ErrorKind::impostor:
        return "another program holds the display helper's pipe name";
    case ErrorKind::connection_lost:
        return "the connection to the display helper was lost";
    case ErrorKind::refused:
        return "the display helper refused the request";
    case ErrorKind::limit:
        return "the display helper holds no more monitors for this client";
    case ErrorKind::failed:
        return "the display helper could not make the monitor";
    case ErrorKind::unknown:
        return "the display helper holds no monitor of that serial for this client";
    case ErrorKind::protocol:
        return "the display helper's reply did not read";
    case ErrorKind::usage:
        return "the call cannot be made from there";
    case ErrorKind::out_of_memory:
        return "out of memory";
    case ErrorKind::system:
        return "a system call failed";
    }
    return "a system call failed";
}

std::string seconds_text(std::chrono::milliseconds duration)
{
    const long long ms = duration.count();
    if (ms % 1000 == 0) {
        return std::to_string(ms / 1000) + " s";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", ms / 1000, ms % 1000);
    std::string seconds = text;
    while (seconds.back() == '0') {
        seconds.pop_back();
    }
    return seconds + " s";
}

ClientError reply_error(ReplyError error, const Request& request)
{
    const std::string asked = request_text(request);
    switch (error) {
    case ReplyError::refused:
        if (std::holds_alternative<Create>(request)) {
            return {ErrorKind::refused,
                    "the helper refused " + asked +
                        ": it takes even sides of at most 5120 with at most 14,745,600 pixels, "
                        "and a serial other than 0 that this client does not hold yet"};
        }
        return {ErrorKind::refused, "the helper refused " + asked};
    case ReplyError::limit:
        return {ErrorKind::limit, "the helper refused " + asked +
                                      ": this client already holds the 4 monitors it may hold"};
    case ReplyError::failed:
        return {ErrorKind::failed, "the helper could not make " + asked +
                                       "; the helper's log, %ProgramData%\\Tolvek\\"
                                       "display-helper.log, says why"};
    case ReplyError::unknown:
        return {ErrorKind::unknown,
                "the helper refused " + asked + ": this client holds no monitor of that serial"};
    }
    return {ErrorKind::protocol, "the helper's reply to " + asked + " did not read"};
}

ClientError connection_lost_error()
{
    return {ErrorKind::connection_lost,
            "the connection to the display helper was lost, and every monitor with it; "
            "restore() brings them back"};
}

ClientError no_reply_error(std::chrono::milliseconds waited)
{
    return {ErrorKind::timed_out, "the display helper did not answer within " +
                                      seconds_text(waited) + "; the connection was dropped"};
}

ClientError unreadable_reply_error(std::string_view line)
{
    std::string quoted = decode_utf8_lossy(line.substr(0, kQuotedReplyLimit));
    if (line.size() > kQuotedReplyLimit) {
        quoted += "...";
    }
    return {ErrorKind::protocol,
            "the display helper's reply did not read, so the connection was dropped: " + quoted};
}

ClientError lost_callback_error()
{
    return {ErrorKind::usage, "the display client cannot talk to the helper from inside its "
                              "lost-connection callback; do it on another thread"};
}

ClientError out_of_memory_error()
{
    return {ErrorKind::out_of_memory, "out of memory"};
}

ClientError no_service_manager_error(std::string_view system_text)
{
    return {ErrorKind::system, "no service manager: " + std::string{system_text}};
}

ClientError not_installed_error()
{
    return {ErrorKind::not_installed, "the display helper is not installed: there is no service " +
                                          service_name() +
                                          "; run tolvek-display-helper.exe install <sid> "
                                          "as an administrator"};
}

ClientError service_access_denied_error()
{
    return {ErrorKind::access_denied, "access denied to the service " + service_name() +
                                          ": it is installed for another user; install it for "
                                          "this one"};
}

ClientError service_open_error(std::string_view system_text)
{
    return {ErrorKind::system,
            "the service " + service_name() + " would not open: " + std::string{system_text}};
}

ClientError start_refused_error(std::string_view system_text)
{
    return {ErrorKind::start_failed,
            "the service " + service_name() + " would not start: " + std::string{system_text}};
}

ClientError stopped_as_it_started_error()
{
    return {ErrorKind::start_failed, "the service " + service_name() +
                                         " stopped as it started; its log, %ProgramData%\\Tolvek\\"
                                         "display-helper.log, says why"};
}

ClientError pipe_never_opened_error(std::chrono::milliseconds waited)
{
    return {ErrorKind::timed_out, "the service " + service_name() + " did not open its pipe " +
                                      pipe_name() + " within " + seconds_text(waited)};
}

ClientError pipe_busy_error(std::chrono::milliseconds waited)
{
    return {ErrorKind::pipe_busy, "every instance of the helper's pipe " + pipe_name() +
                                      " stayed busy for " + seconds_text(waited) +
                                      ": other programs hold them"};
}

ClientError pipe_access_denied_error()
{
    return {ErrorKind::access_denied, "access denied to the helper's pipe " + pipe_name() +
                                          ": the service " + service_name() +
                                          " serves another user"};
}

ClientError dropped_at_once_error()
{
    return {ErrorKind::access_denied, "the helper ended the connection before answering: the "
                                      "service " +
                                          service_name() + " serves another user"};
}

ClientError impostor_error(std::uint32_t server_process_id)
{
    return {ErrorKind::impostor, "another program (process " + std::to_string(server_process_id) +
                                     ") holds the helper's pipe name " + pipe_name() +
                                     ", not the service " + service_name() +
                                     "; nothing was sent to it"};
}

ClientError pipe_error(std::string_view context, std::string_view system_text)
{
    return {ErrorKind::system, std::string{context} + ": " + std::string{system_text}};
}

} // namespace tolvek::display
