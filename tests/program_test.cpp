// The real hardgas binary on small solution folders: console texts, every loader error,
// and the exact layout of the files a run leaves behind.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "app/console.h"
#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

const int32_t N = 32;

// A fresh run of 32 particles: 200 collisions, a snapshot every 20, a flush every 100.
void makeSmallRun(const std::string& folder) {
    initFolder(folder, {"-n", std::to_string(N), "-p", "0.1", "--seed", "4", "--max-collisions", "200", "--set",
                        "save_particles_state_every=20", "--set", "flush_state_buffer_every=100", "--set",
                        "collision_progress_every=100"});
}

void editJson(const std::string& path, const std::function<void(json&)>& edit) {
    json value = readJson(path);
    edit(value);
    writeJson(path, value);
}

std::string loadingLines() {
    return std::string(BLUE) + "Loading config.json..." + BLUE + " Done.\n" + BLUE +
           "Loading particles_config.json..." + BLUE + " Done.\n" + RESET + BLUE + "Loading particles_init.json..." +
           BLUE + " Done.\n" + RESET + BLUE + "Initializing cells structure..." + RESET + BLUE + " Done.\n" + RESET +
           BLUE + "Pushing events for all particles..." + RESET + BLUE + " Done.\n" + RESET;
}

TEST(ProgramTest, UsageLineWithoutArgument) {
    const RunResult r = runCommand({HARDGAS_BINARY});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("Usage: ") + HARDGAS_BINARY + " <solutionFolder>\n");
    EXPECT_EQ(r.out, "");
}

struct LoaderCase {
    const char* name;
    std::function<void(const std::string& folder)> breakFolder;
    std::string expectedError;  // "{F}" stands for the folder; a trailing "*" matches any rest
};

std::string expand(std::string text, const std::string& folder) {
    for (size_t at = text.find("{F}"); at != std::string::npos; at = text.find("{F}", at + folder.size())) {
        text.replace(at, 3, folder);
    }
    return text;
}

void setConfig(const std::string& folder, const char* key, const json& value) {
    editJson(folder + "/config.json", [&](json& c) { c[key] = value; });
}

