#pragma once

// The rules of the helper's log file that need no system call: where it lives, when it is
// emptied, and how a line looks.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// A log larger than this is emptied by the next write; one of exactly this size is still
// appended to.
inline constexpr std::uint64_t kLogSizeLimit = 262144;

enum class LogWriteMode { append, empty_first };

// The byte whose exclusive lock the log's writers take around each line: far past any real
// end of the file, so that readers never meet it.
inline constexpr std::uint64_t kWritersLockOffset = 0x7FFF'FFFF'FFFF'FFFE;

// `current_size` is the file's size, or nothing when it could not be read (no file yet).
[[nodiscard]] LogWriteMode log_write_mode(std::optional<std::uint64_t> current_size);

// The log's path below the ProgramData folder: "<program_data>\Tolvek\display-helper.log",
// with a separator added only when the value does not end in one. Nothing for an empty
// value: there is no fixed fallback.
[[nodiscard]] std::optional<std::u16string> log_path_below(std::u16string_view program_data);

// The log's folder when the helper creates it, read entry by entry:
//   D:P               a protected list: nothing is inherited from ProgramData, which lets every
//                     user create folders and files below it and own what they create
//   (A;OICI;FA;;;SY)  full control for LocalSystem, on the folder and all it holds
//   (A;OICI;FA;;;BA)  full control for Administrators, likewise
//   (A;OICI;FR;;;BU)  read for Users: they may read the log, and create nothing there
inline constexpr std::string_view kLogFolderSecurityDescriptor =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

// The owners, besides the account the helper runs as, of a folder the helper writes its log
// into. An elevated administrator's folders are owned by the Administrators group.
inline constexpr std::string_view kLocalSystemSid = "S-1-5-18";
inline constexpr std::string_view kAdministratorsSid = "S-1-5-32-544";

// What the system tells about a file or folder through a handle that did not follow a
// reparse point at its name.
struct FileFacts {
    bool is_directory = false;
    bool is_reparse_point = false; // a junction or a link: it leads somewhere else
    std::uint32_t link_count = 0;
};

// Whether the helper may write its log into the folder: a real folder, not a reparse point,
// owned (`owner_sid`, as the system renders it) by the account the helper runs as,
// LocalSystem or Administrators. A folder that another user made (any user may create folders
// in ProgramData and owns them) is never written, for that user could lead the service's
// writes anywhere through it.
[[nodiscard]] bool log_folder_trusted(const FileFacts& folder, std::string_view owner_sid,
                                      std::string_view own_account_sid);

// Whether the file at the log's name may be written: a plain file with one link. A hard link
// or a link of any kind would make the write, or the emptying, land in another file.
[[nodiscard]] bool log_file_plain(const FileFacts& file);

struct LocalDateTime {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
};

// "2026-12-07 16:20:00": no milliseconds, no time zone.
[[nodiscard]] std::string format_timestamp(const LocalDateTime& time);

// The timestamp, a blank, the message unchanged (line feeds inside it are not escaped) and
// one line feed.
[[nodiscard]] std::string format_log_line(std::string_view timestamp, std::string_view message);

} // namespace tolvek
