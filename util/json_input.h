#pragma once
// Reading user-written JSON files: every failure becomes one message that names the
// file and the key, so that a typo in a solution folder is found without a debugger.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <functional>
#include <optional>
#include <vector>
#include <stdexcept>
#include <string>

using json = nlohmann::json;

// A problem with one value of an input file; the loader that catches it prefixes the path.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class ParseOutcome { Ok, CannotOpen, Malformed };

// Parses a whole file. For a malformed file, problem receives "Error parsing PATH: WHAT"; a
// file that cannot be opened is left for the caller to report in its own words.
ParseOutcome parseJsonFile(const std::string& path, json& doc, std::string& problem);

// parseJsonFile with a callback that decides, element by element, what the tree keeps: a large
// array can be taken out as it is read instead of being held whole.
ParseOutcome parseJsonFile(const std::string& path, json& doc, std::string& problem, const json::parser_callback_t& keep);

// A parse callback for a top-level object with large arrays under `keys`: every element of
// those arrays goes to take(key, index, value) as soon as it is read and is not kept, so the
// tree holds the arrays empty (anything else under those keys stays, for the type check).
// counts[key] receives the number of elements. A tree of every element would hold tens of
// bytes per number at once.
struct ArrayStream {
    std::vector<std::string> keys;
    std::function<void(size_t key, size_t index, const json& value)> take;
    std::vector<size_t> counts = std::vector<size_t>(keys.size());
    int current = -1;

    bool operator()(int depth, json::parse_event_t event, json& parsed);
};

// parseJsonFile for a file the run cannot do without. Throws InputRefused with the parse
// problem, or with cannotOpenPrefix + path when the file cannot be opened.
json loadJsonInput(const std::string& path, const char* cannotOpenPrefix);
json loadJsonInput(const std::string& path, const char* cannotOpenPrefix, const json::parser_callback_t& keep);

// parseJsonFile for a file the run can do without: nullopt when it cannot be opened; a
// malformed one throws InputRefused with the parse problem.
std::optional<json> loadOptionalJsonInput(const std::string& path);

// The loader-style message for a value problem: "Error in PATH: WHAT".
std::string inputErrorText(const std::string& path, const std::string& what);
// Throws InputRefused with inputErrorText(path, what).
[[noreturn]] void refuseInput(const std::string& path, const std::string& what);

// The value of a key that must exist; `where` names it in messages ("domain_size",
// "particles[3].mass").
const json& requireKey(const json& object, const std::string& key, const std::string& where);

double asDouble(const json& value, const std::string& where);  // finite numbers only
int32_t asInt(const json& value, const std::string& where);    // fraction cut off, range checked
uint64_t asUint64(const json& value, const std::string& where);
bool asBool(const json& value, const std::string& where);
std::string asString(const json& value, const std::string& where);

// An optional key: the target keeps its value when the key is absent.
void readOptional(const json& object, const std::string& key, bool& target);
