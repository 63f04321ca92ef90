// libFuzzer target of the request protocol. For every input line it checks that
// - parse_request agrees with a second, independent reading of the same rules over
//   nlohmann's DOM parser (which keeps no duplicate keys, so duplicates are counted through
//   its parse callback);
// - an accepted request, written back as its canonical line, parses to the same request;
// - a reply carrying the line as its version text (when the line is valid UTF-8) is one
//   compact line that reads back to the same reply, through nlohmann's DOM and through
//   parse_reply, the client's reading;
// - a line that parse_reply accepts, written back by encode_reply, reads back the same.
// Any disagreement aborts with the line, so that libFuzzer keeps it as a finding.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "request_protocol.h"
#include "tolvek/text_encoding.h"

namespace tolvek {
namespace {

using Json = nlohmann::json;

void require(bool holds, const char* property, std::string_view line)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\nline (%zu bytes): %.*s\n", property, line.size(),
                     static_cast<int>(line.size()), line.data());
        std::abort();
    }
}

std::optional<std::uint32_t> field_value(const Json& value)
{
    if (!value.is_number_unsigned()) {
        return std::nullopt;
    }
    const auto number = value.get<Json::number_unsigned_t>();
    if (number > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

// The fields of the variant named `op`, in declared order; nothing for an unknown op.
std::optional<std::vector<std::string>> declared_fields(const Json& op)
{
    if (!op.is_string()) {
        return std::nullopt;
    }
    const auto& word = op.get_ref<const std::string&>();
    if (word == "create") {
        return std::vector<std::string>{"width",     "height",     "refresh_hz",
                                        "vendor_id", "product_id", "serial"};
    }
    if (word == "destroy") {
        return std::vector<std::string>{"serial"};
    }
    if (word == "ping") {
        return std::vector<std::string>{};
    }
    return std::nullopt;
}

std::optional<Request> request_of(const Json& op, const std::vector<std::uint32_t>& values)
{
    const auto& word = op.get_ref<const std::string&>();
    if (word == "create") {
        return Create{values[0], values[1], values[2], values[3], values[4], values[5]};
    }
    if (word == "destroy") {
        return Destroy{values[0]};
    }
    return Ping{};
}

std::optional<Request> reference_parse(std::string_view line)
{
    if (line.starts_with("\xEF\xBB\xBF") || line.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    int deepest = 0;
    std::map<std::string, int> top_level_keys;
    const auto observe = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start ||
            event == Json::parse_event_t::array_start) {
            deepest = std::max(deepest, depth + 1);
        } else if (event == Json::parse_event_t::key && depth == 1) {
            ++top_level_keys[parsed.get<std::string>()];
        }
        return true;
    };
    const Json value = Json::parse(line.begin(), line.end(), observe, false);
    if (value.is_discarded() || deepest > 127) {
        return std::nullopt;
    }

    std::vector<std::uint32_t> values;
    if (value.is_object()) {
        if (top_level_keys["op"] != 1) {
            return std::nullopt;
        }
        const auto fields = declared_fields(value.at("op"));
        if (!fields) {
            return std::nullopt;
        }
        for (const auto& key : *fields) {
            const auto field = top_level_keys[key] == 1 ? field_value(value.at(key)) : std::nullopt;
            if (!field) {
                return std::nullopt;
            }
            values.push_back(*field);
        }
        return request_of(value.at("op"), values);
    }
    if (value.is_array() && !value.empty()) {
        const auto fields = declared_fields(value.at(0));
        if (!fields || value.size() != 1 + fields->size()) {
            return std::nullopt;
        }
        for (std::size_t i = 1; i < value.size(); ++i) {
            const auto field = field_value(value.at(i));
            if (!field) {
                return std::nullopt;
            }
            values.push_back(*field);
        }
        return request_of(value.at(0), values);
    }
    return std::nullopt;
}

void check_reply_with_version(std::string_view line, std::uint8_t selector)
{
    Reply reply{(selector & 1) != 0, std::nullopt, std::string(line)};
    if ((selector & 2) != 0) {
        reply.error = static_cast<ReplyError>((selector >> 2) % 4);
    }
    const std::string encoded = encode_reply(reply);
    require(!encoded.empty() && encoded.find('\n') == encoded.size() - 1,
            "a reply is exactly one line", line);
    const Json read_back = Json::parse(encoded, nullptr, false);
    require(read_back.is_object(), "a reply is a JSON object", line);
    require(read_back.at("ok") == reply.ok, "the reply's ok reads back", line);
    require(read_back.contains("error") == reply.error.has_value() &&
                (!reply.error ||
                 read_back.at("error").get<std::string>() == reply_error_word(*reply.error)),
            "the reply's error reads back", line);
    require(read_back.at("version").get<std::string>() == line, "the version reads back", line);
    if (reply.ok != reply.error.has_value()) { // a reply the helper could write
        std::string reply_line = encoded;
        reply_line.pop_back();
        require(parse_reply(reply_line) == reply, "the client reads the reply back", line);
    }
}

void check_reply_reading(std::string_view line)
{
    const std::optional<Reply> reply = parse_reply(line);
    if (!reply) {
        return;
    }
    std::string written = encode_reply(*reply);
    written.pop_back();
    require(parse_reply(written) == reply, "a reply a client read is written back alike", line);
}

} // namespace
} // namespace tolvek

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tolvek;
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    const std::optional<Request> request = parse_request(line);
    require(request == reference_parse(line), "parse_request agrees with the DOM reading", line);
    if (request) {
        require(parse_request(encode_request(*request)) == request,
                "a canonical line parses to its request", line);
    }
    if (is_valid_utf8(line)) {
        check_reply_with_version(line, size == 0 ? 0 : data[0]);
    }
    check_reply_reading(line);
    return 0;
}
