// The client's platform-free decisions: what follows an attempt to open the helper's pipe,
// who serves it, what an early end means, how replies are cut from the stream, and the texts
// of waits and refusals.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_errors.h"
#include "connect_rules.h"
#include "reply_lines.h"

namespace tolvek::display {
namespace {

using namespace std::chrono_literals;

constexpr ServiceSnapshot kStopped{ServiceRunState::stopped, 0};
constexpr ServiceSnapshot kStarting{ServiceRunState::starting, 40};
constexpr ServiceSnapshot kRunning{ServiceRunState::running, 40};
constexpr ServiceSnapshot kStopping{ServiceRunState::stopping, 40};

TEST(ConnectRules, what_follows_an_attempt_to_open_the_pipe)
{
    struct Case {
        PipeOpen open;
        ServiceSnapshot service;
        StartRequest start;
        ConnectStep expected;
    };
    using enum StartRequest;
    const std::vector<Case> cases = {
        {PipeOpen::opened, kRunning, none, ConnectStep::check_server},
        {PipeOpen::opened, kStopped, none, ConnectStep::check_server}, // who serves it decides
        {PipeOpen::busy, kRunning, none, ConnectStep::wait_for_instance},
        {PipeOpen::denied, kRunning, none, ConnectStep::fail_denied},
        {PipeOpen::failed, kRunning, none, ConnectStep::fail},
        {PipeOpen::missing, kStopped, none, ConnectStep::start_service},
        // Reported running without a pipe: its process may have been ended from outside.
        {PipeOpen::missing, kRunning, none, ConnectStep::start_service},
        {PipeOpen::missing, kStarting, accepted, ConnectStep::wait_for_pipe},
        {PipeOpen::missing, kRunning, accepted, ConnectStep::wait_for_pipe},
        {PipeOpen::missing, kRunning, already_running, ConnectStep::wait_for_pipe},
        {PipeOpen::missing, kStopping, already_running, ConnectStep::wait_for_pipe},
        // The one found running has stopped since: start it again.
        {PipeOpen::missing, kStopped, already_running, ConnectStep::start_service},
        // It stopped after this connect started it: it will not serve; no second start.
        {PipeOpen::missing, kStopped, accepted, ConnectStep::fail_stopped},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(step_after_open(c.open, c.service, c.start), c.expected)
            << "open " << static_cast<int>(c.open) << ", service state "
            << static_cast<int>(c.service.state) << ", start " << static_cast<int>(c.start);
    }
}

TEST(ConnectRules, only_the_running_services_own_process_is_trusted_with_the_pipe)
{
    struct Case {
        std::uint32_t server;
        ServiceSnapshot service;
        ServerEnd end;
        ServerVerdict expected;
    };
    const std::vector<Case> cases = {
        {40, kRunning, ServerEnd::open, ServerVerdict::genuine},
        {41, kRunning, ServerEnd::open, ServerVerdict::impostor},
        {40, kStarting, ServerEnd::open, ServerVerdict::genuine},
        {41, kStarting, ServerEnd::open, ServerVerdict::impostor},
        {40, kStopping, ServerEnd::open, ServerVerdict::retry},
        // While the service is stopped, a live server end is a squatter's; a closed one may
        // be the last instance of a service that has just stopped.
        {41, kStopped, ServerEnd::open, ServerVerdict::impostor},
        {41, kStopped, ServerEnd::closed, ServerVerdict::retry},
        // A service process id of 0 matches no server.
        {0, ServiceSnapshot{ServiceRunState::running, 0}, ServerEnd::open, ServerVerdict::impostor},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(judge_server(c.server, c.service, c.end), c.expected)
            << "server " << c.server << ", service state " << static_cast<int>(c.service.state);
    }
}

TEST(ConnectRules, an_end_before_the_first_reply_is_admission_only_if_the_same_service_runs_on)
{
    EXPECT_EQ(meaning_of_early_end(40, kRunning), EarlyEndMeaning::dropped_as_another_user);
    for (const ServiceSnapshot now :
         {kStopped, kStopping, ServiceSnapshot{ServiceRunState::running, 41}}) {
        EXPECT_EQ(meaning_of_early_end(40, now), EarlyEndMeaning::service_went);
    }
}

TEST(ReplyLines, a_reply_may_arrive_in_pieces_and_is_handed_over_once)
{
    ReplyLines replies;
    replies.expect_reply();
    ASSERT_TRUE(replies.take_bytes(R"({"ok":tr)"));
    EXPECT_FALSE(replies.take_reply().has_value());
    ASSERT_TRUE(replies.take_bytes("ue}\r\n"));
    EXPECT_EQ(replies.take_reply(), R"({"ok":true})");
    EXPECT_FALSE(replies.take_reply().has_value());
}

TEST(ReplyLines, lines_outside_the_protocol_break_the_connection)
{
    struct Case {
        const char* what;
        bool expect_first;
        std::vector<std::string> reads;
    };
    const std::vector<Case> cases = {
        {"a line nobody asked for", false, {"{\"ok\":true}\n"}},
        {"two replies to one request", true, {"{\"ok\":true}\n{\"ok\":true}\n"}},
        {"a line over the cap", true, {std::string(513, 'x')}},
        {"a line that is not UTF-8", true, {"\xFF\n"}},
    };
    for (const Case& c : cases) {
        ReplyLines replies;
        if (c.expect_first) {
            replies.expect_reply();
        }
        bool kept = true;
        for (const std::string& read : c.reads) {
            kept = kept && replies.take_bytes(read);
        }
        EXPECT_FALSE(kept) << c.what;
    }
}

TEST(ClientErrors, waits_are_told_in_seconds)
{
    const std::vector<std::pair<std::chrono::milliseconds, std::string>> cases = {
        {10'000ms, "10 s"}, {1'500ms, "1.5 s"}, {250ms, "0.25 s"}, {1ms, "0.001 s"}, {0ms, "0 s"}};
    for (const auto& [duration, text] : cases) {
        EXPECT_EQ(seconds_text(duration), text);
    }
    EXPECT_EQ(pipe_busy_error(2'500ms).text,
              "every instance of the helper's pipe \\\\.\\pipe\\tolvek-display-helper stayed busy "
              "for 2.5 s: other programs hold them");
}

TEST(ClientErrors, each_reply_word_is_its_own_kind_and_names_what_was_asked)
{
    const Request create = Create{1921, 1080, 60, 0x546F, 0x4C56, 3};
    const std::vector<std::pair<ReplyError, ErrorKind>> cases = {
        {ReplyError::refused, ErrorKind::refused},
        {ReplyError::limit, ErrorKind::limit},
        {ReplyError::failed, ErrorKind::failed},
        {ReplyError::unknown, ErrorKind::unknown},
    };
    for (const auto& [word, kind] : cases) {
        const ClientError error = reply_error(word, create);
        EXPECT_EQ(error.kind, kind);
        EXPECT_NE(error.text.find("1921x1080 as serial 3"), std::string::npos) << error.text;
    }
}

} // namespace
} // namespace tolvek::display
