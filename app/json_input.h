#pragma once
// Reading user-written JSON files: every failure becomes one message that names the
// file and the key, so that a typo in a solution folder is found without a debugger.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

using json = nlohmann::json;

// A problem with one value of an input file; the loader that catches it prefixes the path.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class ParseOutcome { Ok, CannotOpen, Malformed };

// Parses a whole file. On a malformed file writes "Error parsing PATH: WHAT\n" to standard
// error; a file that cannot be opened is left for the caller to report in its own words.
ParseOutcome parseJsonFile(const std::string& path, json& doc);

// parseJsonFile for a file the run cannot do without: when it cannot be opened, writes
// cannotOpenPrefix + path + "\n" to standard error. false: a message has been written.
bool loadJsonInput(const std::string& path, const char* cannotOpenPrefix, json& doc);

// Writes the loader-style message for a value problem: "Error in PATH: WHAT\n".
void reportInputError(const std::string& path, const std::string& what);

// The value of a key that must exist; `where` names it in messages ("domain_size",
// "particles[3].mass").
const json& requireKey(const json& object, const std::string& key, const std::string& where);

double asDouble(const json& value, const std::string& where);  // finite numbers only
int32_t asInt(const json& value, const std::string& where);    // fraction cut off, range checked
uint64_t asUint64(const json& value, const std::string& where);
bool asBool(const json& value, const std::string& where);
std::string asString(const json& value, const std::string& where);

// Optional keys: the target keeps its value when the key is absent.
void readOptional(const json& object, const std::string& key, double& target);
void readOptional(const json& object, const std::string& key, int32_t& target);
void readOptional(const json& object, const std::string& key, uint64_t& target);
void readOptional(const json& object, const std::string& key, bool& target);
