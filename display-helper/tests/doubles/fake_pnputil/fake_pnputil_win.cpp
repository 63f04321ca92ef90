// A stand-in for the system's pnputil.exe, which Wine lacks. The test tree copies it into the
// Wine prefix as C:\windows\system32\pnputil.exe, where the helper looks for the utility.
//
// The folder named by TOLVEK_FAKE_PNPUTIL_DIR (inherited from the test through the helper)
// holds its state and instructions:
//   calls.txt     each run appends its argument list as the child's CommandLineToArgvW
//                 read it: the count on a line, then "<byte length>:<UTF-8 bytes>" for each
//                 argument, then a line feed
//   store.txt     the simulated driver store, one package a line: "<published> <original>";
//                 /add-driver, /enum-drivers and /delete-driver work on it like the real tool
//   <op>.reply    when present (op is the first argument without its slash, for example
//                 "add-driver.reply"), replaces the simulated behaviour with one line each of
//                   exit <code>
//                   stdout-file <file in the folder>   bytes written to standard output
//                   stderr-file <file in the folder>   bytes written to standard error
//                   stdout-fill <count>                that many bytes of text lines
//                   stderr-fill <count>
//                   read-stdin 1                       reads standard input to its end
//                                                      and writes "stdin held N bytes"
//                 Fills are written in interleaved chunks to both streams, so a reader that
//                 drains one stream to its end before the other deadlocks.

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tolvek/owners_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace {

namespace fs = std::filesystem;

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void write_all(HANDLE stream, const std::string& bytes)
{
    std::size_t written_total = 0;
    while (written_total < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written_total, 65536));
        if (!WriteFile(stream, bytes.data() + written_total, chunk, &written, nullptr)) {
            return;
        }
        written_total += written;
    }
}

std::string read_bytes(const fs::path& path)
{
    std::ifstream file{path, std::ios::binary};
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void record_call(const fs::path& folder, const std::vector<std::string>& arguments)
{
    std::string record = std::to_string(arguments.size()) + "\n";
    for (const std::string& argument : arguments) {
        record += std::to_string(argument.size()) + ":" + argument;
    }
    record += "\n";
    std::ofstream{folder / "calls.txt", std::ios::binary | std::ios::app} << record;
}

struct Package {
    std::string published;
    std::string original;
};

std::vector<Package> read_store(const fs::path& folder)
{
    std::vector<Package> store;
    std::ifstream file{folder / "store.txt"};
    for (Package p; file >> p.published >> p.original;) {
        store.push_back(p);
    }
    return store;
}

void write_store(const fs::path& folder, const std::vector<Package>& store)
{
    std::ofstream file{folder / "store.txt", std::ios::trunc};
    for (const Package& p : store) {
        file << p.published << ' ' << p.original << '\n';
    }
}

// Writes `count` bytes of text lines to both streams in turns.
void fill(std::size_t stdout_count, std::size_t stderr_count)
{
    const std::string line = std::string(79, 'o') + "\n";
    std::string chunk;
    while (chunk.size() < 65536) {
        chunk += line;
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    while (stdout_count > 0 || stderr_count > 0) {
        const std::size_t to_out = std::min(stdout_count, chunk.size());
        write_all(out, chunk.substr(0, to_out));
        stdout_count -= to_out;
        const std::size_t to_err = std::min(stderr_count, chunk.size());
        write_all(err, chunk.substr(0, to_err));
        stderr_count -= to_err;
    }
}

int scripted_reply(const fs::path& folder, const fs::path& reply)
{
    std::ifstream file{reply};
    int exit_code = 0;
    std::size_t stdout_fill = 0;
    std::size_t stderr_fill = 0;
    for (std::string key, value; file >> key >> value;) {
        if (key == "exit") {
            exit_code = std::stoi(value);
        } else if (key == "stdout-file") {
            write_all(GetStdHandle(STD_OUTPUT_HANDLE), read_bytes(folder / value));
        } else if (key == "stderr-file") {
            write_all(GetStdHandle(STD_ERROR_HANDLE), read_bytes(folder / value));
        } else if (key == "stdout-fill") {
            stdout_fill = std::stoull(value);
        } else if (key == "stderr-fill") {
            stderr_fill = std::stoull(value);
        } else if (key == "read-stdin") {
            std::size_t total = 0;
            char buffer[4096];
            for (DWORD got = 0;
                 ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
                 got > 0;) {
                total += got;
            }
            write_all(GetStdHandle(STD_OUTPUT_HANDLE),
                      "stdin held " + std::to_string(total) + " bytes");
        }
    }
    fill(stdout_fill, stderr_fill);
    return exit_code;
}

int simulated_store(const fs::path& folder, const std::vector<std::string>& arguments)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<Package> store = read_store(folder);
    const std::string op = arguments.empty() ? std::string{} : arguments[0];
    if (op == "/enum-drivers" && arguments.size() == 1) {
        std::string listing = "Microsoft PnP Utility\r\n\r\n";
        for (const Package& p : store) {
            listing += "Published Name:     " + p.published +
                       "\r\nOriginal Name:      " + p.original +
                       "\r\nProvider Name:      Tolvek\r\n\r\n";
        }
        write_all(out, listing);
        return 0;
    }
    if (op == "/add-driver" && arguments.size() == 3 && arguments[2] == "/install") {
        const std::string published = "oem" + std::to_string(40 + store.size()) + ".inf";
        const std::string& inf_path = arguments[1];
        store.push_back({published, lowered(inf_path.substr(inf_path.find_last_of("\\/") + 1))});
        write_store(folder, store);
        write_all(out, "Adding driver package:  " + arguments[1] +
                           "\r\nDriver package added successfully.\r\nPublished Name: " +
                           published + "\r\n");
        return 0;
    }
    if (op == "/delete-driver" && arguments.size() == 4 && arguments[2] == "/uninstall" &&
        arguments[3] == "/force") {
        const auto found = std::find_if(store.begin(), store.end(), [&](const Package& p) {
            return lowered(p.published) == lowered(arguments[1]);
        });
        if (found == store.end()) {
            write_all(out, "Failed to delete driver package: not found.\r\n");
            return 2;
        }
        store.erase(found);
        write_store(folder, store);
        write_all(out, "Driver package deleted successfully.\r\n");
        return 0;
    }
    write_all(out, "fake pnputil: unexpected arguments\r\n");
    return 87;
}

} // namespace

int wmain()
{
    const wchar_t* folder_text = _wgetenv(L"TOLVEK_FAKE_PNPUTIL_DIR");
    if (folder_text == nullptr || *folder_text == L'\0') {
        std::fputs("fake pnputil: TOLVEK_FAKE_PNPUTIL_DIR is not set\n", stderr);
        return 86;
    }
    const fs::path folder{folder_text};

    int count = 0;
    const tolvek::UniqueLocalMemory<wchar_t*> argv{CommandLineToArgvW(GetCommandLineW(), &count)};
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(tolvek::utf16_to_utf8_lossy(tolvek::as_utf16(argv.get()[i])));
    }
    record_call(folder, arguments);

    const std::string op = arguments.empty() ? std::string{} : arguments[0];
    const fs::path reply = folder / (op.empty() ? std::string{"none"} : op.substr(1) + ".reply");
    if (fs::exists(reply)) {
        return scripted_reply(folder, reply);
    }
    return simulated_store(folder, arguments);
}
