#include "registration_command.h"

#include "tolvek/text_encoding.h"

#include <algorithm>

namespace tolvek::vcam {

namespace {

using State = BitnessOutcome::State;

std::string hosts(HostBitness bitness)
{
    return bitness == HostBitness::bits64 ? "64-bit hosts" : "32-bit hosts";
}

std::string reason(const BitnessOutcome& outcome)
{
    return outcome.state == State::module_missing
               ? "the camera module is missing: " + outcome.detail
               : outcome.detail;
}

// "for N-bit hosts: reason; for M-bit hosts: reason" over the outcomes not done.
std::string reasons_for(const std::vector<BitnessOutcome>& outcomes, const char* lead)
{
    std::string line;
    for (const BitnessOutcome& outcome : outcomes) {
        if (outcome.state != State::done) {
            line += (line.empty() ? "" : "; ") + std::string(lead) + hosts(outcome.bitness) + ": " +
                    reason(outcome);
        }
    }
    return line;
}

std::string camera_name()
{
    return utf16_to_utf8_lossy(kCameraFriendlyName);
}

bool any_failed(const std::vector<BitnessOutcome>& outcomes)
{
    return std::any_of(outcomes.begin(), outcomes.end(), [](const BitnessOutcome& outcome) {
        return outcome.state == State::failed;
    });
}

} // namespace

RegistrationCommand select_registration_command(const std::vector<std::u16string>& arguments)
{
    if (arguments.size() == 1 && arguments[0] == u"register") {
        return RegisterCamera{};
    }
    if (arguments.size() == 2 && arguments[0] == u"register" && !arguments[1].empty()) {
        return RegisterCamera{arguments[1]};
    }
    if (arguments.size() == 1 && arguments[0] == u"unregister") {
        return UnregisterCamera{};
    }
    return RegistrationUsageError{};
}

RunReport registration_report(const std::vector<BitnessOutcome>& outcomes)
{
    std::string done;
    for (const BitnessOutcome& outcome : outcomes) {
        if (outcome.state == State::done) {
            done +=
                (done.empty() ? "for " : "; for ") + hosts(outcome.bitness) + ": " + outcome.detail;
        }
    }
    if (done.empty()) {
        if (outcomes.size() == 1) {
            return {false, reason(outcomes.front())};
        }
        return {false, camera_name() + " was not registered: " + reasons_for(outcomes, "for ")};
    }
    std::string line = "registered " + camera_name() + " " + done;
    if (const std::string not_done = reasons_for(outcomes, "not for "); !not_done.empty()) {
        line += "; " + not_done;
    }
    return {!any_failed(outcomes), line};
}

RunReport unregistration_report(const std::vector<BitnessOutcome>& outcomes)
{
    if (!any_failed(outcomes)) {
        return {true, "unregistered " + camera_name()};
    }
    if (outcomes.size() == 1) {
        return {false, reason(outcomes.front())};
    }
    std::string done;
    for (const BitnessOutcome& outcome : outcomes) {
        if (outcome.state == State::done) {
            done += (done.empty() ? " for " : " and ") + hosts(outcome.bitness);
        }
    }
    if (done.empty()) {
        return {false, camera_name() + " was not unregistered: " + reasons_for(outcomes, "for ")};
    }
    return {false,
            "unregistered " + camera_name() + done + "; " + reasons_for(outcomes, "not for ")};
}

} // namespace tolvek::vcam
