#pragma once

// How uninstall reports its two independent steps: one log line with both outcomes, and one
// of them as the command's result. Platform-free.

#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace tolvek {

// The service step's outcome when the service would not open with `error_code`
// (`error_text` being that code's error text). Only a service that is not there
// (ERROR_SERVICE_DOES_NOT_EXIST) leaves nothing to remove; any other failure, such as no right
// to delete it, leaves the service installed and is the error "the service would not open: ...".
[[nodiscard]] Status unopened_service_outcome(std::uint32_t error_code,
                                              std::string_view error_text);

// "Ok(())" for a success; for an error "Err(" + the error text in double quotes + ")",
// escaped as `quoted_for_log` does.
[[nodiscard]] std::string outcome_text(const Status& outcome);

// "uninstalled (service: Ok(()), driver: Err(\"the driver package would not go: ...\"))"
[[nodiscard]] std::string uninstall_log_line(const Status& service, const Status& driver);

// The service step's error if it failed (the driver outcome then shows only in the log
// line), otherwise the driver step's outcome.
[[nodiscard]] Status uninstall_result(Status service, Status driver);

// `text` in double quotes, so that one log line shows it whole and unambiguously:
// - a double quote, a backslash, a tab, a carriage return, a line feed and a NUL are written
//   \" \\ \t \r \n \0;
// - every other character that would not show as itself is written \u{...} with its code in
//   lower-case hexadecimal: the other control characters (U+0001-U+001F, U+007F-U+009F), the
//   invisible format characters (soft hyphen, zero-width characters, bidirectional marks,
//   embeddings, overrides and isolates, byte order mark, tag characters, ...), the line and
//   paragraph separators, the blanks other than U+0020 (no-break space, ideographic space,
//   ...), private-use characters and the noncharacters;
// - every other character, non-ASCII letters and symbols included, is written as it is.
//   Code points not yet assigned cannot be told apart without a Unicode database and are
//   written as they are too.
// Bytes that are not valid UTF-8 are written as U+FFFD, one per maximal invalid sequence.
[[nodiscard]] std::string quoted_for_log(std::string_view text);

} // namespace tolvek
