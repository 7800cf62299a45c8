// The animation log: entries of hand-computable events (a head-on collision, face
// crossings, a floor contact), and the file a real run writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/config.h"
#include "core/events.h"
#include "core/particles.h"
#include "persist/animation_log.h"
#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

class AnimationTest : public ::testing::Test {
   protected:
    void SetUp() override { resetAll(dir.path); }
    // One current event; every particle must be current afterwards, and the entry is
    // the event's own.
    const AnimationEntry& step() {
        const size_t before = animationLog.entries.size();
        const ProcessedEvent e = processNextCurrentEvent();
        EXPECT_EQ(animationLog.entries.size(), before + 1);
        for (const ParticleMotion& m : sim.motion) EXPECT_EQ(m.lastAdvanceTime, sim.simulationTime);
        const AnimationEntry& entry = animationLog.entries.back();
        EXPECT_EQ(entry.push, e.push);
        EXPECT_EQ(entry.time, e.time);
        EXPECT_EQ(entry.type, e.type);
        EXPECT_EQ(entry.id1, e.i);
        EXPECT_EQ(entry.id2, e.j);
        return entry;
    }
    TempDir dir;
};

void expectVec(const Vec3& v, double x, double y, double z, double tolerance = 1e-12) {
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

// Two equal spheres (radius 0.05) meet head-on at t = 0.06 at x = 0.46 and 0.56 and swap
// velocities; then particle 1 leaves its cell upwards at 2/3, particle 0 downwards at 1/3.
TEST_F(AnimationTest, HeadOnCollisionThenFaceCrossings) {
    setupBox(2, 1.0, 3);
    config.log_animation = true;
    placeParticle(0, {0.40, 0.5, 0.5}, {1.0, 0.0, 0.0}, 0.05, 1.0);
    placeParticle(1, {0.62, 0.5, 0.5}, {-1.0, 0.0, 0.0}, 0.05, 1.0);
    startEngine();

    const AnimationEntry collision = step();
    EXPECT_EQ(collision.index, 1);
    EXPECT_EQ(collision.name, "Collision");
    EXPECT_EQ(collision.direction, NO_DIR);
    EXPECT_NEAR(collision.time, 0.06, 1e-12);
    const double sign = collision.id1 == 0 ? 1.0 : -1.0;  // which of the two was predicted first
    EXPECT_EQ(collision.id2, 1 - collision.id1);
    expectVec(collision.p1, collision.id1 == 0 ? 0.46 : 0.56, 0.5, 0.5);
    expectVec(collision.p2, collision.id1 == 0 ? 0.56 : 0.46, 0.5, 0.5);
    expectVec(collision.v1Before, sign, 0, 0);
    expectVec(collision.v2Before, -sign, 0, 0);
    expectVec(collision.v1After, -sign, 0, 0);
    expectVec(collision.v2After, sign, 0, 0);
    EXPECT_EQ(collision.freePath1, 0.0);
    EXPECT_EQ(collision.freePath2, 0.0);
    EXPECT_EQ(collision.freeTime1, 0.0);
    EXPECT_EQ(collision.freeTime2, 0.0);
    EXPECT_EQ(collision.cellX1Before, 1);
    EXPECT_EQ(collision.cellX1After, 1);
    ASSERT_EQ(collision.positions.size(), 2u);
    ASSERT_EQ(collision.velocities.size(), 2u);
    expectVec(collision.positions[0], 0.46, 0.5, 0.5);
    expectVec(collision.velocities[1], 1.0, 0, 0);

    // The partner's copy of the collision is stale when it surfaces: no entry for it.
    const AnimationEntry up = step();
    EXPECT_EQ(up.index, 2);
    EXPECT_EQ(up.name, "Boundary X");
    EXPECT_EQ(up.id1, 1);
    EXPECT_EQ(up.id2, -1);
    EXPECT_EQ(up.direction, +1);
    EXPECT_NEAR(up.time, 0.06 + (2.0 / 3 - 0.56), 1e-12);
    expectVec(up.p1, 2.0 / 3, 0.5, 0.5);
    expectVec(up.v1Before, 1, 0, 0);
    expectVec(up.v1After, 1, 0, 0);
    expectVec(up.p2, 0, 0, 0, 0.0);
    expectVec(up.v2Before, 0, 0, 0, 0.0);
    expectVec(up.v2After, 0, 0, 0, 0.0);
    EXPECT_NEAR(up.freePath1, 2.0 / 3 - 0.56, 1e-12);
    EXPECT_NEAR(up.freeTime1, 2.0 / 3 - 0.56, 1e-12);
    EXPECT_EQ(up.freePath2, 0.0);
    EXPECT_EQ(up.cellX1Before, 1);
    EXPECT_EQ(up.cellX1After, 2);
    EXPECT_EQ(up.positions[1].x, 2.0 / 3 * 1.0);  // snapped onto the face
    EXPECT_NEAR(up.positions[0].x, 0.46 - (2.0 / 3 - 0.56), 1e-12);

    const AnimationEntry down = step();
    EXPECT_EQ(down.index, 3);
    EXPECT_EQ(down.id1, 0);
    EXPECT_EQ(down.direction, -1);
    EXPECT_EQ(down.cellX1Before, 1);
    EXPECT_EQ(down.cellX1After, 0);
    // Both were pushed right after the collision, in the order i, j, whatever the order
    // in which they happen.
    EXPECT_GT(std::min(up.push, down.push), collision.push);
    EXPECT_EQ(std::max(up.push, down.push), std::min(up.push, down.push) + 1);
    EXPECT_EQ(animationLog.eventCount, 3u);
}

// At rest at z = 0.2 under g = 1, the sphere (radius 0.05) lands at t = sqrt(0.3). The
// before velocity is the stored one (0 at t = 0); the after velocity is the mirrored
// velocity at the event time.
TEST_F(AnimationTest, FloorContactMirrorsTheVelocityAtTheEventTime) {
    setupBox(1, 1.0, 2, true, 1.0);
    config.log_animation = true;
    placeParticle(0, {0.25, 0.25, 0.2}, {0.0, 0.0, 0.0}, 0.05, 1.0);
    startEngine();
    const AnimationEntry land = step();
    const double t = std::sqrt(0.3);
    EXPECT_EQ(land.name, "Land");
    EXPECT_EQ(land.direction, NO_DIR);
    EXPECT_NEAR(land.time, t, 1e-12);
    expectVec(land.p1, 0.25, 0.25, 0.05);
    expectVec(land.v1Before, 0, 0, 0, 0.0);
    expectVec(land.v1After, 0, 0, t);
    EXPECT_NEAR(land.freePath1, 0.15, 1e-12);
    EXPECT_EQ(land.cellZ1Before, 0);
    EXPECT_EQ(land.cellZ1After, 0);
    expectVec(land.positions[0], 0.25, 0.25, 0.05);
}

// --- The file of a real run -----------------------------------------------------------

TEST(AnimationFileTest, RealRunWritesEveryEventInTheLibrarysPrettyPrint) {
    TempDir dir;
    initFolder(dir.path, {"-n", "6", "-p", "0.1", "--max-collisions", "20"});
    setConfigKeys(dir.path, {{"log_animation", true}});
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = readFile(dir.file("animation_entries.json"));
    const json entries = json::parse(text);
    EXPECT_EQ(text, entries.dump(2) + "\n");
    ASSERT_GE(entries.size(), 20u);
    int collisions = 0;
    for (size_t k = 0; k < entries.size(); ++k) {
        const json& e = entries[k];
        EXPECT_EQ(e["index"], k + 1);
        EXPECT_EQ(e["position"].size(), 6u);
        EXPECT_EQ(e["velocity"].size(), 6u);
        EXPECT_EQ(e["position"][0].size(), 3u);
        if (e["event_type"] == 0) {
            ++collisions;
            EXPECT_TRUE(e["direction"].is_null());
            EXPECT_EQ(e["free_path_1"], 0.0);
        } else {
            EXPECT_EQ(e["id2"], -1);
            EXPECT_TRUE(e["direction"] == 1 || e["direction"] == -1);
            EXPECT_TRUE(e["v2x_before"].is_number_float());
        }
    }
    EXPECT_EQ(collisions, 20);
    // An integral double keeps its ".0", so an unset velocity reads as a float.
    EXPECT_NE(text.find("\"free_path_2\": 0.0,\n"), std::string::npos);

    // Nothing processed: an empty array. A file that cannot be written ends the run with
    // the path in the message, after the restart file has been written.
    setConfigKeys(dir.path, {{"mode", "init"}, {"max_collision_count", 0}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(readFile(dir.file("animation_entries.json")), "[]\n");
    std::filesystem::create_directory(dir.file("animation_entries.json.tmp"));
    std::filesystem::remove(dir.file("last_state.json"));
    const RunResult blocked = runHardgas(dir.path);
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("Could not open file: " + dir.file("animation_entries.json")), std::string::npos)
        << blocked.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("last_state.json")));
}

}  // namespace
