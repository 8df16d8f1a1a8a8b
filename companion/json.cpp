#include "json.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numfmt.h"

namespace {

// A fixed_number() is held as the bytes of its double, its decimals as the
// subtype: the one use of a binary value in the files' trees.
double fixed_value(const Json::binary_t &b) {
    double v = NAN;
    if (b.size() == sizeof v) std::memcpy(&v, b.data(), sizeof v);
    return v;
}

void append_string(std::string &out, const std::string &s) {
    out += '"';
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void append_value(std::string &out, const Json &v, int depth, bool on_one_line);

// The members or elements of a container, one to a line at depth + 1, or
// all on one line.
void append_container(std::string &out, const Json &v, int depth, bool on_one_line) {
    const bool object = v.is_object();
    if (v.empty()) {
        out += object ? "{}" : "[]";
        return;
    }
    // An object below the top holds all it has on its line.
    const bool inner_one_line = on_one_line || (object && depth > 0);
    const std::string indent(size_t(2 * (depth + 1)), ' ');
    out += object ? '{' : '[';
    bool first = true;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) out += ',';
        if (!inner_one_line) {
            out += '\n';
            out += indent;
        } else if (!first) {
            out += ' ';
        }
        first = false;
        if (object) {
            append_string(out, it.key());
            out += ": ";
        }
        append_value(out, it.value(), depth + 1, inner_one_line);
    }
    if (!inner_one_line) {
        out += '\n';
        out.append(size_t(2 * depth), ' ');
    }
    out += object ? '}' : ']';
}

void append_value(std::string &out, const Json &v, int depth, bool on_one_line) {
    switch (v.type()) {
        case Json::value_t::object:
        case Json::value_t::array:
            append_container(out, v, depth, on_one_line);
            break;
        case Json::value_t::string:
            append_string(out, v.get_ref<const std::string &>());
            break;
        case Json::value_t::boolean:
            out += v.get<bool>() ? "true" : "false";
            break;
        case Json::value_t::number_integer:
            out += std::to_string(v.get<std::int64_t>());
            break;
        case Json::value_t::number_unsigned:
            out += std::to_string(v.get<std::uint64_t>());
            break;
        case Json::value_t::number_float: {
            const double d = v.get<double>();
            out += std::isfinite(d) ? exact_number(d) : "null";
            break;
        }
        case Json::value_t::binary: {
            const Json::binary_t &b = v.get_binary();
            const double d = fixed_value(b);
            out += std::isfinite(d) && b.has_subtype() ? fixed_decimals(d, int(b.subtype())) : "null";
            break;
        }
        case Json::value_t::null:
        case Json::value_t::discarded:
            out += "null";
            break;
    }
}

}  // namespace

Json fixed_number(double v, int decimals) {
    std::vector<std::uint8_t> bytes(sizeof v);
    std::memcpy(bytes.data(), &v, sizeof v);
    return Json::binary(std::move(bytes), std::uint8_t(decimals));
}

Json json_members(const std::string &text) {
    Json members = Json::object();
    std::string key;
    using Event = Json::parse_event_t;
    const auto take = [&](int depth, Event event, Json &parsed) {
        // Depth 1: the members of the top object, or the elements of a top
        // array (which have no key). An object or an array is whole at its end.
        if (depth != 1) return true;
        if (event == Event::key) {
            key = parsed.get<std::string>();
        } else if ((event == Event::value || event == Event::object_end || event == Event::array_end) && !key.empty()) {
            members[key] = parsed;
            key.clear();
        }
        return true;
    };
    Json whole = Json::parse(text, take, false);
    return whole.is_object() ? whole : members;
}

std::string json_text(const Json &tree) {
    std::string out;
    append_value(out, tree, 0, false);
    return out + "\n";
}
