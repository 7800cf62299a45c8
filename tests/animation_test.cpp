// The animation log: entries of hand-computable events, as the file presents them.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/simulation_config.h"
#include "persist/animation_log.h"
#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

struct AnimationTest : ::testing::Test {
    void SetUp() override {
        resetAll();
        config.log_animation = true;
    }
    // One current event, whatever stale queue entries come first: they leave no entry.
    json step() {
        const size_t before = animationLog.entries.size();
        const uint64_t push = processNextCurrentEvent().push;
        const json entry = animationEntryJson(animationLog.entries.at(before));
        EXPECT_EQ(entry["index"], before + 1);
        EXPECT_EQ(entry["push_index"], push);
        return entry;
    }
    static void expectNear(const json& entry, std::initializer_list<std::pair<const char*, double>> expected) {
        for (const auto& [key, value] : expected) EXPECT_NEAR(entry[key].get<double>(), value, 1e-12) << key;
    }
};

// Equal spheres (radius 0.05) at speed 2, so that free paths and times differ, meet head-on at
// t = 0.03 at x = 0.46 and 0.56; then 1 leaves its cell up through 2/3, 0 down through 1/3.
TEST_F(AnimationTest, HeadOnCollisionThenFaceCrossings) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.40, 0.5, 0.5}, {2.0, 0.0, 0.0}, 0.05, 1.0);
    placeParticle(1, {0.62, 0.5, 0.5}, {-2.0, 0.0, 0.0}, 0.05, 1.0);
    startEngine();
    const json hit = step();
    const int a = hit["id1"], b = hit["id2"];  // either may have been predicted first
    ASSERT_EQ(a + b, 1);
    const double at[] = {0.46, 0.56}, v[] = {2.0, -2.0};
    EXPECT_EQ(hit["event_type_name"], "Collision");
    expectNear(hit, {{"time", 0.03}, {"p1x", at[a]}, {"p2x", at[b]}, {"p2z", 0.5}, {"v1x_before", v[a]},
                     {"v2x_before", v[b]}, {"v1x_after", v[b]}, {"v2x_after", v[a]}, {"free_path_1", 0.0},
                     {"free_time_2", 0.0}, {"cellX1_before", 1}, {"cellY1_after", 1}});

    const double flight = 2.0 / 3 - 0.56;
    const json up = step();
    expectNear(up, {{"id1", 1}, {"id2", -1}, {"direction", 1}, {"time", 0.03 + flight / 2}, {"p1x", 2.0 / 3},
                    {"v1x_before", 2.0}, {"v1x_after", 2.0}, {"free_path_1", flight}, {"free_time_1", flight / 2},
                    {"cellX1_before", 1}, {"cellX1_after", 2}, {"p2x", 0.0}, {"v2x_after", 0.0}, {"free_path_2", 0.0}});
    EXPECT_NEAR(up["position"][0][0].get<double>(), 0.46 - flight, 1e-12);  // the other one at the clock too
    expectNear(step(), {{"id1", 0}, {"direction", -1}, {"cellX1_after", 0}, {"free_path_1", 0.46 - 1.0 / 3}});
}

// At rest at z = 0.2 under g = 1, the sphere (radius 0.05) lands at t = sqrt(0.3): the
// velocity before is the stored one, the one after is mirrored at the event time.
TEST_F(AnimationTest, FloorContactMirrorsTheVelocityAtTheEventTime) {
    setupBox(1, 1.0, 2, true, 1.0);
    placeParticle(0, {0.25, 0.25, 0.2}, {0.0, 0.0, 0.0}, 0.05, 1.0);
    startEngine();
    expectNear(step(), {{"time", std::sqrt(0.3)}, {"p1z", 0.05}, {"v1z_before", 0.0}, {"v1z_after", std::sqrt(0.3)},
                        {"free_path_1", 0.15}, {"cellZ1_after", 0}});
}

// Nothing processed: an empty array. A log that cannot be written ends the run with its path
// in the message, after the restart file has been written.
TEST(AnimationFileTest, EmptyLogAndLogThatCannotBeWritten) {
    TempDir dir;
    initFolder(dir.path, {"-n", "6", "-p", "0.1", "--set", "log_animation=true", "--set", "max_collision_count=0"});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(readFile(dir.file("animation_entries.json")), "[]\n");
    std::filesystem::create_directory(dir.file("animation_entries.json.tmp"));
    std::filesystem::remove(dir.file("last_state.json"));
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not open file: " + dir.file("animation_entries.json")), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("last_state.json")));
}

}  // namespace
