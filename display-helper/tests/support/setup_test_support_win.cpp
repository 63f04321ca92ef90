#include "support/setup_test_support_win.h"

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>

#include "helper_owners_win.h"
#include "log_file.h"
#include "service_name.h"
#include "tolvek/argument_quoting.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::testing {

FakePnputil::FakePnputil() : variable_(L"TOLVEK_FAKE_PNPUTIL_DIR", folder_.path().wstring()) {}

void FakePnputil::set_store(const std::vector<StoredPackage>& packages) const
{
    std::ofstream file{folder_.path() / "store.txt", std::ios::trunc};
    for (const StoredPackage& p : packages) {
        file << p.published << ' ' << p.original << '\n';
    }
}

std::vector<StoredPackage> FakePnputil::store() const
{
    std::vector<StoredPackage> packages;
    std::ifstream file{folder_.path() / "store.txt"};
    for (StoredPackage p; file >> p.published >> p.original;) {
        packages.push_back(p);
    }
    return packages;
}

void FakePnputil::reply(std::string_view operation, std::string_view script) const
{
    put_file(std::string{operation} + ".reply", script);
}

void FakePnputil::put_file(std::string_view name, std::string_view bytes) const
{
    std::ofstream{folder_.path() / std::string{name}, std::ios::binary | std::ios::trunc} << bytes;
}

std::vector<std::vector<std::string>> FakePnputil::calls() const
{
    std::vector<std::vector<std::string>> calls;
    std::istringstream record{read_file(folder_.path() / "calls.txt").value_or("")};
    for (std::size_t count = 0; record >> count;) {
        record.ignore(1); // the line feed after the count
        std::vector<std::string> arguments;
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t length = 0;
            record >> length;
            record.ignore(1); // ':'
            std::string argument(length, '\0');
            record.read(argument.data(), static_cast<std::streamsize>(length));
            arguments.push_back(std::move(argument));
        }
        calls.push_back(std::move(arguments));
    }
    return calls;
}

namespace {

UniqueServiceHandle open_manager()
{
    return UniqueServiceHandle{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
}

UniqueServiceHandle open_helper_service(SC_HANDLE manager, DWORD access)
{
    return UniqueServiceHandle{OpenServiceW(manager, as_wide(kServiceName), access)};
}

} // namespace

std::optional<HelperServiceConfiguration> query_helper_service()
{
    const UniqueServiceHandle manager = open_manager();
    const UniqueServiceHandle service = open_helper_service(manager.get(), SERVICE_QUERY_CONFIG);
    return service ? query_service_configuration(service.get()) : std::nullopt;
}

bool helper_service_gone_within(std::chrono::milliseconds timeout)
{
    return service_gone_within(kServiceName, timeout);
}

bool remove_helper_service()
{
    {
        const UniqueServiceHandle manager = open_manager();
        const UniqueServiceHandle service = open_helper_service(manager.get(), SERVICE_ALL_ACCESS);
        if (!service) {
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        }
        const DWORD process_id =
            query_service_status(service.get()).value_or(SERVICE_STATUS_PROCESS{}).dwProcessId;
        if (process_id != 0) {
            const UniqueHandle process{
                OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, process_id)};
            SERVICE_STATUS ignored{};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
            if (process && WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) {
                TerminateProcess(process.get(), 1);
                WaitForSingleObject(process.get(), 20000);
            }
        }
        DeleteService(service.get());
    }
    return helper_service_gone_within(std::chrono::seconds{10});
}

std::optional<ProcessOutcome> run_program(const std::filesystem::path& program,
                                          const std::vector<std::wstring>& arguments)
{
    std::vector<std::u16string> wide;
    for (const std::wstring& argument : arguments) {
        wide.emplace_back(as_utf16(argument.c_str(), argument.size()));
    }
    const std::u16string line = child_command_line(as_utf16(program.c_str()), wide);
    return run_process(std::wstring{as_wide(line.c_str())}, std::chrono::minutes{1});
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream{text};
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> log_messages(const std::filesystem::path& program_data)
{
    // A message may hold line feeds of its own: a line starts a new message only when it
    // starts with a timestamp.
    static const std::regex timestamp{R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )"};
    std::vector<std::string> messages;
    for (const std::string& line :
         lines_of(read_file(program_data / "Tolvek" / "display-helper.log").value_or(""))) {
        std::smatch match;
        if (std::regex_search(line, match, timestamp, std::regex_constants::match_continuous)) {
            messages.push_back(match.suffix().str());
        } else if (messages.empty()) {
            messages.push_back("no timestamp: " + line);
        } else {
            messages.back() += "\n" + line;
        }
    }
    return messages;
}

LogLockHolder::LogLockHolder(const std::filesystem::path& log)
    : reader_(CreateFileW(log.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
{
    OVERLAPPED far_byte{};
    far_byte.Offset = static_cast<DWORD>(kWritersLockOffset);
    far_byte.OffsetHigh = static_cast<DWORD>(kWritersLockOffset >> 32);
    holds_ =
        reader_ && LockFileEx(reader_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                              1, 0, &far_byte);
}

} // namespace tolvek::testing
