#include "support/service_layout_win.h"

#include <atomic>
#include <fstream>

#include "helper_owners_win.h"
#include "service_name.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::testing {

namespace fs = std::filesystem;

ServiceLayoutTest::ServiceLayoutTest()
    : program_data_variable_(L"ProgramData", program_data_.path().wstring()),
      app_(root_.path() / "Tolvek App")
{
    static std::atomic<unsigned> counter{0};
    event_prefix_ = L"Global\\tolvek-setup-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(counter.fetch_add(1));
    for (auto [event, suffix] : {std::pair{&running_, L"-running"}, std::pair{&stop_, L"-stop"},
                                 std::pair{&quit_, L"-quit"}}) {
        event->reset(CreateEventW(nullptr, TRUE, FALSE, (event_prefix_ + suffix).c_str()));
    }
    fs::create_directories(app_);
}

void ServiceLayoutTest::SetUp()
{
    ASSERT_TRUE(running_ && stop_ && quit_);
    ASSERT_TRUE(remove_helper_service()) << "a service left by someone else";
}

void ServiceLayoutTest::TearDown()
{
    SetEvent(quit_.get());
    EXPECT_TRUE(remove_helper_service());
}

fs::path ServiceLayoutTest::place_helper(const fs::path& relative) const
{
    const fs::path target = (app_ / relative).make_preferred();
    fs::create_directories(target.parent_path());
    fs::copy_file(executable_folder() / "tolvek-display-helper.exe", target);
    return target;
}

fs::path ServiceLayoutTest::place_driver_package(const fs::path& folder) const
{
    const fs::path package = folder / "driver" / "TolvekIdd.inf";
    fs::create_directories(package.parent_path());
    std::ofstream{package} << "[Version]\n";
    return package;
}

void ServiceLayoutTest::place_test_service(const fs::path& relative, const std::string& mode)
{
    const fs::path target = (app_ / relative).make_preferred();
    fs::create_directories(target.parent_path());
    fs::copy_file(executable_folder() / "test_service.exe", target);
    service_folder_ = target.parent_path();
    std::ofstream{service_folder_ / "test-service.conf", std::ios::binary} << narrow(event_prefix_)
                                                                           << '\n'
                                                                           << mode << '\n';
}

void ServiceLayoutTest::change_display_name_and_start_type(const wchar_t* display_name,
                                                           DWORD start_type) const
{
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    const UniqueServiceHandle service{
        OpenServiceW(manager.get(), as_wide(kServiceName), SERVICE_CHANGE_CONFIG)};
    ASSERT_TRUE(service.valid());
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, start_type,
                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, display_name));
}

void ServiceLayoutTest::start_service_and_wait_until_running() const
{
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    const UniqueServiceHandle service{
        OpenServiceW(manager.get(), as_wide(kServiceName), SERVICE_START)};
    ASSERT_TRUE(service.valid());
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_EQ(WaitForSingleObject(running_.get(), 30000), WAIT_OBJECT_0);
}

bool ServiceLayoutTest::stop_requested_within(std::chrono::milliseconds timeout) const
{
    return WaitForSingleObject(stop_.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

void ServiceLayoutTest::let_service_quit() const
{
    SetEvent(quit_.get());
}

std::vector<std::string> ServiceLayoutTest::service_arguments() const
{
    return lines_of(read_file(service_folder_ / "test-service-arguments.txt").value_or(""));
}

std::string ServiceLayoutTest::narrow(const fs::path& path)
{
    const std::wstring& wide = path.native();
    return utf16_to_utf8(as_utf16(wide.c_str(), wide.size())).value_or("?");
}

} // namespace tolvek::testing
