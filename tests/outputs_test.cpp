// The statistics files of real runs: which files appear, their sizes and first records,
// what a continued run resumes, and the distribution of scattering angles.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "util/format.h"
#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

const double PI = 3.141592653589793;
const int32_t N = 40;

// Two species, every statistics output on; 430 collisions, so that the last flush
// intervals end before the run does.
void makeSamplingRun(const std::string& folder) {
    initFolder(folder, {"-n", std::to_string(N), "-p", "0.1", "--fraction-b", "0.4", "--mass-b", "8e-26", "--seed",
                        "11", "--max-collisions", "430"});
    setConfigKeys(folder, {{"log_state", false},
                     {"sample_scattering_angle", true},
                     {"save_scattering_angle_every", 200},
                     {"sample_collision_angle", true},
                     {"flush_collision_angle_buffer_every", 100},
                     {"sample_pca", true},
                     {"flush_pca_buffer_every", 100},
                     {"log_free_path", true},
                     {"log_collision_velocity", true},
                     {"log_velocity", true},
                     {"stats_after", 0},
                     {"stats_every", 100},
                     {"flush_stats_every", 200},
                     {"species_stats_every", 50},
                     {"flush_species_stats_every", 300},
                     {"save_last_state_every", 150},
                     {"collision_progress_every", 100}});
}

std::vector<std::string> keysOf(const json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

uint64_t instances(const std::string& path) { return readJson(path)["num_instances"]; }

TEST(OutputsTest, SamplingRunWritesEveryFileInItsFormat) {
    TempDir dir;
    makeSamplingRun(dir.path);
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Collisions done: " + std::string(YELLOW) + "100" + RESET + " dT: "), std::string::npos);
    EXPECT_NE(r.out.find("Created \"" + dir.file("velocity") + "\"\n"), std::string::npos);

    // Every sampled record is in its file, including those after the last flush interval.
    const std::vector<double> angles = readDoubles(dir.file("collision_angle.bin"));
    ASSERT_EQ(fileSize(dir.file("collision_angle.bin")), 430u * 48);
    EXPECT_EQ(angles[0], 1.0);
    EXPECT_EQ(angles[6 * 429], 430.0);
    for (size_t k = 0; k < 430; ++k) {
        EXPECT_TRUE(angles[6 * k + 1] == 0.0 || angles[6 * k + 1] == 1.0);
        EXPECT_GE(angles[6 * k + 5], PI / 2 - 1e-12);  // approaching spheres
        EXPECT_LE(angles[6 * k + 5], PI);
    }
    EXPECT_EQ(fileSize(dir.file("pca.bin")), 430u * 32);
    EXPECT_EQ(readDoubles(dir.file("pca.bin"))[4], 2.0);
    const std::vector<double> temperatures = readDoubles(dir.file("species_temperature.bin"));
    ASSERT_EQ(temperatures.size(), 8u * 3);  // at 50, 100, ..., 400
    EXPECT_EQ(temperatures[0], 50.0);
    EXPECT_EQ(temperatures[21], 400.0);
    EXPECT_GT(temperatures[1], 0.0);

    // Velocity samples at 40, 80, ..., 400: all particles, then each species.
    const json particles = readJson(dir.file("particles_config.json"))["particles"];
    uintmax_t speciesB = 0;
    for (const json& p : particles) speciesB += p["species"] == 1;
    ASSERT_GT(speciesB, 0u);
    EXPECT_EQ(fileSize(dir.file("velocity/velocity_x.bin")), 10u * N * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/velocity_z.bin")), 10u * N * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/velocity_x0.bin")), 10u * (N - speciesB) * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/velocity_z1.bin")), 10u * speciesB * 8);
    const std::vector<double> vx = readDoubles(dir.file("velocity/velocity_x.bin"));
    const std::vector<double> vx1 = readDoubles(dir.file("velocity/velocity_x1.bin"));
    for (size_t p = 0, k = 0; p < static_cast<size_t>(N); ++p) {
        if (particles[p]["species"] == 1) {
            EXPECT_EQ(vx1[k++], vx[p]);  // first sample, species b only
        }
    }
    EXPECT_EQ(fileSize(dir.file("velocity/collision_velocity.bin")), 430u * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/particle_collision_velocity.bin")), 860u * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/collision_velocity00.bin")) +
                  fileSize(dir.file("velocity/collision_velocity01.bin")) +
                  fileSize(dir.file("velocity/collision_velocity11.bin")),
              430u * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/particle_collision_velocity0.bin")) +
                  fileSize(dir.file("velocity/particle_collision_velocity1.bin")),
              860u * 8);
    const uintmax_t paths = fileSize(dir.file("free/free_path.bin"));
    EXPECT_EQ(fileSize(dir.file("free/free_time.bin")), paths);
    EXPECT_GT(paths, 0u);
    EXPECT_LT(paths, 860u * 8);  // the first flights after the start are not free paths
    for (double path : readDoubles(dir.file("free/free_path.bin"))) EXPECT_GE(path, 0.0);

    // Histogram files: sorted keys, indent 4, no final newline; profiles at 100 ... 400.
    const std::string text = readFile(dir.file("log_profile.json"));
    const json profile = json::parse(text);
    EXPECT_EQ(text, profile.dump(4));
    EXPECT_EQ(keysOf(profile),
              (std::vector<std::string>{"centers", "counts", "edges", "num_instances", "values", "widths"}));
    EXPECT_EQ(profile["num_instances"], 4);
    EXPECT_EQ(profile["counts"].size(), 100u);
    uint64_t counted = 0;
    for (const json& c : profile["counts"]) counted += c.get<uint64_t>();
    EXPECT_EQ(counted, 4u * N);
    EXPECT_EQ(instances(dir.file("linear_profile.json")), 4u);
    EXPECT_EQ(instances(dir.file("scattering_ab.json")) + instances(dir.file("scattering_aa.json")) +
                  instances(dir.file("scattering_bb.json")),
              430u);
    EXPECT_EQ(instances(dir.file("scattering_ab_loss.json")), instances(dir.file("scattering_ab.json")));
    EXPECT_EQ(instances(dir.file("scattering_ab_gain.json")), 0u);
    EXPECT_EQ(instances(dir.file("approach_ab.json")), instances(dir.file("scattering_ab.json")));
}

