#include "simdesk/json_reading.h"

#include <set>
#include <vector>

namespace simdesk {

namespace {

std::string typeName(const Json& json) {
    switch (json.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::boolean:
        return "a boolean";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::object:
        return "an object";
    default:
        return "a number";
    }
}

// Deeper than any scenario needs by far. Messages show values with nlohmann's dump, which
// recurses once per level: a file nested a hundred thousand levels deep would overflow the stack.
constexpr std::size_t maxNesting = 64;

// Follows the parser through the document to name the place of a member given twice, and stops
// it at the first object or array nested deeper than maxNesting.
class DuplicateGuard {
public:
    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
        case Json::parse_event_t::object_start:
        case Json::parse_event_t::array_start:
            if (frames.size() == maxNesting) {
                throw FormatError{place(),
                                  "nested deeper than " + std::to_string(maxNesting) + " levels"};
            }
            frames.push_back({event == Json::parse_event_t::object_start, {}, {}, 0});
            break;
        case Json::parse_event_t::key: {
            Frame& frame = frames.back();
            frame.key = parsed.get<std::string>();
            if (!frame.keys.insert(frame.key).second) {
                throw FormatError{place(), "member given twice"};
            }
            break;
        }
        case Json::parse_event_t::object_end:
        case Json::parse_event_t::array_end:
            frames.pop_back();
            itemDone();
            break;
        case Json::parse_event_t::value:
            itemDone();
            break;
        }
        return true;
    }

private:
    struct Frame {
        bool object;
        std::set<std::string> keys;
        std::string key;
        std::size_t index;
    };
    std::vector<Frame> frames;

    void itemDone() {
        if (!frames.empty() && !frames.back().object) {
            ++frames.back().index;
        }
    }
    std::string place() const {
        std::string out;
        for (const Frame& frame : frames) {
            out = frame.object ? memberPlace(out, frame.key) : itemPlace(out, frame.index);
        }
        return out;
    }
};

} // namespace

void wrongType(const Json& json, const std::string& place, const char* wanted) {
    throw FormatError{place, std::string("expected ") + wanted + ", found " + typeName(json)};
}

std::string memberPlace(const std::string& place, std::string_view name) {
    std::string out = place + "/";
    for (char c : name) {
        if (c == '~') {
            out += "~0";
        } else if (c == '/') {
            out += "~1";
        } else {
            out += c;
        }
    }
    return out;
}

std::string itemPlace(const std::string& place, std::size_t index) {
    return place + "/" + std::to_string(index);
}

Json parseJson(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end(), DuplicateGuard{});
    } catch (const Json::parse_error& error) {
        // `byte` counts from 1 and points at the character that broke the syntax; the message
        // reads "[json.exception.parse_error.101] parse error at line L, column C: REASON".
        const std::string message = error.what();
        const std::size_t lineAt = message.find("line ");
        const std::size_t reasonAt = message.find(": ", lineAt == std::string::npos ? 0 : lineAt);
        std::string place = "byte " + std::to_string(error.byte == 0 ? 0 : error.byte - 1);
        if (lineAt != std::string::npos && reasonAt != std::string::npos) {
            place += " (" + message.substr(lineAt, reasonAt - lineAt) + ")";
        }
        throw FormatError{place, "not valid JSON: " + (reasonAt == std::string::npos
                                                           ? message
                                                           : message.substr(reasonAt + 2))};
    }
}

const Json& requireObject(const Json& json, const std::string& place) {
    if (!json.is_object()) {
        wrongType(json, place, "an object");
    }
    return json;
}

const Json& requireArray(const Json& json, const std::string& place) {
    if (!json.is_array()) {
        wrongType(json, place, "an array");
    }
    return json;
}

const std::string& requireString(const Json& json, const std::string& place) {
    if (!json.is_string()) {
        wrongType(json, place, "a string");
    }
    return json.get_ref<const std::string&>();
}

bool requireBool(const Json& json, const std::string& place) {
    if (!json.is_boolean()) {
        wrongType(json, place, "true or false");
    }
    return json.get<bool>();
}

const Json& requireMember(const Json& object, const std::string& place, std::string_view name) {
    auto found = object.find(name);
    if (found == object.end()) {
        throw FormatError{memberPlace(place, name), "missing"};
    }
    return *found;
}

void allowOnly(const Json& object, const std::string& place,
               std::initializer_list<std::string_view> allowed) {
    for (const auto& member : object.items()) {
        bool known = false;
        for (std::string_view name : allowed) {
            known = known || member.key() == name;
        }
        if (!known) {
            std::string list;
            for (std::string_view name : allowed) {
                list += (list.empty() ? "" : ", ") + std::string(name);
            }
            throw FormatError{memberPlace(place, member.key()),
                              "unknown member (known here: " + list + ")"};
        }
    }
}

int64_t readInteger(const Json& json, const std::string& place, int64_t minimum, int64_t maximum) {
    if (json.is_number_float()) {
        throw FormatError{place, "expected a whole number, found " + showJson(json)};
    }
    if (!json.is_number()) {
        wrongType(json, place, "a whole number");
    }
    const bool tooLarge =
        json.is_number_unsigned() && json.get<uint64_t>() > static_cast<uint64_t>(maximum);
    const int64_t value = tooLarge ? maximum : json.get<int64_t>();
    if (tooLarge || value < minimum || value > maximum) {
        throw FormatError{place, "out of range: " + showJson(json) + " is not within " +
                                     std::to_string(minimum) + " to " + std::to_string(maximum)};
    }
    return value;
}

std::string showJson(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace simdesk
