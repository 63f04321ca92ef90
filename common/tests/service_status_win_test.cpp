// A service as the prefix's real service manager holds it: a probe service that is created,
// never started, read back and deleted.

#include "tolvek/service_status_win.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tolvek/owners_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;

constexpr char16_t kProbeName[] = u"TolvekServiceStatusProbe";
constexpr wchar_t kProbeDisplayName[] = L"Tolvek Service Status Probe";
constexpr wchar_t kProbeCommandLine[] = L"\"C:\\probe\\probe service.exe\" service S-1-5-18";

// The probe service, created for the test's life (a leftover of a crashed run first removed).
class ProbeService {
public:
    ProbeService() : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS))
    {
        remove();
        service_.reset(CreateServiceW(
            manager_.get(), as_wide(kProbeName), kProbeDisplayName, SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
            kProbeCommandLine, nullptr, nullptr, nullptr, nullptr /* LocalSystem */, nullptr));
    }
    ~ProbeService() { remove(); }
    ProbeService(const ProbeService&) = delete;
    ProbeService& operator=(const ProbeService&) = delete;

    [[nodiscard]] SC_HANDLE manager() const { return manager_.get(); }
    [[nodiscard]] SC_HANDLE service() const { return service_.get(); }

    // Deletes the service and closes this handle on it, so that the manager may drop it.
    void remove()
    {
        if (!service_) {
            service_.reset(OpenServiceW(manager_.get(), as_wide(kProbeName), DELETE));
        }
        if (service_) {
            DeleteService(service_.get());
            service_.reset();
        }
    }

private:
    UniqueServiceHandle manager_;
    UniqueServiceHandle service_;
};

TEST(ServiceStatus, the_configuration_and_status_are_read_as_the_manager_holds_them)
{
    const ProbeService probe;
    ASSERT_TRUE(probe.service());

    const std::optional<ServiceConfiguration> configuration =
        query_service_configuration(probe.service());
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->service_type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(configuration->start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(configuration->error_control, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
    EXPECT_EQ(configuration->binary_path, kProbeCommandLine);
    EXPECT_EQ(configuration->display_name, kProbeDisplayName);

    const std::optional<SERVICE_STATUS_PROCESS> status = query_service_status(probe.service());
    ASSERT_TRUE(status);
    EXPECT_EQ(status->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status->dwProcessId, 0u);
}

TEST(ServiceStatus, nothing_is_read_without_a_service_handle)
{
    EXPECT_FALSE(query_service_configuration(nullptr));
    EXPECT_FALSE(query_service_status(nullptr));
}

// A wait that gave back the state asked for although it never came would let a caller report
// a service running that never ran.
TEST(ServiceStatus, a_wait_gives_the_state_seen_last)
{
    const ProbeService probe;
    ASSERT_TRUE(probe.service());
    struct Case {
        const char16_t* name;
        DWORD wanted;
        std::chrono::milliseconds limit;
        DWORD seen;
    };
    const Case cases[] = {
        {kProbeName, SERVICE_STOPPED, 20s, SERVICE_STOPPED},   // holds already
        {kProbeName, SERVICE_RUNNING, 300ms, SERVICE_STOPPED}, // never comes
        {u"TolvekNoSuchService", SERVICE_STOPPED, 300ms, 0},   // nothing to ask
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wait_for_service_state(probe.manager(), c.name, c.wanted, c.limit).dwCurrentState,
                  c.seen)
            << "waiting for state " << c.wanted;
    }
}

TEST(ServiceStatus, a_service_is_gone_once_deleted_and_not_before)
{
    ProbeService probe;
    ASSERT_TRUE(probe.service());
    EXPECT_FALSE(service_gone_within(kProbeName, 0ms));

    probe.remove();

    EXPECT_TRUE(service_gone_within(kProbeName, 20s));
}

} // namespace
} // namespace tolvek
