#pragma once

// The errors of the display client with the texts a person reads: what failed, and when it
// helps, why and what to do. Platform-free: the Windows shell hands in the system's message
// where a system call failed.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "request_protocol.h"
#include "tolvek/display_client.h"

namespace tolvek::display {

// "10 s", "1.5 s", "0.25 s".
[[nodiscard]] std::string seconds_text(std::chrono::milliseconds duration);

// The helper's answer to a request that it did not carry out.
[[nodiscard]] ClientError reply_error(ReplyError error, const Request& request);

[[nodiscard]] ClientError connection_lost_error();
[[nodiscard]] ClientError no_reply_error(std::chrono::milliseconds waited);
[[nodiscard]] ClientError unreadable_reply_error(std::string_view line);
[[nodiscard]] ClientError lost_callback_error();
[[nodiscard]] ClientError out_of_memory_error();

// Finding and starting the service.
[[nodiscard]] ClientError no_service_manager_error(std::string_view system_text);
[[nodiscard]] ClientError not_installed_error();
[[nodiscard]] ClientError service_access_denied_error();
[[nodiscard]] ClientError service_open_error(std::string_view system_text);
[[nodiscard]] ClientError start_refused_error(std::string_view system_text);
[[nodiscard]] ClientError stopped_as_it_started_error();
[[nodiscard]] ClientError pipe_never_opened_error(std::chrono::milliseconds waited);

// The pipe.
[[nodiscard]] ClientError pipe_busy_error(std::chrono::milliseconds waited);
[[nodiscard]] ClientError pipe_access_denied_error();
[[nodiscard]] ClientError dropped_at_once_error();
[[nodiscard]] ClientError impostor_error(std::uint32_t server_process_id);
[[nodiscard]] ClientError pipe_error(std::string_view context, std::string_view system_text);

} // namespace tolvek::display
