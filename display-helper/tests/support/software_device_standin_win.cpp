#include "support/software_device_standin_win.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

#include "ledger_format.h"
#include "support/test_environment_win.h"
#include "text_encoding.h"

namespace tolvek::testing {
namespace {

using namespace tolvek::standin;

std::string_view action_word(StandinAction action)
{
    switch (action) {
    case StandinAction::succeed:
        return kSucceed;
    case StandinAction::fail_at_once:
        return kFailAtOnce;
    case StandinAction::fail_in_callback:
        return kFailInCallback;
    case StandinAction::never_call_back:
        return kNeverCallBack;
    }
    return kSucceed;
}

// The fields of one record by name.
class Fields {
public:
    explicit Fields(std::string_view record)
    {
        while (!record.empty()) {
            const std::size_t end = std::min(record.find('\t'), record.size());
            const std::string_view field = record.substr(0, end);
            record.remove_prefix(std::min(end + 1, record.size()));
            const std::size_t equals = field.find('=');
            if (equals != std::string_view::npos) {
                values_.emplace(field.substr(0, equals), field.substr(equals + 1));
            }
        }
    }

    [[nodiscard]] std::string raw(const std::string& name) const
    {
        const auto found = values_.find(name);
        return found == values_.end() ? std::string{} : found->second;
    }

    [[nodiscard]] std::uint64_t number(const std::string& name) const
    {
        const std::string value = raw(name);
        return value.empty() ? 0 : std::stoull(value, nullptr, 0);
    }

    [[nodiscard]] std::optional<std::string> text(const std::string& name) const
    {
        const std::optional<std::u16string> unquoted = unquote_utf16(raw(name));
        if (!unquoted) {
            return std::nullopt; // null
        }
        return utf16_to_utf8(*unquoted).value_or("(not UTF-16)");
    }

