#include "util/json_input.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#include "util/error.h"

ParseOutcome parseJsonFile(const std::string& path, json& doc, std::string& problem, const json::parser_callback_t& keep) {
    std::ifstream in(path);
    if (!in.is_open()) {
        return ParseOutcome::CannotOpen;
    }
    try {
        doc = json::parse(in, keep);
    } catch (const std::exception& e) {
        problem = "Error parsing " + path + ": " + e.what();
        return ParseOutcome::Malformed;
    }
    return ParseOutcome::Ok;
}

ParseOutcome parseJsonFile(const std::string& path, json& doc, std::string& problem) {
    return parseJsonFile(path, doc, problem, nullptr);
}

bool ArrayStream::operator()(int depth, json::parse_event_t event, json& parsed) {
    using Event = json::parse_event_t;
    if (depth == 1 && event == Event::key) {
        const auto found = std::find(keys.begin(), keys.end(), parsed.get<std::string>());
        current = found == keys.end() ? -1 : static_cast<int>(found - keys.begin());
        return true;
    }
    if (current < 0) return true;
    if (depth == 1 && event != Event::array_start) {
        current = -1;  // not an array, or its end
        return true;
    }
    // An element is whole at its value, or at the end of a nested array or object.
    if (depth != 2 || !(event == Event::value || event == Event::array_end || event == Event::object_end)) return true;
    const auto key = static_cast<size_t>(current);
    take(key, counts[key]++, parsed);
    return false;
}

json loadJsonInput(const std::string& path, const char* cannotOpenPrefix) {
    return loadJsonInput(path, cannotOpenPrefix, nullptr);
}

json loadJsonInput(const std::string& path, const char* cannotOpenPrefix, const json::parser_callback_t& keep) {
    json doc;
    std::string problem;
    switch (parseJsonFile(path, doc, problem, keep)) {
        case ParseOutcome::CannotOpen:
            throw InputRefused(cannotOpenPrefix + path);
        case ParseOutcome::Malformed:
            throw InputRefused(problem);
        case ParseOutcome::Ok:
            break;
    }
    return doc;
}

std::optional<json> loadOptionalJsonInput(const std::string& path) {
    json doc;
    std::string problem;
    switch (parseJsonFile(path, doc, problem)) {
        case ParseOutcome::CannotOpen:
            return std::nullopt;
        case ParseOutcome::Malformed:
            throw InputRefused(problem);
        case ParseOutcome::Ok:
            break;
    }
    return doc;
}

std::string inputErrorText(const std::string& path, const std::string& what) {
    return "Error in " + path + ": " + what;
}

void refuseInput(const std::string& path, const std::string& what) { throw InputRefused(inputErrorText(path, what)); }

const json& requireKey(const json& object, const std::string& key, const std::string& where) {
    if (!object.is_object()) {
        throw InputError("expected a JSON object holding \"" + where + "\", but found " +
                         std::string(object.type_name()));
    }
    auto it = object.find(key);
    if (it == object.end()) {
        throw InputError("missing required key \"" + where + "\"");
    }
    return *it;
}

static void requireNumber(const json& value, const std::string& where) {
    if (!value.is_number()) {
        throw InputError("key \"" + where + "\": type must be number, but is " +
                         std::string(value.type_name()));
    }
}

double asDouble(const json& value, const std::string& where) {
    requireNumber(value, where);
    const double v = value.get<double>();
    if (!std::isfinite(v)) {
        throw InputError("key \"" + where + "\": the number is not finite");
    }
    return v;
}

// Integers may be written as floating numbers (the fraction is cut off), but a value that
// does not fit the target type would wrap around silently, so it is refused.
template <typename Int>
static Int asInteger(const json& value, const std::string& where) {
    requireNumber(value, where);
    const std::string rangeMessage = "key \"" + where + "\": " + value.dump() +
                                     " is outside the range of this integer (" +
                                     std::to_string(std::numeric_limits<Int>::min()) + " to " +
                                     std::to_string(std::numeric_limits<Int>::max()) + ")";
    if (value.is_number_unsigned()) {
        const auto v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<Int>::max())) throw InputError(rangeMessage);
        return static_cast<Int>(v);
    }
    if (value.is_number_integer()) {
        const auto v = value.get<int64_t>();
        if (v < 0 && std::numeric_limits<Int>::min() == 0) throw InputError(rangeMessage);
        if (std::numeric_limits<Int>::min() < 0 &&
            (v < static_cast<int64_t>(std::numeric_limits<Int>::min()) ||
             v > static_cast<int64_t>(std::numeric_limits<Int>::max())))
            throw InputError(rangeMessage);
        return static_cast<Int>(v);
    }
    const double v = std::trunc(value.get<double>());
    // 2^64 and 2^31 are exact doubles; comparing against them avoids rounding at the edges.
    const double upperExclusive = std::ldexp(1.0, std::numeric_limits<Int>::digits);
    const double lowerInclusive = static_cast<double>(std::numeric_limits<Int>::min());
    if (!(v >= lowerInclusive && v < upperExclusive)) throw InputError(rangeMessage);
    return static_cast<Int>(v);
}

int32_t asInt(const json& value, const std::string& where) { return asInteger<int32_t>(value, where); }

uint64_t asUint64(const json& value, const std::string& where) { return asInteger<uint64_t>(value, where); }

bool asBool(const json& value, const std::string& where) {
    if (!value.is_boolean()) {
        throw InputError("key \"" + where + "\": type must be boolean, but is " +
                         std::string(value.type_name()));
    }
    return value.get<bool>();
}

std::string asString(const json& value, const std::string& where) {
    if (!value.is_string()) {
        throw InputError("key \"" + where + "\": type must be string, but is " +
                         std::string(value.type_name()));
    }
    return value.get<std::string>();
}

void readOptional(const json& object, const std::string& key, bool& target) {
    if (auto it = object.find(key); it != object.end()) target = asBool(*it, key);
}
