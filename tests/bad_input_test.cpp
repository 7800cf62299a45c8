// Every input file broken in every way we could think of, through the real binary. A refused
// start must end with one line on standard error naming the file (and the key), status 1,
// and every file of the folder exactly as it was. A broken alter.json is reported and the
// run goes on.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr int32_t N = 8;

// A folder after one complete run, so that a refused start has outputs it could damage:
// snapshots, restart file, profiles, a collision-angle series, velocity logs.
const std::string& completedRun() {
    static TempDir dir;
    static const bool made = [] {
        initFolder(dir.path, {"-n", std::to_string(N), "-p", "0.05", "--seed", "3", "--max-collisions", "300",
                              "--set", "save_particles_state_every=20", "--set", "flush_state_buffer_every=100",
                              "--set", "stats_after=0", "--set", "stats_every=10", "--set", "flush_stats_every=100",
                              "--set", "sample_collision_angle=true", "--set",
                              "flush_collision_angle_buffer_every=100", "--set", "check_alter_every=50"});
        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        return true;
    }();
    (void)made;
    return dir.path;
}

using Mutation = std::function<void(const std::string& folder)>;

struct BadInput {
    std::string name;
    std::string mode;  // "init" or "continue"
    Mutation breakFolder;
    std::string expected;  // "{F}" stands for the folder, "*" for any text within the line
};

Mutation editFile(const std::string& name, const std::function<void(json&)>& edit) {
    return [=](const std::string& folder) {
        json value = readJson(folder + "/" + name);
        edit(value);
        writeJson(folder + "/" + name, value);
    };
}

Mutation replaceFile(const std::string& name, const std::string& text) {
    return [=](const std::string& folder) { writeFile(folder + "/" + name, text); };
}

Mutation removeFile(const std::string& name) {
    return [=](const std::string& folder) { fs::remove(folder + "/" + name); };
}

Mutation truncateFile(const std::string& name) {
    return [=](const std::string& folder) {
        const std::string text = readFile(folder + "/" + name);
        writeFile(folder + "/" + name, text.substr(0, text.size() / 2));
    };
}

Mutation setKey(const std::string& name, const std::string& key, const json& value) {
    return editFile(name, [=](json& doc) { doc[key] = value; });
}

std::string expand(const std::string& pattern, const std::string& folder) {
    std::string text = pattern;
    for (size_t at = text.find("{F}"); at != std::string::npos; at = text.find("{F}", at + folder.size())) {
        text.replace(at, 3, folder);
    }
    return text;
}

// '*' matches any run of characters.
bool matches(const std::string& text, const std::string& pattern) {
    if (pattern.empty()) return text.empty();
    if (pattern[0] == '*') {
        for (size_t skip = 0; skip <= text.size(); ++skip) {
            if (matches(text.substr(skip), pattern.substr(1))) return true;
        }
        return false;
    }
    return !text.empty() && text[0] == pattern[0] && matches(text.substr(1), pattern.substr(1));
}

std::map<std::string, std::string> folderContents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(entry.path(), folder).string();
        contents[relative] = entry.is_regular_file() ? readFile(entry.path().string()) : "<folder>";
    }
    return contents;
}

