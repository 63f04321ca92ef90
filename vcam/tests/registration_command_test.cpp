#include "registration_command.h"

#include <gtest/gtest.h>

namespace tolvek::vcam {
namespace {

RegistrationCommand select(std::vector<std::u16string> arguments)
{
    return select_registration_command(arguments);
}

TEST(RegistrationCommand, register_alone_takes_the_module_beside_the_tool)
{
    const auto command = select({u"register"});
    ASSERT_TRUE(std::holds_alternative<RegisterCamera>(command));
    EXPECT_FALSE(std::get<RegisterCamera>(command).module_path.has_value());
}

TEST(RegistrationCommand, register_with_a_path_keeps_it_as_typed)
{
    const std::u16string path = u"..\\d\u00e9p\\tolvek_vcam.dll";
    const auto command = select({u"register", path});
    ASSERT_TRUE(std::holds_alternative<RegisterCamera>(command));
    EXPECT_EQ(std::get<RegisterCamera>(command).module_path, path);
}

TEST(RegistrationCommand, unregister_takes_no_arguments)
{
    EXPECT_TRUE(std::holds_alternative<UnregisterCamera>(select({u"unregister"})));
    EXPECT_TRUE(std::holds_alternative<RegistrationUsageError>(select({u"unregister", u"x.dll"})));
}

TEST(RegistrationCommand, anything_else_is_a_usage_error)
{
    for (const auto& arguments : std::vector<std::vector<std::u16string>>{
             {},
             {u"Register"},
             {u"install"},
             {u"register", u""}, // an empty path would name the current folder
             {u"register", u"a.dll", u"b.dll"},
             {u"unregister "},
         }) {
        EXPECT_TRUE(std::holds_alternative<RegistrationUsageError>(select(arguments)))
            << arguments.size() << " arguments";
    }
}

using State = BitnessOutcome::State;

BitnessOutcome registered(HostBitness bitness, std::string path)
{
    return {bitness, State::done, std::move(path)};
}

BitnessOutcome missing(HostBitness bitness, std::string path)
{
    return {bitness, State::module_missing, std::move(path)};
}

BitnessOutcome failed(HostBitness bitness, std::string why)
{
    return {bitness, State::failed, std::move(why)};
}

BitnessOutcome unregistered(HostBitness bitness)
{
    return {bitness, State::done, {}};
}

constexpr auto kBits64 = HostBitness::bits64;
constexpr auto kBits32 = HostBitness::bits32;

struct ReportCase {
    const char* name;
    std::vector<BitnessOutcome> outcomes;
    RunReport expected;
};

// A missing module of one bitness is no failure as long as the other was registered; any
// failure is, even beside a registration that worked.
TEST(RegistrationReport, tells_for_which_hosts_the_camera_was_registered_and_why_not_for_others)
{
    const std::vector<ReportCase> cases{
        {"both",
         {registered(kBits64, "C:\\T\\tolvek_vcam.dll"),
          registered(kBits32, "C:\\T\\x86\\tolvek_vcam.dll")},
         {true, "registered Tolvek Camera for 64-bit hosts: C:\\T\\tolvek_vcam.dll; for 32-bit "
                "hosts: C:\\T\\x86\\tolvek_vcam.dll"}},
        {"no 32-bit module",
         {registered(kBits64, "C:\\T\\tolvek_vcam.dll"),
          missing(kBits32, "C:\\T\\x86\\tolvek_vcam.dll")},
         {true, "registered Tolvek Camera for 64-bit hosts: C:\\T\\tolvek_vcam.dll; not for 32-bit "
                "hosts: the camera module is missing: C:\\T\\x86\\tolvek_vcam.dll"}},
        {"no 64-bit module",
         {missing(kBits64, "C:\\T\\tolvek_vcam.dll"),
          registered(kBits32, "C:\\T\\x86\\tolvek_vcam.dll")},
         {true,
          "registered Tolvek Camera for 32-bit hosts: C:\\T\\x86\\tolvek_vcam.dll; not for 64-bit "
          "hosts: the camera module is missing: C:\\T\\tolvek_vcam.dll"}},
        {"no module at all",
         {missing(kBits64, "C:\\T\\tolvek_vcam.dll"),
          missing(kBits32, "C:\\T\\x86\\tolvek_vcam.dll")},
         {false, "Tolvek Camera was not registered: for 64-bit hosts: the camera module is "
                 "missing: C:\\T\\tolvek_vcam.dll; for 32-bit hosts: the camera module is missing: "
                 "C:\\T\\x86\\tolvek_vcam.dll"}},
        {"32-bit part failed",
         {registered(kBits64, "C:\\T\\tolvek_vcam.dll"), failed(kBits32, "Access denied.")},
         {false,
          "registered Tolvek Camera for 64-bit hosts: C:\\T\\tolvek_vcam.dll; not for 32-bit "
          "hosts: Access denied."}},
        {"one bitness, registered",
         {registered(kBits32, "D:\\cam\\tolvek_vcam.dll")},
         {true, "registered Tolvek Camera for 32-bit hosts: D:\\cam\\tolvek_vcam.dll"}},
        {"one bitness, failed: the reason alone",
         {failed(kBits64, "the camera module is missing: D:\\x.dll")},
         {false, "the camera module is missing: D:\\x.dll"}},
    };
    for (const ReportCase& report_case : cases) {
        SCOPED_TRACE(report_case.name);
        EXPECT_EQ(registration_report(report_case.outcomes), report_case.expected);
    }
}

TEST(RegistrationReport, tells_for_which_hosts_unregistration_failed)
{
    const std::vector<ReportCase> cases{
        {"both",
         {unregistered(kBits64), unregistered(kBits32)},
         {true, "unregistered Tolvek Camera"}},
        {"32-bit part failed",
         {unregistered(kBits64), failed(kBits32, "Access denied.")},
         {false, "unregistered Tolvek Camera for 64-bit hosts; not for 32-bit hosts: Access "
                 "denied."}},
        {"both failed",
         {failed(kBits64, "one"), failed(kBits32, "two")},
         {false, "Tolvek Camera was not unregistered: for 64-bit hosts: one; for 32-bit hosts: "
                 "two"}},
        {"one bitness, failed: the reason alone",
         {failed(kBits64, "Access denied.")},
         {false, "Access denied."}},
    };
    for (const ReportCase& report_case : cases) {
        SCOPED_TRACE(report_case.name);
        EXPECT_EQ(unregistration_report(report_case.outcomes), report_case.expected);
    }
}

} // namespace
} // namespace tolvek::vcam
