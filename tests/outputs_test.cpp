// Whole runs: the records reach their files, agree with the physics, and a continued run reads back.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "tests/support.h"

using namespace testing_support;
using std::numbers::pi;

namespace {

uint64_t instances(const TempDir& dir, const char* name) { return readJson(dir.file(name))["num_instances"]; }

TEST(OutputsTest, EveryRecordReachesItsFileAndAContinuedRunReadsBackWhatItMust) {
    const uint64_t N = 200, C = 20000;
    TempDir dir;
    initFolder(dir.path, {"-n", "200", "-p", "0.05", "--seed", "5", "--max-collisions", "20000"});
    setConfigKeys(dir.path, {{"log_state", false}, {"log_free_path", true}, {"sample_scattering_angle", true},
                             {"save_scattering_angle_every", 3000}, {"sample_collision_angle", true},
                             {"flush_collision_angle_buffer_every", 3000}, {"stats_after", 0},
                             {"stats_every", 1000}, {"flush_stats_every", 3000}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(fileSize(dir.file("collision_angle.bin")), 8 * 6 * C);  // the last 2000 come with the run's end
    EXPECT_EQ(fileSize(dir.file("free/free_path.bin")), 8 * (2 * C - N));  // no first flight is a free path

    // Hard spheres scatter isotropically in the centre-of-mass frame: [a, b] of theta holds (cos a
    // - cos b) / 2 of the collisions; 27.9 is the 0.1 % point of chi-square, 9 degrees of freedom.
    for (const char* name : {"scattering_aa.json", "approach_aa.json"}) {
        const auto counts = readJson(dir.file(name))["counts"].get<std::vector<double>>();
        double chiSquare = 0.0;
        for (size_t g = 0; g < 10; ++g) {
            double observed = 0.0;
            for (size_t k = 10 * g; k < 10 * g + 10; ++k) observed += counts.at(k);
            const double expected = C * (std::cos(g * pi / 10) - std::cos((g + 1) * pi / 10)) / 2;
            chiSquare += (observed - expected) * (observed - expected) / expected;
        }
        EXPECT_LT(chiSquare, 27.9) << name;
    }

    // Continued: the profiles are read back, and carried-over flights end in free paths.
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", C + 2000}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(instances(dir, "linear_profile.json"), C / 1000 + 2);
    EXPECT_EQ(fileSize(dir.file("free/free_path.bin")), 8 * (2 * (C + 2000) - N));
    // With reset_stats nothing is read back, so profiles of another bin count are no obstacle.
    setConfigKeys(dir.path, {{"max_collision_count", C + 3000}, {"profile_num_bins", 50}, {"reset_stats", true}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(instances(dir, "log_profile.json"), 1u);
    // A sample file that cannot be opened ends the run, naming it.
    setConfigKeys(dir.path, {{"max_collision_count", C + 3400}, {"log_velocity", true}});
    const std::string path = dir.file("velocity/velocity_x.bin");
    std::filesystem::create_directory(path);
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: cannot open file: " + path + "\n\nERROR: Failed to open file: " + path + "\n");
}

}  // namespace
