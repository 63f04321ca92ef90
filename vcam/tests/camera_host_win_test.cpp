// The registered camera in host programs of their own, of this test's bitness: each finds
// "Tolvek Camera" through the video input device category, streams a producer's pictures
// whole, and in its sample callback, which runs on the camera's streaming thread, creates a
// COM object and checks that the thread is a member of the multithreaded apartment, as
// DirectShow's streaming threads are. A host whose threads are all single-threaded
// apartments has no multithreaded apartment unless the camera's worker joins it: the
// creation fails there with CO_E_NOTINITIALIZED. Under Wine that host must run its filters
// without a Filter Graph Manager, whose own thread would give the process one.

#include "camera_graph_win.h"
#include "host_process_win.h"
#include "producer_process_win.h"

#include <gtest/gtest.h>

namespace tolvek::vcam {
namespace {

using Connection = testing::HostProcess::Connection;

struct HostCase {
    const char* name;
    ApartmentKind apartment;
    Connection connection;
};

TEST(CameraHostWin, every_kind_of_host_streams_the_camera_and_creates_objects_in_its_callback)
{
    const ComApartment apartment;
    const testing::ScopedCameraRegistration registration;
    ASSERT_EQ(registration.error(), "");
    testing::ProducerProcess producer(L"paced", 1);
    ASSERT_TRUE(producer.wait_until_ready());

    for (const HostCase& host_case : {
             HostCase{"multithreaded host, capture graph", ApartmentKind::multithreaded,
                      Connection::graph},
             HostCase{"single-threaded apartments, capture graph", ApartmentKind::single_threaded,
                      Connection::graph},
             HostCase{"single-threaded apartments, no graph manager",
                      ApartmentKind::single_threaded, Connection::pins},
         }) {
        SCOPED_TRACE(host_case.name);
        testing::HostProcess host(testing::beside_this_program(L"vcam_test_host.exe"),
                                  host_case.apartment, host_case.connection, 10);
        EXPECT_TRUE(host.wait_until_settled());
        const testing::HostOutcome outcome = host.finish();
        EXPECT_EQ(outcome.exit_code, 0u) << outcome.report;
    }
}

} // namespace
} // namespace tolvek::vcam
