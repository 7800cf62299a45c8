// The real hardgas binary on small solution folders: console texts, fatal errors, and the
// exact layout of the files a run leaves behind.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "util/format.h"
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

void setConfig(const std::string& folder, const char* key, const json& value) {
    editJson(folder + "/config.json", [&](json& c) { c[key] = value; });
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
