// Every input file broken in every way we could think of. In-process, each start from a broken copy of a finished run's
// folder must be refused with the line main prints; the binary shows its status, its streams and the folder untouched.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>

#include "app/alterations.h"
#include "app/config.h"
#include "app/entry.h"
#include "app/run.h"
#include "tests/support.h"
#include "util/error.h"
#include "util/file_output.h"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Eight particles after 300 collisions: every output a refused start could damage (snapshots, profiles, angles, logs).
const std::string& completedRun() {
    static TempDir dir;
    static const bool ran = (initFolder(dir.path, {"-n", "8", "-p", "0.05", "--seed", "3", "--max-collisions", "300", "--set", "stats_after=0", "--set",
                                                   "save_particles_state_every=20", "--set", "flush_state_buffer_every=100", "--set", "stats_every=10", "--set",
                                                   "flush_stats_every=100", "--set", "sample_collision_angle=true", "--set", "check_alter_every=50", "--set",
                                                   "flush_collision_angle_buffer_every=100"}), runHardgas(dir.path).status == 0);
    EXPECT_TRUE(ran);
    return dir.path;
}
json prepared(const std::string& file) { return readJson(completedRun() + "/" + file); }

// A case: its edits, "file" -> the file's new text and "file/json/pointer" -> the value there (ERASE: gone), and the
// complaint, where "*" is any text within the line and "{F}" the folder.
using Case = std::pair<json, std::string>;
const json ERASE = "<erase>";

// A copy of the finished run with the edits, as the program's folder; only a continued run reads the restart files.
void prepare(const std::string& dir, json edits) {
    fs::copy(completedRun(), dir, fs::copy_options::recursive);
    resetProgramState();
    solutionFolder = dir;
    const auto restart = [](const auto& edit) { return std::regex_match(edit.key(), std::regex("(last_state|state|resume|.*_profile)\\.json.*")); };
    if (std::any_of(edits.items().begin(), edits.items().end(), restart)) edits["config.json/mode"] = "continue";
    for (const auto& [where, value] : edits.items()) {
        const std::string path = dir + "/" + where.substr(0, where.find('/')), at = where.substr(std::min(where.find('/'), where.size()));
        if (at.empty() && value == ERASE) fs::remove(path);
        if (at.empty() && value != ERASE) writeFile(path, value.get<std::string>());
        if (at.empty()) continue;
        const json doc = readJson(path);
        const char* op = value == ERASE ? "remove" : doc.contains(json::json_pointer(at)) ? "replace" : "add";
        writeJson(path, doc.patch(json::array({{{"op", op}, {"path", at}, {"value", value}}})));
    }
}

// `value` at `where`, refused by the loader of that file with "Error in {F}/file: " and `rest`, where "@" is the key as
// the loaders name it (key "particles[1].mass"); `more` breaks more than that.
Case at(const std::string& where, const json& value, const std::string& rest, json more = json::object()) {
    const std::string file = where.substr(0, where.find('/')), key = where.substr(std::min(where.size(), file.size() + 1));
    const std::string name = std::regex_replace(std::regex_replace(key, std::regex("/(\\d+)"), "[$1]"), std::regex("/"), ".");
    more[where] = value;
    return {more, "Error in {F}/" + file + ": " + std::regex_replace(rest, std::regex("@"), "key \"" + name + "\"")};
}
std::string typed(const std::string& type, const json& v, const std::string& key = "@") { return key + ": type must be " + type + ", but is " + v.type_name(); }

bool matches(const std::string& text, std::string pattern, const std::string& folder) {
    for (size_t at; (at = pattern.find("{F}")) != std::string::npos;) pattern.replace(at, 3, folder);
    pattern = std::regex_replace(pattern, std::regex(R"([.^$|?+()[\]{}\\])"), R"(\$&)");
    return std::regex_match(text, std::regex(std::regex_replace(pattern, std::regex(R"(\*)"), ".*")));
}

std::map<std::string, std::string> folderContents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) contents[entry.path()] = readFile(entry.path());
    return contents;
}

// A value of another JSON type than `type`, varied with `variant` so that every type shows up.
json wrongValue(const std::string& type, size_t variant) {
    const json candidates = {"text", nullptr, json::array({1}), json::object({{"a", 1}}), true, 7};
    while (type == candidates[variant % 6].type_name()) ++variant;
    return candidates[variant % 6];
}

