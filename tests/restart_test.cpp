// Continuing a run: the saved state comes back exactly, the series continue, and a run
// split in two follows the same trajectory as one run straight through.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "util/format.h"
#include "core/particles.h"
#include "persist/last_state.h"
#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

void makeRun(const std::string& folder, uint64_t collisions, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> options{"-n", "48", "-p", "0.15", "--seed", "8", "--max-collisions",
                                     std::to_string(collisions), "--set", "save_particles_state_every=25", "--set",
                                     "flush_state_buffer_every=50", "--set", "save_last_state_every=300"};
    options.insert(options.end(), extra.begin(), extra.end());
    initFolder(folder, options);
}

void continueTo(const std::string& folder, uint64_t collisions) {
    json c = readJson(folder + "/config.json");
    c["mode"] = "continue";
    c["max_collision_count"] = collisions;
    writeJson(folder + "/config.json", c);
}

TEST(RestartTest, ContinuedRunResumesCountersAndAppendsSnapshots) {
    TempDir dir;
    makeRun(dir.path, 300);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const uintmax_t record = 8 * (1 + 6 * 48);
    EXPECT_EQ(fileSize(dir.file("state.bin")), 13 * record);  // 12 + the end-of-run snapshot

    continueTo(dir.path, 600);
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::string(BLUE) + "Loading last saved particle state..." + RESET + BLUE + " Done.\n" +
                         RESET),
              std::string::npos);
    EXPECT_NE(r.out.find(std::string(RED) + "Starting at RUNTIME: "), std::string::npos);
    EXPECT_NE(r.out.find(" with 300 done collisions.\n"), std::string::npos);
    const json descriptor = readJson(dir.file("state.json"));
    EXPECT_EQ(descriptor["collision_count"], 600);
    EXPECT_EQ(descriptor["states_saved"], 26);
    EXPECT_EQ(fileSize(dir.file("state.bin")), 26 * record);
    EXPECT_EQ(readJson(dir.file("last_state.json"))["collision_count"], 600);
}

// Restoring a saved state and saving it again at once reproduces the file byte for byte:
// every position, velocity, free path, free time and flag, the clock and the count.
TEST(RestartTest, SavedStateIsRestoredExactly) {
    TempDir dir;
    makeRun(dir.path, 300);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const std::string saved = readFile(dir.file("last_state.json"));
    continueTo(dir.path, 300);  // the budget is already spent: the loop ends at once
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(readFile(dir.file("last_state.json")), saved);
}

// last_state.json is written as text without building a document; it must read exactly
// like the JSON library's own printing, also for numbers whose form is unusual.
TEST(RestartTest, RestartFileTextIsTheLibrarysPrinting) {
    TempDir dir;
    resetAll(dir.path);
    setupBox(3, 1e300, 1);
    const double values[] = {-0.0, 5.0, 1e300, 4.9e-324, 1e-5, 123456789012345680.0, 0.1, -2.5e-7, 1e16};
    for (int32_t p = 0; p < 3; ++p) {
        placeParticle(p, {values[3 * p], values[(3 * p + 1) % 9], values[(3 * p + 2) % 9]},
                      {values[(3 * p + 4) % 9], values[(3 * p + 5) % 9], values[(3 * p + 6) % 9]}, 1.0, 1.0);
        sim.motion[static_cast<size_t>(p)].lastAdvanceTime = 1e-9;  // nothing to advance
        sim.freePath[static_cast<size_t>(p)] = values[(p + 7) % 9];
        sim.freeTime[static_cast<size_t>(p)] = values[(p + 8) % 9];
        sim.truePath[static_cast<size_t>(p)] = p % 2;
    }
    sim.simulationTime = 1e-9;
    sim.collisionCount = UINT64_MAX;
    saveLastState();

    json expected = json::object();
    expected["collision_count"] = UINT64_MAX;
    expected["runtime"] = 1e-9;
    for (const char* key : {"posX", "posY", "posZ", "velX", "velY", "velZ", "freePath", "freeTime", "truePath"}) {
        expected[key] = json::array();
    }
    for (size_t p = 0; p < 3; ++p) {
        const ParticleMotion& m = sim.motion[p];
        for (const auto& [key, v] : {std::pair{"posX", m.posX}, {"posY", m.posY}, {"posZ", m.posZ}, {"velX", m.velX},
                                     {"velY", m.velY}, {"velZ", m.velZ}, {"freePath", sim.freePath[p]},
                                     {"freeTime", sim.freeTime[p]}}) {
            expected[key].push_back(v);
        }
        expected["truePath"].push_back(sim.truePath[p] != 0);
    }
    EXPECT_EQ(readFile(dir.file("last_state.json")), expected.dump(4));
}

TEST(RestartTest, SameInputsGiveIdenticalOutputs) {
    TempDir first, second;
    makeRun(first.path, 400, {"--walls", "diffusive", "-g", "1e12"});
    makeRun(second.path, 400, {"--walls", "diffusive", "-g", "1e12"});
    ASSERT_EQ(runHardgas(first.path).status, 0);
    ASSERT_EQ(runHardgas(second.path).status, 0);
    EXPECT_EQ(readFile(first.file("state.bin")), readFile(second.file("state.bin")));
    EXPECT_EQ(readFile(first.file("last_state.json")), readFile(second.file("last_state.json")));
}

// One run of 600 collisions against 300 + 300 with a restart between: the continued run
// rebuilds its queue from the saved state, so only rounding may differ.
TEST(RestartTest, SplitRunFollowsTheStraightRun) {
    TempDir straight, split;
    makeRun(straight.path, 600);
    makeRun(split.path, 300);
    ASSERT_EQ(runHardgas(straight.path).status, 0);
    ASSERT_EQ(runHardgas(split.path).status, 0);
    continueTo(split.path, 600);
    ASSERT_EQ(runHardgas(split.path).status, 0);

    const json a = readJson(straight.file("last_state.json"));
    const json b = readJson(split.file("last_state.json"));
    EXPECT_EQ(a["collision_count"], b["collision_count"]);
    const double L = readJson(straight.file("config.json"))["domain_size"];
    EXPECT_NEAR(a["runtime"].get<double>(), b["runtime"].get<double>(), 1e-9 * a["runtime"].get<double>());
    for (const char* key : {"posX", "posY", "posZ"}) {
        for (size_t p = 0; p < 48; ++p) {
            double d = std::fabs(a[key][p].get<double>() - b[key][p].get<double>());
            d = std::min(d, L - d);  // the same point seen across the periodic boundary
            EXPECT_LT(d, 1e-6 * L) << key << " " << p;
        }
    }
    for (const char* key : {"velX", "velY", "velZ"}) {
        for (size_t p = 0; p < 48; ++p) {
            EXPECT_NEAR(a[key][p].get<double>(), b[key][p].get<double>(), 1e-6 * 400.0) << key << " " << p;
        }
    }
}

}  // namespace