const std::vector<LoaderCase>& loaderCases() {
    static const std::vector<LoaderCase> cases = {
        {"no config", [](const std::string& f) { std::filesystem::remove(f + "/config.json"); },
         "Cannot open configuration file: {F}/config.json\n"},
        {"truncated config", [](const std::string& f) { writeFile(f + "/config.json", "{\"mode\": \"in"); },
         "Error parsing {F}/config.json: [json.exception.parse_error.101]*"},
        {"missing required key",
         [](const std::string& f) { editJson(f + "/config.json", [](json& c) { c.erase("domain_size"); }); },
         "Error in {F}/config.json: missing required key \"domain_size\"\n"},
        {"number as string", [](const std::string& f) { setConfig(f, "g", "9.8"); },
         "Error in {F}/config.json: key \"g\": type must be number, but is string\n"},
        {"mode not a string", [](const std::string& f) { setConfig(f, "mode", nullptr); },
         "Error in {F}/config.json: key \"mode\": type must be string, but is null\n"},
        {"no particles", [](const std::string& f) { setConfig(f, "num_molecules", 0); },
         "Error in {F}/config.json: key \"num_molecules\" must be at least 1, but is 0\n"},
        {"negative count for a uint64 key", [](const std::string& f) { setConfig(f, "max_collision_count", -1); },
         "Error in {F}/config.json: key \"max_collision_count\": -1 is outside the range of this integer (0 to "
         "18446744073709551615)\n"},
        {"cells narrower than a sphere", [](const std::string& f) { setConfig(f, "cells_per_dimension", 1000); },
         "Error in {F}/config.json: key \"cells_per_dimension\": 1000 cells per axis are narrower than the largest "
         "diameter*"},
        {"zero progress interval", [](const std::string& f) { setConfig(f, "collision_progress_every", 0); },
         "Error in {F}/config.json: key \"collision_progress_every\" is a collision interval and must be at least 1, "
         "but is 0\n"},
        {"zero snapshot interval while snapshots are on",
         [](const std::string& f) { setConfig(f, "save_particles_state_every", 0); },
         "Error in {F}/config.json: key \"save_particles_state_every\" is a collision interval and must be at least "
         "1, but is 0\n"},
        {"species count differs",
         [](const std::string& f) {
             editJson(f + "/particles_config.json", [](json& c) { c["particles"].erase(0); });
         },
         "num_molecules != len(particles)\n"},
        {"negative species",
         [](const std::string& f) {
             editJson(f + "/particles_config.json", [](json& c) { c["particles"][0]["species"] = -1; });
         },
         "Error in {F}/particles_config.json: key \"particles[0].species\" must be a species index from 0 to 65535, "
         "but is -1\n"},
        {"no initial state", [](const std::string& f) { std::filesystem::remove(f + "/particles_init.json"); },
         "Cannot open particle state: {F}/particles_init.json\n"},
        {"initial state without array",
         [](const std::string& f) { writeFile(f + "/particles_init.json", "{\"particles\": {}}"); },
         "Error: {F}/particles_init.json missing 'particles' array.\n"},
        {"initial state count differs",
         [](const std::string& f) {
             editJson(f + "/particles_init.json", [](json& c) { c["particles"].erase(0); });
         },
         "Error in {F}/particles_init.json: \"particles\" holds 31 entries, but num_molecules is 32\n"},
        {"short position",
         [](const std::string& f) {
             editJson(f + "/particles_init.json", [](json& c) { c["particles"][2]["position"] = {0.1, 0.2}; });
         },
         "Error in {F}/particles_init.json: key \"particles[2].position\" must be an array of 3 numbers\n"},
        {"particle outside the box",
         [](const std::string& f) {
             editJson(f + "/particles_init.json", [](json& c) { c["particles"][5]["position"][1] = -1.0; });
         },
         "Error in {F}/particles_init.json: particle 5 lies outside the domain*"},
        {"continued run without restart file", [](const std::string& f) { setConfig(f, "mode", "continue"); },
         "Failed to open file for reading: {F}/last_state.json\n"},
        {"restart file with a short array",
         [](const std::string& f) {
             setConfig(f, "mode", "continue");
             writeFile(f + "/last_state.json", "{\"velY\": [1.0, 2.0, 3.0]}");
         },
         "Error in {F}/last_state.json: key \"velY\" holds 3 values, but num_molecules is 32\n"},
        {"malformed snapshot descriptor",
         [](const std::string& f) {
             setConfig(f, "mode", "continue");
             writeFile(f + "/last_state.json", "{}");
             writeFile(f + "/state.json", "{\"states_saved\": ");
         },
         "Error parsing {F}/state.json: *"},
    };
    return cases;
}

TEST(ProgramTest, LoaderErrorsNameTheFileAndKeyAndExitWithStatusOne) {
    for (const LoaderCase& c : loaderCases()) {
        TempDir dir;
        makeSmallRun(dir.path);
        c.breakFolder(dir.path);
        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, 1) << c.name;
        const std::string expected = expand(c.expectedError, dir.path);
        if (!expected.empty() && expected.back() == '*') {
            EXPECT_EQ(r.err.substr(0, expected.size() - 1), expected.substr(0, expected.size() - 1)) << c.name;
        } else {
            EXPECT_EQ(r.err, expected) << c.name;
        }
        EXPECT_FALSE(std::filesystem::exists(dir.file("state.bin"))) << c.name;
    }
}

TEST(ProgramTest, IntervalsOfSwitchedOffFeaturesMayBeZero) {
    TempDir dir;
    makeSmallRun(dir.path);
    setConfig(dir.path, "log_state", false);
    setConfig(dir.path, "save_particles_state_every", 0);
    setConfig(dir.path, "flush_pca_buffer_every", 0);
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(ProgramTest, GravityWithoutWallsIsFatal) {
    TempDir dir;
    makeSmallRun(dir.path);
    setConfig(dir.path, "g", 9.8);
    editJson(dir.file("config.json"), [](json& c) { c.erase("domain_size"); });  // never reached
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, std::string(BLUE) + "Loading config.json..." + "\nERROR: " + RED +
                         "Non-zero gravity requests reflective z boundaries!" + RESET + "\n");
    EXPECT_EQ(r.err, "");

    setConfig(dir.path, "g", 0.0);
    setConfig(dir.path, "domain_size", readJson(dir.file("config.json")).value("min_radius", 0.0) * 200);
    EXPECT_EQ(runHardgas(dir.path).status, 0);
}

