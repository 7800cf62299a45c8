// Steering through alter.json: what one poll changes (and refuses), and what a real run
// does with a stop request, changed values, a profile reset and broken files.

#include <gtest/gtest.h>

#include <functional>

#include "app/alterations.h"
#include "app/config.h"
#include "util/format.h"
#include "stats/collision_stats.h"
#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

class AlterationTest : public ::testing::Test {
   protected:
    void SetUp() override {
        resetAll(dir.path);
        config.max_collision_count = 1000000;
        config.collision_progress_every = 1000;
        config.save_particles_state_every = 40;
        config.flush_state_buffer_every = 40;
        config.stats_after = 0;
        config.profile_num_bins = 4;
        config.domain_size = 1.0;
        config.min_radius = 0.1;
        buildAccumulators();
    }
    // Polls once; returns what the poll wrote to standard error.
    std::string poll(const std::string& text) {
        writeFile(dir.file("alter.json"), text);
        ::testing::internal::CaptureStderr();
        applyAlterations();
        return ::testing::internal::GetCapturedStderr();
    }
    TempDir dir;
};

TEST_F(AlterationTest, StateFlushIntervalFollowsTheSnapshotInterval) {
    EXPECT_EQ(poll(R"({"flush_state_buffer_every": 10})"), "");
    EXPECT_EQ(config.flush_state_buffer_every, 40);

    config.flush_state_buffer_every = 50;
    EXPECT_EQ(poll(R"({"save_particles_state_every": 100})"), "");
    EXPECT_EQ(config.save_particles_state_every, 100u);
    EXPECT_EQ(config.flush_state_buffer_every, 100);
}

TEST_F(AlterationTest, EveryAlterableKeyIsAppliedAndNoOther) {
    const json values = {{"save_last_state_every", 11},
                         {"stats_after", 12},
                         {"stats_every", 13},
                         {"species_stats_after", 14},
                         {"species_stats_every", 15},
                         {"flush_species_stats_every", 16},
                         {"flush_stats_every", 17},
                         {"log_state", false},
                         {"save_particles_state_every", 18},
                         {"flush_state_buffer_every", 19},
                         {"purge_queue_above", 2.5},
                         {"sample_pca_after", 20},
                         {"sample_pca_until", 21},
                         {"flush_pca_buffer_every", 22},
                         {"sample_collision_angle", true},
                         {"sample_collision_angle_after", 23},
                         {"sample_collision_angle_until", 24},
                         {"flush_collision_angle_buffer_every", 25},
                         {"g", 3.0},
                         {"check_alter_every", 7},
                         {"sample_pca", true},
                         {"mode", "init"}};
    SimulationConfig expected = config;
    expected.save_last_state_every = 11;
    expected.stats_after = 12;
    expected.stats_every = 13;
    expected.species_stats_after = 14;
    expected.species_stats_every = 15;
    expected.flush_species_stats_every = 16;
    expected.flush_stats_every = 17;
    expected.log_state = false;
    expected.save_particles_state_every = 18;
    expected.flush_state_buffer_every = 19;
    expected.purge_queue_above = 2.5;
    expected.sample_pca_after = 20;
    expected.sample_pca_until = 21;
    expected.flush_pca_buffer_every = 22;
    expected.sample_collision_angle = true;
    expected.sample_collision_angle_after = 23;
    expected.sample_collision_angle_until = 24;
    expected.flush_collision_angle_buffer_every = 25;
    EXPECT_EQ(poll(values.dump()), "");
    EXPECT_TRUE(config == expected);
    EXPECT_FALSE(alterations.stopRequested);

    const SimulationConfig before = config;
    EXPECT_EQ(poll("{}"), "");
    EXPECT_TRUE(config == before);
}

TEST_F(AlterationTest, ResetStatsByPresenceEmptiesBothProfiles) {
    collisionStats.logProfile.add({0.2, 0.5}, {1.0, 2.0});
    collisionStats.linearProfile.add({0.2, 0.5}, {1.0, 2.0});
    EXPECT_EQ(poll(R"({"reset_stats": false})"), "");
    for (const Histogram* h : {&collisionStats.logProfile, &collisionStats.linearProfile}) {
        EXPECT_EQ(h->num_instances, 0u);
        for (size_t k = 0; k < h->counts.size(); ++k) {
            EXPECT_EQ(h->counts[k], 0u);
            EXPECT_EQ(h->values[k], 0.0);
        }
    }
    EXPECT_FALSE(config.reset_stats);
}

TEST_F(AlterationTest, StopIsSetAndClearedByItsValue) {
    EXPECT_EQ(poll(R"({"stop": true})"), "");
    EXPECT_TRUE(alterations.stopRequested);
    EXPECT_EQ(poll(R"({"stop": false})"), "");
    EXPECT_FALSE(alterations.stopRequested);
}