// Empty, cut short, unparsable, not an object, and missing (unless `missing` is empty).
std::vector<Case> malformed(const std::string& f, const std::string& missing, const std::string& notObject) {
    const std::string P = "Error parsing {F}/" + f + ": [json.exception.";
    std::vector<Case> cases = {{{{f, ""}}, P + "parse_error.101] *unexpected end of input*"}, {{{f, "{\"posX\": [1e-9, 2e-"}}, P + "parse_error.*"},
                               {{{f, "{\"x\": NaN}"}}, P + "*"}, {{{f, "{\"mode\": \"\xff\xfe\"}"}}, P + "*"}, {{{f, "[]"}}, notObject}, {{{f, "\"particles\""}}, notObject},
                               {{{f, "{\"x\": 1e400}"}}, P + "out_of_range.406] number overflow parsing '1e400'"}, {{{f, std::string(100000, '[') + std::string(100000, ']')}}, notObject}};
    if (!missing.empty()) cases.push_back({{{f, ERASE}}, missing});
    return cases;
}

// The table: for each input file, what breaks it and the complaint; one line per key or kind of damage.
std::vector<Case> brokenFolders() {
    std::vector<Case> cases;
    const auto add = [&](const std::vector<Case>& more) { cases.insert(cases.end(), more.begin(), more.end()); };
    const std::string C = "config.json/", S = "particles_config.json/particles/", T = "particles_init.json/particles/", L = "last_state.json/";
    const std::string E = "Error in {F}/", P = "@ must be positive, but is ", A = "@ must be at least 1, but is ", R = " is outside the range";
    const std::string I = "@ is a collision interval and must be at least 1, but is ", U = R + " of this integer (0 to 18446744073709551615)";
    const std::string H = "height profiles from min_radius to domain_size - min_radius: ", M = "snapshots held between flushes", count = "num_molecules != "
                          "len(particles)", O = "lies outside the domain [0 m, 1.618979162382874e-09 m]", index = "@ must be a species index from 0 to 65535, but is ";
    // alter.json is read while running: with the inputs loaded, a broken one changes nothing, not even the stop beside it.
    const auto alter = [&](const json& f, const std::string& rest) { return Case{{{"alter.json", f.dump()}}, E + "alter.json: " + rest + "; nothing was changed"}; };

    // config.json and alter.json: every key of the wrong type, every required key missing, values out of range.
    add(malformed("config.json", "Cannot open configuration file: {F}/config.json", E + "config.json: expected a JSON object holding \"mode\", but found *"));
    for (size_t variant = 0; const ConfigKey& key : configKeys()) {
        const std::string name = key.name, type = std::get_if<bool SimulationConfig::*>(&key.field) ? "boolean" : std::get_if<std::string SimulationConfig::*>(&key.field) ? "string" : "number";
        const json value = wrongValue(type, variant++);
        add({at(C + name, value, typed(type, value))});
        if (key.required) add({at(C + name, ERASE, "missing required @")});
        if (key.alterOrder > 0) add({alter({{"stop", true}, {name, value}}, typed(type, value, "key \"" + name + "\""))});
    }
    add({at(C + "domain_size", 0, P + "0"), at(C + "domain_size", -1e-6, P + "-1e-06")});
    add({at(C + "cells_per_dimension", 0, A + "0"), at(C + "cells_per_dimension", -4, A + "-4"), at(C + "cells_per_dimension", 5000, "@ must be at most 1290, but is 5000"),
         at(C + "cells_per_dimension", 200, "@: 200 cells per axis are narrower than the largest diameter *")});
    add({at(C + "num_molecules", 0, A + "0"), at(C + "num_molecules", -8, A + "-8"), {{{C + "num_molecules", 7}}, count}, {{{C + "num_molecules", 9}}, count},
         at(C + "num_molecules", 3e10, "@: 30000000000.0" + R + " of this integer (-2147483648 to 2147483647)"),
         at(C + "num_molecules", 2000000000, "@: 2000000000 particles on *^3 cells need about * GB of memory, more than this machine has (* GB)")});
    add({at(C + "min_radius", 0, H + "Logarithmic bins require positive minValue and maxValue."), at(C + "min_radius", 1e9, H + "minValue must be less than maxValue.")});
    add({at(C + "max_collision_count", -1, "@: -1" + U), at(C + "max_collision_count", 1e30, "@: 1e+30" + U), at(C + "stats_after", 5e9, "@: 5000000000.0" + R + "*")});
    add({at(C + "collision_progress_every", 0, I + "0"), at(C + "save_last_state_every", -2, I + "-2"), at(C + "stats_every", 0, I + "0"), at(C + "check_alter_every", 0, I + "0"),
         at(C + "save_particles_state_every", 0, I + "0"), at(C + "profile_num_bins", 0, A + "0"), at(C + "profile_num_bins", 100000000, "@ must be at most 10000000, but is 100000000")});
    add({at(C + "z_temperature", 0, "@ must be positive for thermal walls, but is 0 K", {{C + "reflective_z", true}, {C + "diffusive_z", true}}),
         at(C + "flush_state_buffer_every", 2000000000, "@: 2000000000 " + M + " (one every 1 collisions) need about * GB of memory, more than half of what this machine has (* GB)",
            {{C + "save_particles_state_every", 1}, {C + "max_collision_count", 4000000000}})});
    add({{{{"alter.json", "{\"stop\": tr"}}, "Error parsing {F}/alter.json: [json.exception.parse_error.101] *"},
         alter(json::array({{{"stop", true}}}), "the top level must be a JSON object"), alter({{"stop", 1}}, "key \"stop\": type must be boolean, but is number"),
         alter({{"stop", true}, {"stats_every", 0}}, "key \"stats_every\" is a collision interval and must be at least 1, but is 0"),
         alter({{"stop", true}, {"save_last_state_every", 1e10}}, "key \"save_last_state_every\": * is outside the range*"),
         {{{C + "max_collision_count", 4000000000}, {"alter.json", json({{"stop", true}, {"save_particles_state_every", 1}, {"flush_state_buffer_every", 2000000000}}).dump()}},
          E + "alter.json: key \"flush_state_buffer_every\": 2000000000 " + M + "* GB); nothing was changed"}});

    // particles_config.json: the species of every particle.
    add(malformed("particles_config.json", "Cannot open configuration file: {F}/particles_config.json", count));
    for (size_t variant = 0; const std::string key : {"diameter", "mass", "species"}) {
        const json one = wrongValue("number", variant++), other = wrongValue("number", variant++);
        add({at(S + "2/" + key, ERASE, "missing required @"), at(S + "7/" + key, one, typed("number", one)), at(S + "7/" + key, other, typed("number", other))});
    }
    add({at("particles_config.json/particles", json::object(), "@: type must be array, but is object"), {{{S + "0", ERASE}}, count},
         {{{S + "-", prepared("particles_config.json")["particles"][0]}}, count}, at(S + "3", 5, "expected a JSON object holding \"particles[3].diameter\", but found number")});
    add({at(S + "1/mass", 0, "@ must be positive"), at(S + "1/mass", -1e-26, "@ must be positive"), at(S + "1/diameter", -1e-10, "@ must not be negative"),
         at(S + "1/species", -1, index + "-1"), at(S + "1/species", 70000, index + "70000"), at(S + "1/species", 1e12, "@: 1000000000000.0" + R + "*")});
    add({{{{S + "1/diameter", 1.0}}, E + "config.json: key \"cells_per_dimension\": * cells per axis are narrower than the largest diameter 1 m in particles_config.json; use at most 1"}});

    // particles_init.json: where the particles start and how fast they move.
    const json init = prepared("particles_init.json")["particles"];
    const std::string noArray = "Error: {F}/particles_init.json missing 'particles' array.";
    add(malformed("particles_init.json", "Cannot open particle state: {F}/particles_init.json", noArray));
    for (const std::string key : {"position", "velocity"}) {
        add({at(T + "2/" + key, ERASE, "missing required @"), at(T + "2/" + key, "0 0 0", "@ must be an array of 3 numbers"),
             at(T + "2/" + key + "/2", ERASE, "key \"particles[2]." + key + "\" must be an array of 3 numbers"), at(T + "4/" + key + "/1", nullptr, typed("number", nullptr))});
    }
    add({{{{"particles_init.json/particles", json::object()}}, noArray}, {{{"particles_init.json", "{\"particle\": []}"}}, noArray},
         at(T + "0", ERASE, "\"particles\" holds 7 entries, but num_molecules is 8"), at(T + "-", init[0], "\"particles\" holds 9 entries, but num_molecules is 8")});
    add({at(T + "5/position/1", -0.5, "particle 5 (position coordinate y = -0.5 m) " + O), at(T + "0/position/0", 1e300, "particle 0 (position coordinate x = 1e+300 m) " + O),
         at(T + "6/velocity/2", -1e300, "particle 6 (velocity component z = -1e+300 m/s) is faster than light"), at(T + "1/position", init[0]["position"], "particle 0 and particle 1 overlap: distance 0 m, contact 3.7e-10 m")});
    add({at(T + "3/position/2", prepared("particles_config.json")["particles"][3]["diameter"].get<double>() / 4,
            "particle 3 (position coordinate z = 9.25e-11 m) reaches into the floor or the ceiling: its radius is 1.85e-10 m", {{C + "reflective_z", true}}),
         {{{C + "has_metal_z", true}, {C + "metal_z", init[0]["position"][2]}}, E + "particles_init.json: particle 0 (position coordinate z = 1.0118619764892962e-09 m) of species a cuts the metal plane at z = 1.0118619764892962e-09 m: its radius is 1.85e-10 m"}});

    // A continued run: last_state.json, state.json (without which the count starts afresh) and the two profiles.
    const json last = prepared("last_state.json");
    add(malformed("last_state.json", "Failed to open file for reading: {F}/last_state.json", E + "last_state.json: the top level must be a JSON object"));
    const json NoResume = {{"resume.json", ERASE}};
    for (Case c : malformed("state.json", "", E + "state.json: the top level must be a JSON object")) {
        c.first["resume.json"] = ERASE;
        add({c});
    }
    for (size_t variant = 0; const std::string k : {"posX", "posY", "posZ", "velX", "velY", "velZ", "freePath", "freeTime"}) {
        const json value = wrongValue("number", variant++);
        add({at(L + k, 5, "@: type must be array, but is number"), at(L + k + "/3", value, typed("number", value)),
             at(L + k + "/0", ERASE, "key \"" + k + "\" holds 7 values, but num_molecules is 8")});
    }
    add({at(L + "truePath", 1, "@ must be an array of 8 booleans"), at(L + "truePath/2", 1, typed("boolean", 1)), at(L + "runtime", "1e-9", typed("number", "")),
         at(L + "runtime", -1.0, "@ must not be negative"), at(L + "runtime", ERASE, "@ is missing, but state.bin holds snapshots up to * s: a restart at time 0 would cut them all off"), at(L + "collision_count", -300, "@: -300" + U), at(L + "collision_count", nullptr, typed("number", nullptr))});
    add({at(L + "posZ/4", -1e-3, "particle 4 (pos coordinate z = -0.001 m) " + O), at(L + "velY/0", 4e8, "particle 0 (vel component y = 4e+08 m/s) is faster than light"),
         at(L + "posZ/7", last["posZ"][6], "particle 6 and particle 7 overlap: distance 0 m, contact 3.7e-10 m", {{L + "posX/7", last["posX"][6]}, {L + "posY/7", last["posY"][6]}})});
    // Without resume.json a continued run reads state.json and the profiles as they are; with it, it writes back what they
    // held at the restart point.
    add({at("state.json/states_saved", "15", typed("number", ""), NoResume), at("state.json/states_saved", -1, "@ must not be negative, but is -1", NoResume),
         at("state.json/num_molecules", 9, "@ is 9, but config.json has 8: state.bin holds snapshots of another system", NoResume)});
    const std::string W = "resume.json/records/0/wall_random";
    add(malformed("resume.json", "", E + "resume.json: the top level must be a JSON object"));
    add({at("resume.json/version", 2, "@ is 2, but this program reads version 1"), at("resume.json/version", ERASE, "missing required @"),
         at("resume.json/records", 5, "@ must be an array"), at("resume.json/records/0/runtime", "0", typed("number", "")),
         at(W + "/normal", "0 1 1", "key \"records[0].wall_random\" does not hold a state of the thermal walls' generator"), at(W + "/engine", ERASE, "missing required @")});
    const std::string Rec = "resume.json/records/0/";
    add({at(Rec + "collision_count", 299, "it holds no record of the restart point of {F}/last_state.json (collision 300, runtime *)"),
         at(Rec + "kind", "later", "@ must be \"periodic\" or \"end\""), at(Rec + "last_pair/1", 8, "key \"records[0].last_pair\" names particle 8, but there are 8"),
         at(Rec + "outputs/appended/..~1config.json", 0, "key \"outputs.appended\" names \"../config.json\", which is no output"),
         at(Rec + "outputs/replaced/particles_init.json", "{}", "key \"outputs.replaced\" names \"particles_init.json\", which is no output of this run"),
         at(Rec + "outputs/appended/state.bin", -1, "key \"outputs.appended.state.bin\": -1" + U)});
    for (const std::string p : {"log_profile.json", "linear_profile.json"}) {
        add({at(p, "", "not valid JSON: [json.exception.parse_error.101] *", NoResume), at(p, "[1, 2]", "the top level must be a JSON object", NoResume), at(p + "/counts/5", -2, "@: -2" + U, NoResume),
             at(p + "/counts/0", ERASE, "key \"counts\" holds 99 values, but the configured bins need 100 (was the file written with another profile_num_bins?)", NoResume),
             at(p + "/values", "none", "@: type must be array, but is string", NoResume), at(p + "/edges/0", 1e300, "key \"edges\" must be in increasing order", NoResume),
             at(p + "/num_instances", true, typed("number", true), NoResume)});
    }
    return cases;
}

