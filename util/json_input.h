#pragma once
// Reading user-written JSON files: every failure becomes one message that names the
// file and the key, so that a typo in a solution folder is found without a debugger.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
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

// parseJsonFile for a file the run cannot do without. Throws InputRefused with the parse
// problem, or with cannotOpenPrefix + path when the file cannot be opened.
json loadJsonInput(const std::string& path, const char* cannotOpenPrefix);

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