// A broken file is reported and changes nothing, not even the keys before the bad one.
TEST_F(AlterationTest, BrokenFilesChangeNothing) {
    struct Case {
        std::string text;
        std::string message;  // after "Error in PATH: "
        std::function<void()> prepare = [] {};
    };
    const Case cases[] = {
        {R"({"save_last_state_every": 5, "stop": "yes"})",
         "key \"stop\": type must be boolean, but is string; nothing was changed\n"},
        {R"({"stats_every": 2.5e10})",
         "key \"stats_every\": 25000000000.0 is outside the range of this integer (-2147483648 to 2147483647); "
         "nothing was changed\n"},
        {R"({"sample_pca_after": -1})",
         "key \"sample_pca_after\": -1 is outside the range of this integer (0 to 18446744073709551615); "
         "nothing was changed\n"},
        {R"({"purge_queue_above": null})", "key \"purge_queue_above\": type must be number, but is null; nothing was changed\n"},
        {R"({"stats_every": 0})",
         "key \"stats_every\" is a collision interval and must be at least 1, but is 0; nothing was changed\n"},
        {R"({"save_last_state_every": -3})",
         "key \"save_last_state_every\" is a collision interval and must be at least 1, but is -3; nothing was "
         "changed\n"},
        // An interval that only matters once its feature is switched on is checked then.
        {R"({"sample_collision_angle": true})",
         "key \"flush_collision_angle_buffer_every\" is a collision interval and must be at least 1, but is 0; "
         "nothing was changed\n",
         [] { config.flush_collision_angle_buffer_every = 0; }},
        {"[1, 2]", "the top level must be a JSON object; nothing was changed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SetUp();
        c.prepare();
        const SimulationConfig before = config;
        EXPECT_EQ(poll(c.text), "Error in " + dir.file("alter.json") + ": " + c.message);
        EXPECT_TRUE(config == before);
        EXPECT_FALSE(alterations.stopRequested);
    }

    const std::string err = poll(R"({"stop": tru)");
    EXPECT_EQ(err.rfind("Error parsing " + dir.file("alter.json") + ": [json.exception.parse_error.101]", 0), 0u)
        << err;
    EXPECT_FALSE(alterations.stopRequested);
}

// --- Through the real binary -------------------------------------------------------

uint64_t savedCollisions(const TempDir& dir) { return readJson(dir.file("last_state.json"))["collision_count"]; }

TEST(SteeringRunTest, StopRequestEndsTheRunCleanlyAndTheRunCanBeContinued) {
    TempDir dir;
    initFolder(dir.path, {"-n", "200", "-p", "0.1", "--max-collisions", "100000000"});
    setConfigKeys(dir.path, {{"check_alter_every", 500}, {"log_state", false}});
    writeFile(dir.file("alter.json"), R"({"stop": true})");
    const RunResult stopped = runHardgas(dir.path);
    ASSERT_EQ(stopped.status, 0) << stopped.err;
    const std::string stopping = std::string(RED) + "\nStopping..." + RESET;
    const size_t at = stopped.out.find(stopping);
    ASSERT_NE(at, std::string::npos) << stopped.out;
    const std::string done = std::string(RED) + " Done.\n" + RESET;
    EXPECT_EQ(stopped.out.substr(stopped.out.size() - done.size()), done);
    const uint64_t count = savedCollisions(dir);
    EXPECT_EQ(count % 500, 0u);
    EXPECT_LT(count, 100000000u);

    // The file stays, and stops a continued run too until it is removed.
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", count + 3000}});
    std::filesystem::remove(dir.file("alter.json"));
    const RunResult continued = runHardgas(dir.path);
    ASSERT_EQ(continued.status, 0) << continued.err;
    EXPECT_EQ(continued.out.find("Stopping..."), std::string::npos);
    EXPECT_EQ(savedCollisions(dir), count + 3000);
}

// A continued run from 1234 collisions with polls every 1000 reads alter.json first at
// 2000: the collision-angle samples up to 2000 are all there and none after it, and the
// profile reset at 2000 leaves only the passes at 2100 ... 2900.
TEST(SteeringRunTest, ChangesTakeEffectAfterThePollAndNotBefore) {
    TempDir dir;
    initFolder(dir.path, {"-n", "100", "-p", "0.1", "--max-collisions", "1234"});
    setConfigKeys(dir.path, {{"check_alter_every", 1000},
                             {"log_state", false},
                             {"sample_collision_angle", true},
                             {"sample_collision_angle_until", 1000000000},
                             {"flush_collision_angle_buffer_every", 100},
                             {"stats_after", 0},
                             {"stats_every", 100},
                             {"flush_stats_every", 100}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(readJson(dir.file("log_profile.json"))["num_instances"], 12);

    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", 2900}});
    writeFile(dir.file("alter.json"), R"({"sample_collision_angle": false, "reset_stats": false})");
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const std::vector<double> records = readDoubles(dir.file("collision_angle.bin"));
    ASSERT_EQ(records.size(), 6u * 2000);
    for (size_t k = 0; k < 2000; ++k) ASSERT_EQ(records[6 * k], double(k + 1));
    for (const char* name : {"log_profile.json", "linear_profile.json"}) {
        const json profile = readJson(dir.file(name));
        EXPECT_EQ(profile["num_instances"], 9) << name;
        uint64_t counted = 0;
        for (uint64_t n : profile["counts"]) counted += n;
        EXPECT_EQ(counted, 9u * 100) << name;
    }
}

TEST(SteeringRunTest, BrokenAlterFilesAreReportedAndTheRunGoesOn) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"stop": true)", ": [json.exception.parse_error.101] parse error"},
        {R"({"stop": "yes"})", ": key \"stop\": type must be boolean, but is string; nothing was changed\n"},
        {R"({"save_last_state_every": 0, "stop": true})",
         ": key \"save_last_state_every\" is a collision interval and must be at least 1, but is 0; nothing was "
         "changed\n"},
        {"\"stop\"", ": the top level must be a JSON object; nothing was changed\n"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        TempDir dir;
        initFolder(dir.path, {"-n", "60", "-p", "0.1", "--max-collisions", "300"});
        setConfigKeys(dir.path, {{"check_alter_every", 100}, {"log_state", false}});
        writeFile(dir.file("alter.json"), text);
        const RunResult r = runHardgas(dir.path);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(dir.file("alter.json") + message), std::string::npos) << r.err;
        EXPECT_EQ(savedCollisions(dir), 300u);
        EXPECT_EQ(r.out.find("Stopping..."), std::string::npos);
    }
}

}  // namespace