TEST(BadInputTest, EveryBrokenInputIsRefusedWithItsComplaint) {
    for (const auto& [edits, expected] : brokenFolders()) {
        TempDir dir;
        prepare(dir.path, edits);
        std::string text;
        std::cout.setstate(std::ios::failbit);  // 237 times the loaders' progress lines would bury the failures
        try {
            loadInputs();
            prepareEngine();
            const SimulationConfig before = config;
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(applyAlterations(), !edits.contains("alter.json"));
            text = ::testing::internal::GetCapturedStderr();
            EXPECT_TRUE(config == before && !alterations.stopRequested) << "alter.json was applied";
        } catch (const InputRefused& e) {
            text = std::string(e.what()) + "\n";  // as main prints it
        }
        std::cout.clear();
        EXPECT_TRUE(matches(text, expected + "\n", dir.path)) << edits.dump(-1, ' ', false, json::error_handler_t::replace).substr(0, 150) << "\n  got: " << text;
    }
}

// Through the binary: the earliest refusal (config.json), the latest (overlapping spheres, found when the engine is
// prepared, just before the first write), a restart file whose clock is missing (which would otherwise cut state.bin
// back to nothing) and gravity without walls, which main reports as an error on standard output.
TEST(BadInputTest, RefusedStartOfTheBinaryLeavesTheFolderAlone) {
    std::vector<Case> runs = {{{{"config.json/g", 9.81}, {"config.json/reflective_z", false}}, "\nERROR: \x1b[31mNon-zero gravity requests reflective z boundaries!\x1b[0m"}};
    for (const Case& c : brokenFolders()) {
        const bool pick = c.first == json{{"config.json", ""}} || c.second.find("overlap") != std::string::npos || c.second.find("time 0") != std::string::npos;
        if (pick) runs.push_back(c);
    }
    for (const auto& [edits, expected] : runs) {
        TempDir dir;
        prepare(dir.path, edits);
        const auto before = folderContents(dir.path);
        const RunResult r = runHardgas(dir.path);
        const bool fatal = expected.starts_with("\nERROR");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(fatal ? r.out.ends_with(expected + "\n") && r.err.empty() : matches(r.err, expected + "\n", dir.path)) << r.out << r.err;
        EXPECT_EQ(r.out.find("ERROR") != std::string::npos, fatal) << r.out;
        EXPECT_TRUE(r.out.substr(0, r.out.rfind("\nERROR")).ends_with("\x1b[0m")) << "the terminal is left coloured: " << r.out;
        EXPECT_TRUE(folderContents(dir.path) == before) << expected << ": the refused start changed the folder";
    }
}

// The metal plane holds species a back only from below: a sphere passing down through it, or turned back up on the way
// by a collision, is a state the engine saves and must continue from; a fresh start may not place one there.
TEST(BadInputTest, RestartFileMayHoldSpeciesACuttingTheMetalPlane) {
    TempDir dir;
    const double z = prepared("last_state.json")["posZ"][0];
    prepare(dir.path, {{"config.json/has_metal_z", true}, {"config.json/metal_z", z}, {"config.json/mode", "continue"}});
    std::cout.setstate(std::ios::failbit);
    EXPECT_NO_THROW({
        loadInputs();
        prepareEngine();
    });
    std::cout.clear();
}

TEST(BadInputTest, BrokenAlterFileLetsTheBinaryFinishTheRun) {
    TempDir dir;
    prepare(dir.path, {{"alter.json", "{\"stop\": true, \"stats_every\": 0}"}});
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(matches(r.err.substr(0, r.err.find('\n')), "Error in {F}/alter.json: key \"stats_every\"*", dir.path));
    EXPECT_EQ(r.out.find("Stopping..."), std::string::npos);
    EXPECT_EQ(readJson(dir.path + "/last_state.json")["collision_count"], 300);
}

}  // namespace