    [[nodiscard]] std::optional<std::string> guid(const std::string& name) const
    {
        const std::string value = raw(name);
        if (value == "null") {
            return std::nullopt;
        }
        return value;
    }

private:
    std::map<std::string, std::string, std::less<>> values_;
};

LedgerCreate parse_create(const Fields& fields)
{
    LedgerCreate create;
    create.process = static_cast<std::uint32_t>(fields.number("process"));
    create.thread = static_cast<std::uint32_t>(fields.number("thread"));
    create.returned = static_cast<std::uint32_t>(fields.number("returned"));
    create.device = fields.number("device");
    create.enumerator = fields.text("enumerator");
    create.parent = fields.text("parent");
    create.cb_size = static_cast<std::uint32_t>(fields.number("cb_size"));
    create.instance_id = fields.text("instance_id");
    create.hardware_ids = fields.text("hardware_ids");
    create.compatible_ids = fields.text("compatible_ids");
    create.container_id = fields.guid("container_id");
    create.capability_flags = static_cast<std::uint32_t>(fields.number("capability_flags"));
    create.description = fields.text("description");
    create.location = fields.text("location");
    create.security_descriptor_present = fields.raw("security_descriptor") == "present";
    create.property_count = static_cast<std::uint32_t>(fields.number("property_count"));
    for (std::uint32_t i = 0; i < create.property_count; ++i) {
        const std::string prefix = "property" + std::to_string(i) + ".";
        if (fields.raw(prefix + "key").empty()) {
            break; // the property array was null
        }
        LedgerProperty property;
        property.key = fields.raw(prefix + "key");
        property.store = static_cast<std::uint32_t>(fields.number(prefix + "store"));
        property.locale = fields.text(prefix + "locale");
        property.type = static_cast<std::uint32_t>(fields.number(prefix + "type"));
        property.buffer_size = static_cast<std::uint32_t>(fields.number(prefix + "buffer_size"));
        const std::string buffer = fields.raw(prefix + "buffer");
        if (buffer != "null") {
            property.buffer = bytes_from_hex(buffer);
        }
        create.properties.push_back(std::move(property));
    }
    return create;
}

template <class Event>
std::vector<Event> of_kind(const std::vector<LedgerEvent>& events)
{
    std::vector<Event> chosen;
    for (const LedgerEvent& event : events) {
        if (const auto* match = std::get_if<Event>(&event)) {
            chosen.push_back(*match);
        }
    }
    return chosen;
}

} // namespace

void reset_software_device_standin()
{
    std::filesystem::create_directories(kFolder);
    std::filesystem::remove(kLedgerPath);
    std::filesystem::remove(kScriptPath);
}

void script_software_device_standin(const std::vector<StandinRule>& rules)
{
    std::filesystem::create_directories(kFolder);
    std::ostringstream script;
    for (const StandinRule& rule : rules) {
        char result[16];
        std::snprintf(result, sizeof result, "0x%08X", static_cast<unsigned>(rule.result));
        script << rule.instance_id << ' ' << action_word(rule.action) << " result=" << result
               << " delay_ms=" << rule.callback_delay_ms << '\n';
    }
    // Written whole and then renamed into place, so a create never reads half a script.
    const std::filesystem::path partial = std::filesystem::path{kScriptPath} += L".partial";
    std::ofstream{partial, std::ios::binary} << script.str();
    std::filesystem::rename(partial, kScriptPath);
}

std::vector<LedgerCreate> SoftwareDeviceLedger::creates() const
{
    return of_kind<LedgerCreate>(events);
}

std::vector<LedgerCallback> SoftwareDeviceLedger::callbacks() const
{
    return of_kind<LedgerCallback>(events);
}

std::vector<LedgerClose> SoftwareDeviceLedger::closes() const
{
    return of_kind<LedgerClose>(events);
}

std::vector<std::string> SoftwareDeviceLedger::imbalances() const
{
    using DeviceName = std::pair<std::uint32_t, std::uint64_t>; // process, handle
    std::map<DeviceName, int> closes_of;
    for (const LedgerCreate& create : creates()) {
        if (create.device != 0) {
            closes_of.emplace(DeviceName{create.process, create.device}, 0);
        }
    }
    std::vector<std::string> faults;
    for (const LedgerClose& close : closes()) {
        const auto found = closes_of.find({close.process, close.device});
        if (found == closes_of.end() || !close.known) {
            faults.push_back("closed a handle that is not a live device: process " +
                             std::to_string(close.process) + ", device " +
                             std::to_string(close.device));
            continue;
        }
        ++found->second;
    }
    for (const auto& [name, count] : closes_of) {
        if (count != 1) {
            faults.push_back("device " + std::to_string(name.second) + " of process " +
                             std::to_string(name.first) + " closed " + std::to_string(count) +
                             " times");
        }
    }
    return faults;
}

SoftwareDeviceLedger read_software_device_ledger()
{
    SoftwareDeviceLedger ledger;
    const std::string text = read_file(kLedgerPath).value_or(std::string{});
    std::string_view rest{text};
    // Only lines with their line feed: a record being appended right now is not whole yet.
    for (std::size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        const std::string_view record = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const std::string_view kind = record.substr(0, record.find('\t'));
        const Fields fields{record};
        if (kind == "create") {
            ledger.events.emplace_back(parse_create(fields));
        } else if (kind == "callback") {
            ledger.events.emplace_back(LedgerCallback{
                static_cast<std::uint32_t>(fields.number("process")),
                static_cast<std::uint32_t>(fields.number("thread")), fields.number("device"),
                static_cast<std::uint32_t>(fields.number("result"))});
        } else if (kind == "close") {
            ledger.events.emplace_back(
                LedgerClose{static_cast<std::uint32_t>(fields.number("process")),
                            static_cast<std::uint32_t>(fields.number("thread")),
                            fields.number("device"), fields.raw("known") == "true"});
        }
    }
    return ledger;
}

std::string utf16_buffer(std::string_view ascii)
{
    std::string bytes;
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    bytes.append(2, '\0');
    return bytes;
}

} // namespace tolvek::testing
