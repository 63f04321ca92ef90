#include "request_protocol.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <limits>
#include <span>

#include <nlohmann/json.hpp>

namespace tolvek {
namespace {

using Json = nlohmann::json;

// The request object or array is the first level.
constexpr std::size_t kMaxNesting = 127;

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Every field key that some variant declares, in the declared order of Create. A field's
// number indexes its key and its value.
enum Field : std::size_t {
    kWidth,
    kHeight,
    kRefreshHz,
    kVendorId,
    kProductId,
    kSerial,
    kFieldCount
};
constexpr std::array<std::string_view, kFieldCount> kFieldKeys = {
    "width", "height", "refresh_hz", "vendor_id", "product_id", "serial"};

using FieldValues = std::array<std::uint32_t, kFieldCount>;

constexpr std::array<Field, 6> kCreateFields = {kWidth,    kHeight,    kRefreshHz,
                                                kVendorId, kProductId, kSerial};
constexpr std::array<Field, 1> kDestroyFields = {kSerial};

struct VariantShape {
    std::string_view op;
    std::span<const Field> fields;
    Request (*make)(const FieldValues& values);
};

// Indexed like the alternatives of Request.
constexpr std::array<VariantShape, 3> kVariants = {{
    {"create", kCreateFields,
     [](const FieldValues& v) -> Request {
         return Create{v[kWidth],    v[kHeight],    v[kRefreshHz],
                       v[kVendorId], v[kProductId], v[kSerial]};
     }},
    {"destroy", kDestroyFields,
     [](const FieldValues& v) -> Request { return Destroy{v[kSerial]}; }},
    {"ping", {}, [](const FieldValues&) -> Request { return Ping{}; }},
}};
static_assert(kVariants.size() == std::variant_size_v<Request>);

std::optional<std::size_t> variant_named(std::string_view op)
{
    for (std::size_t i = 0; i < kVariants.size(); ++i) {
        if (kVariants[i].op == op) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<Field> field_named(std::string_view key)
{
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (kFieldKeys[i] == key) {
            return static_cast<Field>(i);
        }
    }
    return std::nullopt;
}

FieldValues field_values(const Request& request)
{
    FieldValues values{};
    if (const auto* create = std::get_if<Create>(&request)) {
        values = {create->width,     create->height,     create->refresh_hz,
                  create->vendor_id, create->product_id, create->serial};
    } else if (const auto* destroy = std::get_if<Destroy>(&request)) {
        values[kSerial] = destroy->serial;
    }
    return values;
}

// What a value directly inside the request object or array can stand for: a field value
// (an integer in the unsigned 32-bit range), an op (a string naming a variant), or neither.
struct MemberValue {
    std::optional<std::uint32_t> integer;
    std::optional<std::size_t> variant;
};

// Reads a request from nlohmann's SAX events in one pass. Only the request's own level is
// looked at; anything nested deeper is skipped apart from counting its depth. Which keys a
// variant declares is known only once "op" is read, and "op" may come last, so in the object
// form every field key is recorded and judged at the end.
class RequestReader {
public:
    bool null() { return take_value({}); }
    bool boolean(bool) { return take_value({}); }
    // Only numbers written with a minus sign arrive here ("-0" too): never a field value.
    bool number_integer(Json::number_integer_t) { return take_value({}); }
    bool number_unsigned(Json::number_unsigned_t number)
    {
        if (number > std::numeric_limits<std::uint32_t>::max()) {
            return take_value({});
        }
        return take_value({static_cast<std::uint32_t>(number), std::nullopt});
    }
    // A fraction or an exponent, or an integer beyond 64 bits.
    bool number_float(Json::number_float_t, const Json::string_t&) { return take_value({}); }
    bool string(Json::string_t& text) { return take_value({std::nullopt, variant_named(text)}); }
    bool binary(Json::binary_t&) { return false; } // JSON text has no binary values

    bool start_object(std::size_t) { return open(Shape::object); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Shape::array); }
    bool end_array() { return close(); }

    bool key(Json::string_t& name)
    {
        if (depth_ == 1) {
            if (name == "op") {
                current_ = &op_;
            } else if (const auto field = field_named(name)) {
                current_ = &fields_[*field];
            } else {
                current_ = nullptr;
            }
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }

    // The request, once the parser has accepted the whole line.
    [[nodiscard]] std::optional<Request> request()
    {
        const bool complete = shape_ == Shape::object ? judge_members() : array_complete();
        if (!complete) {
            return std::nullopt;
        }
        return kVariants[*variant_].make(values_);
    }

private:
    enum class Shape { none, object, array };

    struct Member {
        int count = 0; // saturates at 2: once or more than once is all that matters
        MemberValue value;
    };

    bool open(Shape shape)
    {
        if (depth_ == 0) {
            shape_ = shape;
        } else if (!take_value({})) { // a nested value is never a field value or an op
            return false;
        }
        return ++depth_ <= kMaxNesting;
    }

    bool close()
    {
        --depth_;
        return true;
    }

    bool take_value(const MemberValue& value)
    {
        if (depth_ == 0) {
            return false; // a bare scalar is no request
        }
        if (depth_ > 1) {
            return true; // inside a value that is ignored or already refused
        }
        return shape_ == Shape::object ? take_member(value) : take_element(value);
    }

    bool take_member(const MemberValue& value)
    {
        if (current_ != nullptr) {
            current_->count = std::min(current_->count + 1, 2);
            current_->value = value;
        }
        return true;
    }

    // In the array form every element counts, so the first wrong one ends the parse.
    bool take_element(const MemberValue& value)
    {
        if (elements_ == 0) {
            if (!value.variant) {
                return false;
            }
            variant_ = value.variant;
        } else {
            const auto fields = kVariants[*variant_].fields;
            if (elements_ > fields.size() || !value.integer) {
                return false;
            }
            values_[fields[elements_ - 1]] = *value.integer;
        }
        ++elements_;
        return true;
    }

    // "op" exactly once and naming a variant; each of its fields exactly once with an
    // integer value; every other key ignored.
    bool judge_members()
    {
        if (op_.count != 1 || !op_.value.variant) {
            return false;
        }
        variant_ = op_.value.variant;
        for (const Field field : kVariants[*variant_].fields) {
            const Member& member = fields_[field];
            if (member.count != 1 || !member.value.integer) {
                return false;
            }
            values_[field] = *member.value.integer;
        }
        return true;
    }

    bool array_complete() const
    {
        return variant_ && elements_ == 1 + kVariants[*variant_].fields.size();
    }

    std::size_t depth_ = 0;
    Shape shape_ = Shape::none;

    // Object form.
    Member op_;
    std::array<Member, kFieldCount> fields_;
    Member* current_ = nullptr; // where the value of the last key goes; null when ignored

    // Array form: the elements read so far, the op counted as the first.
    std::size_t elements_ = 0;

    // Both forms: what has been read.
    std::optional<std::size_t> variant_;
    FieldValues values_{};
};

// Writes text as a JSON string: quotes, backslashes and control characters escaped.
void append_json_string(std::string& out, std::string_view text)
{
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    out += '"';
}

void append_integer(std::string& out, std::uint32_t value)
{
    std::array<char, 10> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(digits.data(), end);
}

// Whether nlohmann would read more or less than the line says: it skips a leading byte
// order mark and takes a NUL byte for the end of the input.
bool has_bytes_the_parser_misreads(std::string_view line)
{
    return line.starts_with(kUtf8ByteOrderMark) || line.find('\0') != std::string_view::npos;
}

} // namespace

std::string_view reply_error_word(ReplyError error)
{
    switch (error) {
    case ReplyError::refused:
        return "refused";
    case ReplyError::limit:
        return "limit";
    case ReplyError::failed:
        return "failed";
    case ReplyError::unknown:
        return "unknown";
    }
    return "failed";
}

std::optional<ReplyError> reply_error_named(std::string_view word)
{
    for (const ReplyError error :
         {ReplyError::refused, ReplyError::limit, ReplyError::failed, ReplyError::unknown}) {
        if (reply_error_word(error) == word) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<Request> parse_request(std::string_view line)
{
    // nlohmann skips a leading byte order mark, and its lexer takes a NUL byte for the end
    // of the input even when it is given the length. A byte order mark is no JSON
    // whitespace, and a raw NUL has no place anywhere in JSON text, so both are refused
    // here; otherwise `{"op":"ping"}` followed by a NUL and anything at all would pass.
    if (has_bytes_the_parser_misreads(line)) {
        return std::nullopt;
    }
    // nlohmann's parser is iterative (it keeps its nesting in a vector, not on the call
    // stack), and the reader stops it at the nesting limit: no line can exhaust the stack.
    RequestReader reader;
    if (!Json::sax_parse(line.data(), line.data() + line.size(), &reader)) {
        return std::nullopt;
    }
    return reader.request();
}

void encode_reply(const Reply& reply, std::string& out)
{
    out.clear();
    out += reply.ok ? R"({"ok":true)" : R"({"ok":false)";
    if (reply.error) {
        out += R"(,"error":)";
        append_json_string(out, reply_error_word(*reply.error));
    }
    if (reply.version) {
        out += R"(,"version":)";
        append_json_string(out, *reply.version);
    }
    out += "}\n";
}

std::string encode_reply(const Reply& reply)
{
    std::string out;
    encode_reply(reply, out);
    return out;
}

std::optional<Reply> parse_reply(std::string_view line)
{
    if (has_bytes_the_parser_misreads(line)) {
        return std::nullopt;
    }
    // A reply is short and flat: the document is read whole (a line is at most 512 bytes
    // when it comes off the pipe, which bounds its nesting too).
    const Json value = Json::parse(line.begin(), line.end(), nullptr, false /* no exceptions */);
    if (!value.is_object()) {
        return std::nullopt; // also a line that did not parse
    }
    const auto ok = value.find("ok");
    if (ok == value.end() || !ok->is_boolean()) {
        return std::nullopt;
    }
    Reply reply{ok->get<bool>(), std::nullopt, std::nullopt};
    if (const auto error = value.find("error"); error != value.end()) {
        if (!error->is_string()) {
            return std::nullopt;
        }
        reply.error = reply_error_named(error->get_ref<const std::string&>());
        if (!reply.error) {
            return std::nullopt;
        }
    }
    if (const auto version = value.find("version"); version != value.end()) {
        if (!version->is_string()) {
            return std::nullopt;
        }
        reply.version = version->get<std::string>();
    }
    if (reply.ok == reply.error.has_value()) {
        return std::nullopt; // an error word exactly when the request was not carried out
    }
    return reply;
}

std::string encode_request(const Request& request)
{
    const VariantShape& shape = kVariants[request.index()];
    const FieldValues values = field_values(request);
    std::string out = R"({"op":)";
    append_json_string(out, shape.op);
    for (const Field field : shape.fields) {
        out += ',';
        append_json_string(out, kFieldKeys[field]);
        out += ':';
        append_integer(out, values[field]);
    }
    out += '}';
    return out;
}

} // namespace tolvek