TEST(ProgramTest, FreshRunWritesSnapshotsAndRestartFileInTheirFormats) {
    TempDir dir;
    makeSmallRun(dir.path);
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, loadingLines().size()), loadingLines());
    const std::string progress = eraseLine + GRAY + "Collisions done: " + YELLOW;
    EXPECT_NE(r.out.find(progress + "100" + RESET), std::string::npos);
    EXPECT_NE(r.out.find(progress + "200" + RESET), std::string::npos);

    // Snapshots at 20, 40, ..., 200 and one more at the end, all flushed.
    EXPECT_EQ(readFile(dir.file("state.json")),
              "{\n    \"collision_count\": 200,\n    \"num_molecules\": 32,\n    \"states_saved\": 11\n}\n");
    const size_t record = 8 * (1 + 6 * N);
    ASSERT_EQ(fileSize(dir.file("state.bin")), 11 * record);
    const std::string bin = readFile(dir.file("state.bin"));
    double previousTime = -1.0;
    const double L = readJson(dir.file("config.json"))["domain_size"];
    for (size_t k = 0; k < 11; ++k) {
        std::vector<double> values(1 + 6 * N);
        std::memcpy(values.data(), bin.data() + k * record, record);
        EXPECT_GE(values[0], previousTime);
        previousTime = values[0];
        for (int32_t p = 0; p < N; ++p) {
            for (int axis = 1; axis <= 3; ++axis) {
                EXPECT_GE(values[6 * p + axis], 0.0);
                EXPECT_LE(values[6 * p + axis], L);
            }
        }
    }

    const std::string text = readFile(dir.file("last_state.json"));
    const std::string head = "{\n    \"collision_count\": 200,\n    \"freePath\": [\n        ";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - 8), "\n    ]\n}");  // no final line end
    const json state = json::parse(text);
    std::vector<std::string> keys;
    for (const auto& item : state.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"collision_count", "freePath", "freeTime", "posX", "posY", "posZ",
                                              "runtime", "truePath", "velX", "velY", "velZ"}));
    EXPECT_EQ(state["posX"].size(), static_cast<size_t>(N));
    EXPECT_TRUE(state["truePath"][0].is_boolean());
    EXPECT_EQ(state["runtime"].get<double>(), previousTime);
    EXPECT_EQ(text, state.dump(4));

    // The restart save writes the collision-velocity files whether their logging is on or not.
    for (const char* name : {"collision_velocity.bin", "collision_velocity00.bin", "collision_velocity11.bin",
                             "collision_velocity01.bin", "particle_collision_velocity.bin",
                             "particle_collision_velocity0.bin", "particle_collision_velocity1.bin"}) {
        EXPECT_EQ(fileSize(dir.file(std::string("velocity/") + name)), 0u) << name;
    }
}

TEST(ProgramTest, RunWithNothingLeftToHappenEndsNormally) {
    TempDir dir;
    makeSmallRun(dir.path);
    editJson(dir.file("particles_init.json"), [](json& init) {
        for (json& p : init["particles"]) p["velocity"] = {0.0, 0.0, 0.0};
    });
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("No further event can happen"), std::string::npos);
    EXPECT_EQ(readJson(dir.file("last_state.json"))["collision_count"], 0);
}

TEST(ProgramTest, UndeletableOutputOfAnEarlierRunIsReportedAsLocked) {
    TempDir dir;
    makeSmallRun(dir.path);
    std::filesystem::create_directories(dir.file("state.bin/inside"));
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: " + dir.file("state.bin") + " is locked by another process.\n"), std::string::npos);
}

TEST(ProgramTest, RestartFileThatCannotBeWrittenEndsTheRunAndKeepsTheOldOne) {
    TempDir dir;
    makeSmallRun(dir.path);
    writeFile(dir.file("last_state.json"), "previous");
    std::filesystem::create_directories(dir.file("last_state.json.tmp"));
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Failed to open file for writing: " + dir.file("last_state.json")), std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(dir.file("last_state.json")), "previous");
}

}  // namespace