void prepare(const TempDir& dir, const BadInput& c) {
    fs::copy(completedRun(), dir.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    setKey("config.json", "mode", c.mode)(dir.path);
    c.breakFolder(dir.path);
}

void expectRefused(const std::vector<BadInput>& cases) {
    for (const BadInput& c : cases) {
        TempDir dir;
        prepare(dir, c);
        const auto before = folderContents(dir.path);
        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        EXPECT_TRUE(matches(r.err, expand(c.expected, dir.path) + "\n")) << c.name << "\n  got: " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name;
        EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << c.name;
        EXPECT_TRUE(folderContents(dir.path) == before) << c.name << ": the refused start changed the folder";
    }
    ::testing::Test::RecordProperty("bad_inputs", static_cast<int>(cases.size()));
}

// The JSON type of every config.json key, in the order the loader reads them.
struct KeyType {
    const char* key;
    const char* type;
};
const KeyType CONFIG_KEYS[] = {
    {"mode", "string"},
    {"log_animation", "boolean"},
    {"collision_progress_every", "number"},
    {"reflective_z", "boolean"},
    {"g", "number"},
    {"domain_size", "number"},
    {"cells_per_dimension", "number"},
    {"num_molecules", "number"},
    {"min_radius", "number"},
    {"max_collision_count", "number"},
    {"save_last_state_every", "number"},
    {"log_state", "boolean"},
    {"reset_stats", "boolean"},
    {"save_particles_state_every", "number"},
    {"flush_state_buffer_every", "number"},
    {"profile_num_bins", "number"},
    {"stats_after", "number"},
    {"stats_every", "number"},
    {"species_stats_after", "number"},
    {"species_stats_every", "number"},
    {"flush_species_stats_every", "number"},
    {"flush_stats_every", "number"},
    {"purge_queue_above", "number"},
    {"check_alter_every", "number"},
    {"sample_pca", "boolean"},
    {"sample_pca_after", "number"},
    {"sample_pca_until", "number"},
    {"flush_pca_buffer_every", "number"},
    {"sample_scattering_angle", "boolean"},
    {"sample_scattering_angle_after", "number"},
    {"sample_scattering_angle_until", "number"},
    {"save_scattering_angle_every", "number"},
    {"sample_collision_angle", "boolean"},
    {"sample_collision_angle_after", "number"},
    {"sample_collision_angle_until", "number"},
    {"flush_collision_angle_buffer_every", "number"},
    {"diffusive_z", "boolean"},
    {"z_temperature", "number"},
    {"thermostatted_a", "boolean"},
    {"has_metal_z", "boolean"},
    {"metal_z", "number"},
    {"log_collision_velocity", "boolean"},
    {"log_free_path", "boolean"},
    {"log_velocity", "boolean"},
    {"bottom_free_path_divisor", "number"},
};
const char* const REQUIRED_CONFIG_KEYS[] = {"mode",          "log_animation",       "collision_progress_every",
                                            "reflective_z",  "g",                   "domain_size",
                                            "cells_per_dimension", "num_molecules", "min_radius",
                                            "max_collision_count"};

// A value of another JSON type than `type`, varied with `variant` so that every type shows up.
json wrongValue(const std::string& type, size_t variant) {
    const std::vector<json> candidates = {json("text"), json(nullptr), json::array({1}), json::object({{"a", 1}}),
                                          json(true), json(7)};
    for (size_t tries = 0;; ++tries) {
        const json& value = candidates[(variant + tries) % candidates.size()];
        if (std::string(value.type_name()) != type) return value;
    }
}

std::string typeError(const std::string& file, const std::string& key, const std::string& type, const json& value) {
    return "Error in {F}/" + file + ": key \"" + key + "\": type must be " + type + ", but is " + value.type_name();
}

// Empty, cut in half, and a top level that is not an object.
std::vector<BadInput> malformed(const std::string& file, const std::string& mode, const std::string& notObject) {
    return {
        {file + " empty", mode, replaceFile(file, ""),
         "Error parsing {F}/" + file + ": [json.exception.parse_error.101] *unexpected end of input*"},
        {file + " cut in half", mode, truncateFile(file), "Error parsing {F}/" + file + ": [json.exception.parse_error.*"},
        {file + " with an infinite number", mode, replaceFile(file, "{\"x\": 1e400}"),
         "Error parsing {F}/" + file + ": [json.exception.out_of_range.406] number overflow parsing '1e400'"},
        {file + " with NaN", mode, replaceFile(file, "{\"x\": NaN}"), "Error parsing {F}/" + file + ": *"},
        {file + " not UTF-8", mode, replaceFile(file, "{\"mode\": \"\xff\xfe\"}"), "Error parsing {F}/" + file + ": *"},
        {file + " an array", mode, replaceFile(file, "[]"), notObject},
        {file + " a string", mode, replaceFile(file, "\"particles\""), notObject},
        {file + " deeply nested", mode, replaceFile(file, std::string(100000, '[') + std::string(100000, ']')),
         notObject},
    };
}

TEST(BadInputTest, ConfigFile) {
    const std::string F = "config.json";
    std::vector<BadInput> cases = malformed(F, "init", "Error in {F}/config.json: expected a JSON object holding "
                                                       "\"mode\", but found *");
    cases.push_back({"config.json missing", "init", removeFile(F), "Cannot open configuration file: {F}/config.json"});
    for (const char* key : REQUIRED_CONFIG_KEYS) {
        cases.push_back({std::string("without ") + key, "init", editFile(F, [=](json& c) { c.erase(key); }),
                         "Error in {F}/config.json: missing required key \"" + std::string(key) + "\""});
    }
    size_t variant = 0;
    for (const KeyType& k : CONFIG_KEYS) {
        const json value = wrongValue(k.type, variant++);
        cases.push_back({std::string(k.key) + " as " + value.type_name(), "init", setKey(F, k.key, value),
                         typeError(F, k.key, k.type, value)});
    }
    const std::string E = "Error in {F}/config.json: ";
    const std::vector<std::tuple<const char*, json, std::string>> values = {
        {"domain_size", 0, E + "key \"domain_size\" must be positive, but is 0.000000"},
        {"domain_size", -1e-6, E + "key \"domain_size\" must be positive, but is -0.000001"},
        {"cells_per_dimension", 0, E + "key \"cells_per_dimension\" must be at least 1, but is 0"},
        {"cells_per_dimension", -4, E + "key \"cells_per_dimension\" must be at least 1, but is -4"},
        {"cells_per_dimension", 5000, E + "key \"cells_per_dimension\" must be at most 1290, but is 5000"},
        {"num_molecules", 0, E + "key \"num_molecules\" must be at least 1, but is 0"},
        {"num_molecules", -8, E + "key \"num_molecules\" must be at least 1, but is -8"},
        {"num_molecules", 2000000000,
         E + "key \"num_molecules\": 2000000000 particles on *^3 cells need about * GB of memory, more than this "
             "machine has (* GB)"},
        {"num_molecules", 3e10,
         E + "key \"num_molecules\": 30000000000.0 is outside the range of this integer (-2147483648 to 2147483647)"},
        {"num_molecules", N - 1, "num_molecules != len(particles)"},
        {"num_molecules", N + 1, "num_molecules != len(particles)"},
        {"min_radius", 0,
         E + "height profiles from min_radius to domain_size - min_radius: Logarithmic bins require positive "
             "minValue and maxValue."},
        {"min_radius", 1e9,
         E + "height profiles from min_radius to domain_size - min_radius: minValue must be less than maxValue."},
        {"max_collision_count", -1,
         E + "key \"max_collision_count\": -1 is outside the range of this integer (0 to 18446744073709551615)"},
        {"max_collision_count", 1e30,
         E + "key \"max_collision_count\": 1e+30 is outside the range of this integer (0 to 18446744073709551615)"},
        {"profile_num_bins", 0, E + "key \"profile_num_bins\" must be at least 1, but is 0"},
        {"profile_num_bins", 100000000, E + "key \"profile_num_bins\" must be at most 10000000, but is 100000000"},
        {"collision_progress_every", 0,
         E + "key \"collision_progress_every\" is a collision interval and must be at least 1, but is 0"},
        {"save_last_state_every", -2,
         E + "key \"save_last_state_every\" is a collision interval and must be at least 1, but is -2"},
        {"stats_every", 0, E + "key \"stats_every\" is a collision interval and must be at least 1, but is 0"},
        {"check_alter_every", 0, E + "key \"check_alter_every\" is a collision interval and must be at least 1, but is 0"},
        {"save_particles_state_every", 0,
         E + "key \"save_particles_state_every\" is a collision interval and must be at least 1, but is 0"},
        {"stats_after", 5e9, E + "key \"stats_after\": 5000000000.0 is outside the range*"},
    };
    for (const auto& [key, value, expected] : values) {
        cases.push_back({std::string(key) + " = " + value.dump(), "init", setKey(F, key, value), expected});
    }
    cases.push_back({"cold thermal walls", "init",
                     editFile(F, [](json& c) { c.update({{"reflective_z", true}, {"diffusive_z", true}, {"z_temperature", 0}}); }),
                     E + "key \"z_temperature\" must be positive for thermal walls, but is 0.000000"});
    cases.push_back({"snapshots piling up between flushes", "init",
                     editFile(F, [](json& c) {
                         c.update({{"save_particles_state_every", 1}, {"flush_state_buffer_every", 2000000000}});
                     }),
                     E + "key \"flush_state_buffer_every\": 2000000000 snapshots held between flushes (one every 1 "
                         "collisions) need about * GB of memory, more than half of what this machine has (* GB)"});
    cases.push_back({"cells narrower than a sphere", "init", setKey(F, "cells_per_dimension", 200),
                     E + "key \"cells_per_dimension\": 200 cells per axis are narrower than the largest diameter *"});
    expectRefused(cases);
}

TEST(BadInputTest, SpeciesFile) {
    const std::string F = "particles_config.json";
    const std::string E = "Error in {F}/particles_config.json: ";
    std::vector<BadInput> cases = malformed(F, "init", "num_molecules != len(particles)");
    cases.push_back({F + " missing", "init", removeFile(F), "Cannot open configuration file: {F}/particles_config.json"});
    cases.push_back({"particles an object", "init", setKey(F, "particles", json::object()),
                     E + "key \"particles\": type must be array, but is object"});
    cases.push_back({"one entry short", "init", editFile(F, [](json& c) { c["particles"].erase(0); }),
                     "num_molecules != len(particles)"});
    cases.push_back({"one entry over", "init", editFile(F, [](json& c) { c["particles"].push_back(c["particles"][0]); }),
                     "num_molecules != len(particles)"});
    cases.push_back({"entry a number", "init", editFile(F, [](json& c) { c["particles"][3] = 5; }),
                     E + "expected a JSON object holding \"particles[3].diameter\", but found number"});
    size_t variant = 0;
    for (const char* key : {"diameter", "mass", "species"}) {
        cases.push_back({std::string("entry without ") + key, "init",
                         editFile(F, [=](json& c) { c["particles"][2].erase(key); }),
                         E + "missing required key \"particles[2]." + key + "\""});
        for (int k = 0; k < 2; ++k) {
            const json value = wrongValue("number", variant++);
            cases.push_back({std::string(key) + " as " + value.type_name(), "init",
                             editFile(F, [=](json& c) { c["particles"][N - 1][key] = value; }),
                             typeError(F, "particles[7]." + std::string(key), "number", value)});
        }
    }
    const std::vector<std::tuple<const char*, json, std::string>> values = {
        {"diameter", -1e-10, E + "key \"particles[1].diameter\" must not be negative"},
        {"mass", 0, E + "key \"particles[1].mass\" must be positive"},
        {"mass", -1e-26, E + "key \"particles[1].mass\" must be positive"},
        {"species", -1, E + "key \"particles[1].species\" must be a species index from 0 to 65535, but is -1"},
        {"species", 70000, E + "key \"particles[1].species\" must be a species index from 0 to 65535, but is 70000"},
        {"species", 1e12, E + "key \"particles[1].species\": 1000000000000.0 is outside the range*"},
        {"diameter", 1.0,
         "Error in {F}/config.json: key \"cells_per_dimension\": * cells per axis are narrower than the largest "
         "diameter 1.000000 in particles_config.json; use at most 1"},
    };
    for (const auto& [key, value, expected] : values) {
        cases.push_back({std::string(key) + " = " + value.dump(), "init",
                         editFile(F, [=](json& c) { c["particles"][1][key] = value; }), expected});
    }
    expectRefused(cases);
}

Mutation editParticle(int k, const std::string& key, const std::function<void(json&)>& edit) {
    return editFile("particles_init.json", [=](json& c) { edit(c["particles"][k][key]); });
}

double radiusOfParticle(const std::string& folder, int k) {
    return readJson(folder + "/particles_config.json")["particles"][k]["diameter"].get<double>() / 2.0;
}

TEST(BadInputTest, InitialStateFile) {
    const std::string F = "particles_init.json";
    const std::string E = "Error in {F}/particles_init.json: ";
    const std::string noArray = "Error: {F}/particles_init.json missing 'particles' array.";
    std::vector<BadInput> cases = malformed(F, "init", noArray);
    cases.push_back({F + " missing", "init", removeFile(F), "Cannot open particle state: {F}/particles_init.json"});
    cases.push_back({"particles an object", "init", setKey(F, "particles", json::object()), noArray});
    cases.push_back({"no particles key", "init", replaceFile(F, "{\"particle\": []}"), noArray});
    cases.push_back({"one entry short", "init", editFile(F, [](json& c) { c["particles"].erase(0); }),
                     E + "\"particles\" holds 7 entries, but num_molecules is 8"});
    cases.push_back({"one entry over", "init", editFile(F, [](json& c) { c["particles"].push_back(c["particles"][0]); }),
                     E + "\"particles\" holds 9 entries, but num_molecules is 8"});
    for (const char* key : {"position", "velocity"}) {
        cases.push_back({std::string("entry without ") + key, "init",
                         editFile(F, [=](json& c) { c["particles"][2].erase(key); }),
                         E + "missing required key \"particles[2]." + key + "\""});
        cases.push_back({std::string(key) + " a string", "init", editParticle(2, key, [](json& v) { v = "0 0 0"; }),
                         E + "key \"particles[2]." + key + "\" must be an array of 3 numbers"});
        cases.push_back({std::string(key) + " of two numbers", "init", editParticle(2, key, [](json& v) { v.erase(2); }),
                         E + "key \"particles[2]." + key + "\" must be an array of 3 numbers"});
        cases.push_back({std::string(key) + " with a null", "init", editParticle(4, key, [](json& v) { v[1] = nullptr; }),
                         typeError(F, "particles[4]." + std::string(key) + "[1]", "number", nullptr)});
    }
    cases.push_back({"position below the box", "init", editParticle(5, "position", [](json& v) { v[1] = -0.5; }),
                     E + "particle 5 (position coordinate y = -0.500000) lies outside the domain [0, *]"});
    cases.push_back({"position far beyond the box", "init", editParticle(0, "position", [](json& v) { v[0] = 1e300; }),
                     E + "particle 0 (position coordinate x = *) lies outside the domain [0, *]"});
    cases.push_back({"faster than light", "init", editParticle(6, "velocity", [](json& v) { v[2] = -1e300; }),
                     E + "particle 6 (velocity component z = *) is faster than light"});
    cases.push_back({"two spheres in one place", "init",
                     editFile(F, [](json& c) { c["particles"][1]["position"] = c["particles"][0]["position"]; }),
                     E + "particle 0 and particle 1 overlap: distance 0, contact *"});
    cases.push_back({"sphere through the floor", "init", [](const std::string& folder) {
                         setKey("config.json", "reflective_z", true)(folder);
                         const double r = radiusOfParticle(folder, 3);
                         editParticle(3, "position", [=](json& v) { v[2] = 0.5 * r; })(folder);
                     },
                     E + "particle 3 (position coordinate z = *) reaches into the floor or the ceiling: its radius is *"});
    cases.push_back({"sphere through the metal plane", "init", [](const std::string& folder) {
                         const double z = readJson(folder + "/particles_init.json")["particles"][0]["position"][2];
                         setKey("config.json", "has_metal_z", true)(folder);
                         setKey("config.json", "metal_z", z)(folder);
                     },
                     E + "particle 0 (position coordinate z = *) of species a cuts the metal plane at z = *"});
    expectRefused(cases);
}

TEST(BadInputTest, RestartFiles) {
    const std::string F = "last_state.json";
    const std::string E = "Error in {F}/last_state.json: ";
    const std::string C = "continue";
    std::vector<BadInput> cases = malformed(F, C, E + "the top level must be a JSON object");
    cases.push_back({F + " missing", C, removeFile(F), "Failed to open file for reading: {F}/last_state.json"});
    size_t variant = 0;
    for (const char* key : {"posX", "posY", "posZ", "velX", "velY", "velZ", "freePath", "freeTime"}) {
        const std::string k = key;
        cases.push_back({k + " a number", C, setKey(F, k, 5), E + "key \"" + k + "\": type must be array, but is number"});
        cases.push_back({k + " short", C, editFile(F, [=](json& s) { s[k].erase(0); }),
                         E + "key \"" + k + "\" holds 7 values, but num_molecules is 8"});
        const json value = wrongValue("number", variant++);
        cases.push_back({k + " element as " + value.type_name(), C, editFile(F, [=](json& s) { s[k][3] = value; }),
                         typeError(F, k + "[3]", "number", value)});
    }
    cases.push_back({"truePath a number", C, setKey(F, "truePath", 1), E + "key \"truePath\" must be an array of 8 booleans"});
    cases.push_back({"truePath element a number", C, editFile(F, [](json& s) { s["truePath"][2] = 1; }),
                     typeError(F, "truePath[2]", "boolean", 1)});
    cases.push_back({"runtime a string", C, setKey(F, "runtime", "1e-9"), typeError(F, "runtime", "number", "")});
    cases.push_back({"runtime negative", C, setKey(F, "runtime", -1.0), E + "key \"runtime\" must not be negative"});
    cases.push_back({"collision_count negative", C, setKey(F, "collision_count", -300),
                     E + "key \"collision_count\": -300 is outside the range of this integer (0 to 18446744073709551615)"});
    cases.push_back({"collision_count null", C, setKey(F, "collision_count", nullptr),
                     typeError(F, "collision_count", "number", nullptr)});
    cases.push_back({"particle outside the box", C, editFile(F, [](json& s) { s["posZ"][4] = -1e-3; }),
                     E + "particle 4 (pos coordinate z = -0.001000) lies outside the domain [0, *]"});
    cases.push_back({"faster than light", C, editFile(F, [](json& s) { s["velY"][0] = 4e8; }),
                     E + "particle 0 (vel component y = 400000000.000000 m/s) is faster than light"});
    cases.push_back({"two spheres in one place", C, editFile(F, [](json& s) {
                         for (const char* axis : {"posX", "posY", "posZ"}) s[axis][7] = s[axis][6];
                     }),
                     E + "particle 6 and particle 7 overlap: distance 0, contact *"});

    const std::string S = "Error in {F}/state.json: ";
    for (BadInput& c : malformed("state.json", C, S + "the top level must be a JSON object")) cases.push_back(c);
    cases.push_back({"states_saved a string", C, setKey("state.json", "states_saved", "15"),
                     typeError("state.json", "states_saved", "number", "")});
    cases.push_back({"states_saved negative", C, setKey("state.json", "states_saved", -1),
                     S + "key \"states_saved\" must not be negative, but is -1"});
    cases.push_back({"snapshots of another system", C, setKey("state.json", "num_molecules", 9),
                     S + "key \"num_molecules\" is 9, but config.json has 8: state.bin holds snapshots of another system"});

    for (const std::string profile : {"log_profile.json", "linear_profile.json"}) {
        const std::string P = "Error in {F}/" + profile + ": ";
        cases.push_back({profile + " empty", C, replaceFile(profile, ""),
                         P + "not valid JSON: [json.exception.parse_error.101] *"});
        cases.push_back({profile + " an array", C, replaceFile(profile, "[1, 2]"), P + "the top level must be a JSON object"});
        cases.push_back({profile + " counts short", C, editFile(profile, [](json& h) { h["counts"].erase(0); }),
                         P + "key \"counts\" holds 99 values, but the configured bins need 100 (was the file written "
                             "with another profile_num_bins?)"});
        cases.push_back({profile + " values a string", C, setKey(profile, "values", "none"),
                         P + "key \"values\": type must be array, but is string"});
        cases.push_back({profile + " a negative count", C, editFile(profile, [](json& h) { h["counts"][5] = -2; }),
                         P + "key \"counts[5]\": -2 is outside the range of this integer (0 to 18446744073709551615)"});
        cases.push_back({profile + " edges reversed", C,
                         editFile(profile, [](json& h) { std::reverse(h["edges"].begin(), h["edges"].end()); }),
                         P + "key \"edges\" must be in increasing order"});
        cases.push_back({profile + " num_instances a bool", C, setKey(profile, "num_instances", true),
                         typeError(profile, "num_instances", "number", true)});
    }
    expectRefused(cases);
}

// alter.json is the one input read while running: a broken one is reported and ignored,
// and the run completes.
TEST(BadInputTest, AlterFileIsReportedAndTheRunGoesOn) {
    const std::vector<KeyType> alterKeys = {
        {"save_last_state_every", "number"},  {"stats_after", "number"},
        {"stats_every", "number"},            {"species_stats_after", "number"},
        {"species_stats_every", "number"},    {"flush_species_stats_every", "number"},
        {"flush_stats_every", "number"},      {"log_state", "boolean"},
        {"save_particles_state_every", "number"}, {"flush_state_buffer_every", "number"},
        {"stop", "boolean"},                  {"purge_queue_above", "number"},
        {"sample_pca_after", "number"},       {"sample_pca_until", "number"},
        {"flush_pca_buffer_every", "number"}, {"sample_collision_angle", "boolean"},
        {"sample_collision_angle_after", "number"}, {"sample_collision_angle_until", "number"},
        {"flush_collision_angle_buffer_every", "number"},
    };
    const std::string A = "Error in {F}/alter.json: ";
    std::vector<std::pair<std::string, std::string>> files = {
        {"{\"stop\": tr", "Error parsing {F}/alter.json: [json.exception.parse_error.101] *"},
        {"[{\"stop\": true}]", A + "the top level must be a JSON object; nothing was changed"},
        {"{\"stop\": true, \"stats_every\": 0}",
         A + "key \"stats_every\" is a collision interval and must be at least 1, but is 0; nothing was changed"},
        {"{\"stop\": true, \"save_last_state_every\": 1e10}", A + "key \"save_last_state_every\": * is outside the range*"},
        {"{\"stop\": true, \"save_particles_state_every\": 1, \"flush_state_buffer_every\": 2000000000}",
         A + "key \"flush_state_buffer_every\": 2000000000 snapshots held between flushes* GB); nothing was changed"},
    };
    size_t variant = 0;
    for (const KeyType& k : alterKeys) {
        const json value = wrongValue(k.type, variant++);
        // A stop beside the bad key: applied, it would end the run early.
        json file = {{"stop", true}};
        file[k.key] = value;
        files.push_back({file.dump(),
                         A + "key \"" + k.key + "\": type must be " + k.type + ", but is " + value.type_name() +
                             "; nothing was changed"});
    }
    for (const auto& [text, expected] : files) {
        TempDir dir;
        prepare(dir, {text, "init", replaceFile("alter.json", text), ""});
        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, 0) << text << "\n" << r.err;
        const std::string firstLine = r.err.substr(0, r.err.find('\n') + 1);
        EXPECT_TRUE(matches(firstLine, expand(expected, dir.path) + "\n")) << text << "\n  got: " << firstLine;
        EXPECT_EQ(r.out.find("Stopping..."), std::string::npos) << text;
        EXPECT_EQ(readJson(dir.file("last_state.json"))["collision_count"], 300) << text;
    }
    RecordProperty("bad_inputs", static_cast<int>(files.size()));
}

}  // namespace