TEST(OutputsTest, ContinuedRunResumesProfilesRestartsAnglesAndAppendsSeries) {
    TempDir dir;
    makeSamplingRun(dir.path);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", 600}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(instances(dir.file("log_profile.json")), 6u);  // 4 restored + 500, 600
    EXPECT_EQ(instances(dir.file("scattering_ab.json")) + instances(dir.file("scattering_aa.json")) +
                  instances(dir.file("scattering_bb.json")),
              170u);
    const std::vector<double> angles = readDoubles(dir.file("collision_angle.bin"));
    ASSERT_EQ(angles.size(), 600u * 6);
    EXPECT_EQ(angles[6 * 430], 431.0);
    EXPECT_EQ(fileSize(dir.file("velocity/collision_velocity.bin")), 600u * 8);

    // A profile written with another bin count is refused before anything is touched.
    const std::string restart = readFile(dir.file("last_state.json"));
    setConfigKeys(dir.path, {{"max_collision_count", 700}, {"profile_num_bins", 50}});
    RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in " + dir.file("log_profile.json") +
                         ": key \"edges\" holds 101 values, but the configured bins need 51 (was the file written "
                         "with another profile_num_bins?)\n");
    EXPECT_EQ(readFile(dir.file("last_state.json")), restart);
    // Unless the profiles are not to be resumed at all.
    setConfigKeys(dir.path, {{"reset_stats", true}});
    r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(instances(dir.file("log_profile.json")), 1u);  // 700 only
    EXPECT_EQ(readJson(dir.file("log_profile.json"))["counts"].size(), 50u);
}

TEST(OutputsTest, OneSpeciesWithoutSampling) {
    TempDir dir;
    initFolder(dir.path, {"-n", "32", "-p", "0.1", "--seed", "4", "--max-collisions", "200", "--set",
                          "log_collision_velocity=true", "--set", "collision_progress_every=100"});
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find(" dT: "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("species_temperature.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("free")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("collision_angle.bin")));
    EXPECT_EQ(fileSize(dir.file("velocity/collision_velocity.bin")), 200u * 8);
    EXPECT_EQ(fileSize(dir.file("velocity/particle_collision_velocity.bin")), 400u * 8);
    for (const char* name : {"collision_velocity00.bin", "collision_velocity11.bin", "collision_velocity01.bin",
                             "particle_collision_velocity0.bin", "particle_collision_velocity1.bin"}) {
        EXPECT_EQ(fileSize(dir.file(std::string("velocity/") + name)), 0u) << name;
    }
    // lo then -hi: the first value of each pair is never above the second's negation.
    const std::vector<double> normal = readDoubles(dir.file("velocity/particle_collision_velocity.bin"));
    for (size_t k = 0; k < normal.size(); k += 2) EXPECT_LE(normal[k], -normal[k + 1]);
    // Profiles are written at the end even when never sampled.
    EXPECT_EQ(instances(dir.file("linear_profile.json")), 0u);
}

TEST(OutputsTest, StatisticsFileThatCannotBeWrittenEndsTheRunWithStatusOne) {
    TempDir dir;
    initFolder(dir.path, {"-n", "32", "-p", "0.1", "--seed", "4", "--max-collisions", "200", "--set",
                          "log_velocity=true"});
    writeFile(dir.file("velocity"), "a file where the folder should be");
    const RunResult r = runHardgas(dir.path);
    EXPECT_EQ(r.status, 1);
    const std::string path = dir.file("velocity/velocity_x.bin");
    EXPECT_EQ(r.err, "Error: cannot open file: " + path + "\n\nERROR: Failed to open file: " + path + "\n");
}

// Hard spheres scatter isotropically in the centre-of-mass frame: cos(theta) is uniform,
// so a bin [a, b] of theta holds the fraction (cos a - cos b) / 2 of the collisions. The
// chi-square of 10 classes against that, with 9 degrees of freedom, stays below 27.9
// (the 0.1 % point) unless the dynamics is wrong; the seed is fixed.
TEST(OutputsTest, ScatteringAnglesAreIsotropicInTheCentreOfMassFrame) {
    TempDir dir;
    initFolder(dir.path, {"-n", "300", "-p", "0.05", "--seed", "5", "--max-collisions", "20000", "--set",
                          "log_state=false", "--set", "sample_scattering_angle=true", "--set",
                          "save_scattering_angle_every=20000"});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    for (const char* name : {"scattering_aa.json", "approach_aa.json"}) {
        const json h = readJson(dir.file(name));
        ASSERT_EQ(h["num_instances"], 20000);
        double chiSquare = 0.0;
        for (size_t group = 0; group < 10; ++group) {
            double observed = 0.0;
            for (size_t k = 10 * group; k < 10 * group + 10; ++k) observed += h["counts"][k].get<double>();
            const double a = h["edges"][10 * group], b = h["edges"][10 * group + 10];
            const double expected = 20000.0 * (std::cos(a) - std::cos(b)) / 2.0;
            chiSquare += (observed - expected) * (observed - expected) / expected;
        }
        EXPECT_LT(chiSquare, 27.9) << name;
    }
}

}  // namespace
