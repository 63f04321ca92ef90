#pragma once

// The files of a release that setup installs, where they go, and which files of an
// installation are setup's to delete. Platform-free: paths are UTF-16 text carried as
// char16_t, relative to the release folder (the unpacked archive) or to the install folder,
// which have the same layout.

#include <string>
#include <string_view>
#include <vector>

namespace tolvek::setup {

// The install folder's name under the system's Program Files folder.
inline constexpr std::u16string_view kInstallFolderName = u"Tolvek";
inline constexpr std::u16string_view kSetupFileName = u"tolvek-setup.exe";
inline constexpr std::u16string_view kLicenceFileName = u"LICENSE.txt";
inline constexpr std::u16string_view kReadmeFileName = u"README.txt";

// The install folder's access list: the system and administrators may change it, users and
// sandboxed application packages may read and run what it holds. Protected, so that nothing
// inherited from above widens it; what the folder holds inherits it. A LocalSystem service
// runs the helper from there, so whoever may change a file there could run code as the system.
inline constexpr std::string_view kInstallFolderAccess =
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)(A;OICI;FRFX;;;AC)";

// Every file a release must hold, relative to its folder: the programs and the camera for
// 64-bit hosts at the top, the camera for 32-bit hosts with its registration program in the
// x86 folder (the layout the registration program expects), the licence and the readme.
// tolvek-setup.exe is among them, so that an installation can remove itself.
[[nodiscard]] std::vector<std::u16string> release_files();

// The subfolders of an installation, the deepest first, then the install folder itself (the
// empty path): the order in which remove empties and deletes them. The driver folder holds
// the display driver package when a release ships one; everything in it is setup's.
[[nodiscard]] std::vector<std::u16string> installed_folders();

// Whether remove deletes the file `file_name` found in `folder` (one of installed_folders()):
// a release file, or what installing one leaves behind (staged_copy_name, set_aside_name).
// Anything else there is somebody else's and stays.
[[nodiscard]] bool installed_by_setup(std::u16string_view folder, std::u16string_view file_name);

// The copy of a release file that install makes beside its destination before it puts it in
// place in one step: "tolvek_vcam.dll.new".
[[nodiscard]] std::u16string staged_copy_name(std::u16string_view path);

// The name under which install sets aside a file that is in use while it puts the new one in
// place: "tolvek_vcam.dll.1.old" for number 1. The system deletes it at the next restart.
[[nodiscard]] std::u16string set_aside_name(std::u16string_view path, unsigned number);

// Whether a path ends in such a set-aside name (".<number>.old").
[[nodiscard]] bool is_set_aside_name(std::u16string_view path);

// `relative` (one of the paths above, or a file name in a subfolder) below `folder`.
[[nodiscard]] std::u16string path_in(std::u16string_view folder, std::u16string_view relative);

} // namespace tolvek::setup
