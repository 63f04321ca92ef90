#include "request_protocol.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "allocation_counter.h"

namespace tolvek {

void PrintTo(const Request& request, std::ostream* out)
{
    *out << encode_request(request);
}

namespace {

using namespace std::string_literals;

struct LineCase {
    std::string line;
    std::optional<Request> expected; // nothing: refused
};

void expect_outcomes(const std::vector<LineCase>& cases)
{
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(parse_request(line), expected) << "line: " << line;
    }
}

void expect_refused(const std::vector<std::string>& lines)
{
    for (const auto& line : lines) {
        EXPECT_EQ(parse_request(line), std::nullopt) << "line: " << line;
    }
}

const std::string kCreateLine = R"({"op":"create","width":1920,"height":1080,"refresh_hz":60,)"
                                R"("vendor_id":21615,"product_id":19542,"serial":1})";
const Create kCreate{1920, 1080, 60, 21615, 19542, 1};

std::string nested_arrays(std::size_t levels)
{
    return std::string(levels, '[') + std::string(levels, ']');
}

TEST(RequestProtocol, well_formed_object_lines_parse_to_their_request)
{
    expect_outcomes({
        {kCreateLine, kCreate},
        {R"({"op":"destroy","serial":1})", Destroy{1}},
        {R"({"op":"ping"})", Ping{}},
        {R"({"serial":7,"op":"destroy"})", Destroy{7}},
        {R"({"serial":1,"product_id":19542,"vendor_id":21615,"refresh_hz":60,"height":1080,)"
         R"("width":1920,"op":"create"})",
         kCreate},
        {" \t{\"op\":\"ping\"}\r\n ", Ping{}},
        {R"({ "op" : "destroy" , "serial" : 0 })", Destroy{0}},
        {R"({"op":"destroy","serial":4294967295})", Destroy{4294967295u}},
        // Op and keys compare after unescaping.
        {R"({"op":"\u0070ing"})", Ping{}},
        {R"({"\u006fp":"destroy","s\u0065rial":3})", Destroy{3}},
        // Values the session refuses still parse: range checks need its state.
        {R"({"op":"create","width":0,"height":7,"refresh_hz":0,"vendor_id":0,"product_id":0,)"
         R"("serial":0})",
         Create{0, 7, 0, 0, 0, 0}},
    });
}

TEST(RequestProtocol, a_line_holds_exactly_one_value_with_only_json_whitespace_around_it)
{
    expect_refused({
        "",
        "\r",
        " \t\r\n",
        R"({"op":"ping"} {"op":"ping"})",
        R"({"op":"ping"}{"op":"ping"})",
        R"({"op":"ping"}x)",
        R"({"op":"ping"},)",
        R"({"op":"ping")",
        R"({"op":"ping",})",
        R"({'op':'ping'})",
        R"(/*note*/{"op":"ping"})",
        R"({"op":"ping"}//note)",
        "\xEF\xBB\xBF{\"op\":\"ping\"}", // a byte order mark is not whitespace
        "\f{\"op\":\"ping\"}",
        "\v{\"op\":\"ping\"}",
        "\xC2\xA0{\"op\":\"ping\"}", // no-break space
        // A NUL byte does not end the line.
        "{\"op\":\"ping\"}\0"s,
        "{\"op\":\"ping\"}\0{\"op\":\"ping\"}"s,
        "{\"op\":\"ping\"}\0garbage"s,
        "\0{\"op\":\"ping\"}"s,
        "{\"op\":\"ping\",\0\"x\":1}"s,
    });
}

TEST(RequestProtocol, the_request_is_an_object_or_the_array_form_and_nothing_else)
{
    expect_refused({R"("ping")", "1", "null", "true", "[]", "{}", R"(["op","ping"])"});
}

TEST(RequestProtocol, op_appears_exactly_once_as_a_known_lower_case_word)
{
    expect_refused({
        R"({"op":"Create","width":1920,"height":1080,"refresh_hz":60,"vendor_id":21615,)"
        R"("product_id":19542,"serial":1})",
        R"({"op":"PING"})",
        R"({"op":"ping "})",
        R"({"op":"pong"})",
        R"({"op":""})",
        R"({"op":"ping\u0000"})",
        R"({"op":1})",
        R"({"op":null})",
        R"({"op":["ping"]})",
        R"({"op":{"op":"ping"}})",
        R"({"op":"ping","op":"ping"})",
        R"({"op":"ping","\u006fp":"ping"})",
        R"({"op":"destroy","serial":1,"op":"ping"})",
        R"({"Op":"ping"})",
        R"({"serial":1})",
        R"({"x":{"op":"ping"}})",
    });
}

TEST(RequestProtocol, each_declared_field_appears_exactly_once)
{
    expect_refused({
        R"({"op":"create"})",
        R"({"op":"create","width":1920,"height":1080,"refresh_hz":60,"vendor_id":21615,)"
        R"("product_id":19542})",
        R"({"op":"create","width":1920,"width":1920,"height":1080,"refresh_hz":60,)"
        R"("vendor_id":21615,"product_id":19542,"serial":1})",
        R"({"op":"destroy"})",
        R"({"op":"destroy","serial":1,"serial":1})",
        R"({"serial":1,"op":"destroy","serial":2})",
    });
}

TEST(RequestProtocol, undeclared_keys_are_ignored_whatever_they_hold)
{
    expect_outcomes({
        {R"({"op":"ping","serial":5})", Ping{}},
        {R"({"serial":"five","op":"ping","serial":[5],"width":-1})", Ping{}},
        {R"({"op":"destroy","serial":3,"width":"wide","width":[1],"refresh_hz":60.0})", Destroy{3}},
        {R"({"op":"ping","nested":{"op":"create","serial":1,"op":7}})", Ping{}},
        {R"({"name":{"a":[1,{"b":null}],"c":"\u00e9\ud83d\ude00"},"tags":[],"x":1.5,"x":-1,)"
         R"("op":"destroy","serial":9,"x":true})",
         Destroy{9}},
        {R"({"op":"create","width":1920,"height":1080,"refresh_hz":60,"vendor_id":21615,)"
         R"("product_id":19542,"serial":1,"label":"left"})",
         kCreate},
    });
}

TEST(RequestProtocol, field_values_are_unsigned_32_bit_integers_without_fraction_or_exponent)
{
    const auto destroy_with = [](const std::string& serial) {
        return R"({"op":"destroy","serial":)" + serial + "}";
    };
    expect_outcomes({
        {destroy_with("0"), Destroy{0}},
        {destroy_with(" 4294967295 "), Destroy{4294967295u}},
    });
    for (const char* serial : {"4294967296",
                               "18446744073709551615",
                               "18446744073709551616",
                               "99999999999999999999999999",
                               "-1",
                               "-0",
                               "-4294967295",
                               "60.0",
                               "6e1",
                               "6E1",
                               "1e0",
                               "0.5",
                               "1.",
                               ".5",
                               R"("60")",
                               "true",
                               "false",
                               "null",
                               "[60]",
                               "{}",
                               "060",
                               "+60",
                               "0x3C",
                               "Infinity",
                               "NaN"}) {
        EXPECT_EQ(parse_request(destroy_with(serial)), std::nullopt) << "serial: " << serial;
    }
    expect_refused({
        R"({"op":"create","width":1920.0,"height":1080,"refresh_hz":60,"vendor_id":21615,)"
        R"("product_id":19542,"serial":1})",
        R"({"op":"create","width":1920,"height":1080,"refresh_hz":6e1,"vendor_id":21615,)"
        R"("product_id":19542,"serial":1})",
        R"(["destroy",-1])",
    });
}

TEST(RequestProtocol, array_form_carries_the_op_first_and_the_fields_in_declared_order)
{
    expect_outcomes({
        {R"(["ping"])", Ping{}},
        {R"( [ "ping" ] )", Ping{}},
        {R"(["destroy",7])", Destroy{7}},
        {R"(["\u0064estroy",0])", Destroy{0}},
        {R"(["create",1920,1080,60,21615,19542,1])", kCreate},
        {R"(["create",2,4,6,8,10,12])", Create{2, 4, 6, 8, 10, 12}},
    });
    expect_refused({
        R"(["ping",1])",
        R"(["ping",{}])",
        R"(["destroy"])",
        R"(["destroy",7,8])",
        R"(["destroy","7"])",
        R"(["destroy",[7]])",
        R"(["destroy",7.0])",
        R"(["Destroy",7])",
        R"([7,"destroy"])",
        R"([["ping"]])",
        R"([{"op":"ping"}])",
        R"(["create",1920,1080,60,21615,19542])",
        R"(["create",1920,1080,60,21615,19542,1,1])",
    });
}

TEST(RequestProtocol, nesting_is_limited_to_127_levels_counting_the_request_itself)
{
    const auto ping_holding = [](const std::string& value) {
        return R"({"op":"ping","x":)" + value + "}";
    };
    // Built by appending: `"[" + std::string&&` trips a false -Wrestrict in MinGW's g++ 12.
    const auto array_holding = [](std::size_t first_levels, std::size_t second_levels) {
        std::string array = "[";
        array += nested_arrays(first_levels);
        array += ',';
        array += nested_arrays(second_levels);
        array += ']';
        return array;
    };
    std::string objects_126 = "0";
    for (int level = 0; level < 126; ++level) {
        objects_126 = R"({"k":)" + objects_126 + "}";
    }
    expect_outcomes({
        {ping_holding(nested_arrays(126)), Ping{}},
        {ping_holding(objects_126), Ping{}},
        {ping_holding(nested_arrays(127)), std::nullopt},
        {ping_holding(R"({"k":)" + objects_126 + "}"), std::nullopt},
        // The depth is that of the deepest path, not the count of brackets in the line.
        {ping_holding(array_holding(125, 125)), Ping{}},
        {ping_holding(array_holding(125, 126)), std::nullopt},
    });
}

// A parser that recursed per bracket would overflow the stack here.
TEST(RequestProtocol, brackets_nested_far_beyond_the_limit_are_refused_without_exhausting_stack)
{
    constexpr std::size_t kLevels = 100'000;
    std::string objects;
    for (std::size_t level = 0; level < kLevels; ++level) {
        objects += R"({"a":)";
    }
    expect_refused({
        nested_arrays(kLevels),
        std::string(kLevels, '['),
        R"({"op":"ping","x":)" + nested_arrays(kLevels) + "}",
        objects,
    });
}

TEST(RequestProtocol, every_reply_line_is_written_exactly)
{
    const std::vector<std::pair<Reply, std::string>> cases = {
        {Reply::success(), "{\"ok\":true}\n"},
        {Reply::pong(), "{\"ok\":true,\"version\":\"0.0.0\"}\n"},
        {Reply::failure(ReplyError::refused), "{\"ok\":false,\"error\":\"refused\"}\n"},
        {Reply::failure(ReplyError::limit), "{\"ok\":false,\"error\":\"limit\"}\n"},
        {Reply::failure(ReplyError::failed), "{\"ok\":false,\"error\":\"failed\"}\n"},
        {Reply::failure(ReplyError::unknown), "{\"ok\":false,\"error\":\"unknown\"}\n"},
    };
    for (const auto& [reply, line] : cases) {
        EXPECT_EQ(encode_reply(reply), line);
    }
}

TEST(RequestProtocol, encoding_into_a_buffer_with_room_allocates_nothing_and_replaces_its_text)
{
    std::string out;
    out.reserve(64);
    const long before = testing::allocations_so_far();
    encode_reply(Reply::failure(ReplyError::unknown), out);
    encode_reply(Reply::pong(), out);
    EXPECT_EQ(testing::allocations_so_far(), before);
    EXPECT_EQ(out, "{\"ok\":true,\"version\":\"0.0.0\"}\n");
}

TEST(RequestProtocol, reply_strings_are_escaped_so_that_any_version_text_reads_back)
{
    const std::string version = "1 \"quoted\" back\\slash\nline\x01\x1F\x7F \xC3\xA9";
    const std::string line = encode_reply(Reply{true, std::nullopt, version});
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line, however the text reads";
    const auto object = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(object.is_object()) << line;
    EXPECT_EQ(object.at("version").get<std::string>(), version);
}

TEST(RequestProtocol, canonical_request_lines_read_back_as_the_same_request)
{
    EXPECT_EQ(encode_request(kCreate), kCreateLine);
    EXPECT_EQ(encode_request(Destroy{1}), R"({"op":"destroy","serial":1})");
    EXPECT_EQ(encode_request(Ping{}), R"({"op":"ping"})");
    for (const Request& request : {Request{Create{4294967295u, 0, 1, 2, 3, 4294967295u}},
                                   Request{Destroy{0}}, Request{Destroy{4294967295u}}}) {
        EXPECT_EQ(parse_request(encode_request(request)), request);
    }
}

TEST(RequestProtocol, every_reply_the_helper_writes_reads_back_as_itself)
{
    for (const Reply& reply :
         {Reply::success(), Reply::pong(), Reply::failure(ReplyError::refused),
          Reply::failure(ReplyError::limit), Reply::failure(ReplyError::failed),
          Reply::failure(ReplyError::unknown), Reply{true, std::nullopt, "1 \"2\"\n"}}) {
        std::string line = encode_reply(reply);
        line.pop_back(); // the line feed
        EXPECT_EQ(parse_reply(line), reply) << line;
    }
}

TEST(RequestProtocol, reply_lines_read_by_a_client)
{
    const std::vector<std::pair<std::string, std::optional<Reply>>> cases = {
        {R"( {"version":"0.0.0","ok":true} )", Reply::pong()},
        {R"({"ok":false,"error":"limit","since":"a later helper"})",
         Reply::failure(ReplyError::limit)},
        // Not replies: the caller cannot trust the connection's stream after one of these.
        {"", std::nullopt},
        {"garbage", std::nullopt},
        {R"({"ok":"true"})", std::nullopt},
        {R"({"error":"refused"})", std::nullopt},
        {R"({"ok":false})", std::nullopt},                   // failure without its word
        {R"({"ok":true,"error":"refused"})", std::nullopt},  // success with an error word
        {R"({"ok":false,"error":"Refused"})", std::nullopt}, // words are lower case
        {R"({"ok":false,"error":"busy"})", std::nullopt},    // no such word
        {R"({"ok":false,"error":7})", std::nullopt},
        {R"({"ok":true,"version":0})", std::nullopt},
        {R"([true])", std::nullopt},
        {R"({"ok":true}{"ok":true})", std::nullopt}, // two replies on one line
        {"\xEF\xBB\xBF{\"ok\":true}", std::nullopt}, // a byte order mark is no space
        {"{\"ok\":true}\0trailing"s, std::nullopt},  // nor is a NUL the line's end
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(parse_reply(line), expected) << "line: " << line;
    }
}

} // namespace
} // namespace tolvek
