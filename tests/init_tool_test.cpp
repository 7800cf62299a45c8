// hardgas-init: the starting states it writes are valid inputs for hardgas.

#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>

#include "tests/support.h"

using namespace testing_support;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

TEST(InitToolTest, TwoSpeciesBetweenWallsStartWithoutOverlapAtTheGivenTemperature) {
    TempDir dir;
    initFolder(dir.path, {"-n", "200", "-p", "0.2", "--fraction-b", "0.25", "--diameter-b", "5e-10", "--mass-b",
                          "8e-26", "--walls", "reflective", "-g", "9.8", "-T", "300", "--seed", "3"});
    const json config = readJson(dir.file("config.json"));
    const json species = readJson(dir.file("particles_config.json"))["particles"];
    const json init = readJson(dir.file("particles_init.json"))["particles"];
    ASSERT_EQ(init.size(), 200u);
    const double L = config["domain_size"];
    const int cells = config["cells_per_dimension"];
    EXPECT_TRUE(L / cells >= 5e-10 && L / (cells + 1) < 5e-10) << cells;  // dense: as many cells as the largest sphere allows
    // Dilute: fewer, wider cells that hold about a fifth of a particle each.
    TempDir dilute;
    initFolder(dilute.path, {"-n", "2000", "-p", "0.01", "--max-collisions", "10"});
    const json diluteConfig = readJson(dilute.file("config.json"));
    const double width = std::cbrt(0.2 * std::pow(diluteConfig["domain_size"].get<double>(), 3) / 2000);
    const int diluteCells = diluteConfig["cells_per_dimension"];
    EXPECT_TRUE(diluteConfig["domain_size"].get<double>() / diluteCells >= width &&
                diluteConfig["domain_size"].get<double>() / (diluteCells + 1) < width)
        << diluteCells;

    int speciesB = 0;
    double momentum[3] = {}, momentumScale = 0, kinetic = 0;
    for (size_t k = 0; k < 200; ++k) {
        speciesB += species[k]["species"] == 1;
        const double m = species[k]["mass"], r = species[k]["diameter"].get<double>() / 2;
        const std::vector<double> v = init[k]["velocity"], p = init[k]["position"];
        for (int a = 0; a < 3; ++a) momentum[a] += m * v[a];
        momentumScale += m * std::hypot(v[0], v[1], v[2]);
        kinetic += 0.5 * m * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        EXPECT_TRUE(p[2] >= r && p[2] <= L - r) << k;
        for (size_t q = 0; q < k; ++q) {  // periodic in x and y only
            double d2 = 0;
            for (int a = 0; a < 3; ++a) {
                const double d = std::fabs(p[a] - init[q]["position"][a].get<double>());
                d2 += std::pow(a < 2 ? std::min(d, L - d) : d, 2);
            }
            EXPECT_GT(std::sqrt(d2), r + species[q]["diameter"].get<double>() / 2) << k << " and " << q << " overlap";
        }
    }
    EXPECT_EQ(speciesB, 50);
    EXPECT_LT(std::fabs(momentum[0]) + std::fabs(momentum[1]) + std::fabs(momentum[2]), 1e-12 * momentumScale);
    EXPECT_NEAR(kinetic / (1.5 * 200 * 1.380649e-23 * 300), 1.0, 1e-12);
    EXPECT_EQ(runHardgas(dir.path).status, 0);
}

// hardgas's own cadences are made for long runs: on a short budget a snapshot every N/20
// collisions writes two thousand of them and the profiles begin after the end.
TEST(InitToolTest, DefaultsFitTheBudgetAndArePrinted) {
    TempDir dir;
    const RunResult init = runCommand({HARDGAS_INIT_BINARY, dir.path, "-n", "200", "-p", "0.1", "--max-collisions", "20000"});
    ASSERT_EQ(init.status, 0) << init.err;
    EXPECT_NE(init.out.find("Snapshots: save_particles_state_every = 200 collisions (about 101 snapshots, 0.97 MB in state.bin)\n"
                            "Height profiles: stats_after = 2000, stats_every = 200 collisions\n"
                            "Change any of them with --set KEY=VALUE.\n"
                            "Disk: about 1.01 MB of outputs for the budget (state.bin 0.97 MB, thermo.csv 0.04 MB)\n"),
              std::string::npos)
        << init.out;
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_LE(readJson(dir.file("state.json"))["states_saved"].get<int>(), 101);
    EXPECT_EQ(readJson(dir.file("linear_profile.json"))["num_instances"], 90);

    // A profile pass brings every particle to the clock: a large system is passed over at most
    // once every N/10 collisions, whatever the budget.
    TempDir large;
    const RunResult big = runCommand({HARDGAS_INIT_BINARY, large.path, "-n", "120000", "-p", "0.3", "--max-collisions", "5000000"});
    ASSERT_EQ(big.status, 0) << big.err;
    EXPECT_NE(big.out.find("Height profiles: stats_after = 500000, stats_every = 12000 collisions\n"), std::string::npos) << big.out;
}

// Replicas of a study with thermal walls must differ in the walls' random numbers, not only
// in the starting state: hardgas-init's --seed sets the walls' seed too. The same seed still
// repeats a run bit for bit, and a config.json without the key keeps the generator's old
// fixed start.
TEST(InitToolTest, TheWallSeedGivesEachReplicaItsOwnWallNoise) {
    TempDir dir;
    const std::string first = dir.path + "/first";
    initFolder(first, {"-n", "100", "-p", "0.05", "--walls", "diffusive", "--seed", "4", "--max-collisions", "3000",
                       "--set", "log_state=false"});
    EXPECT_EQ(readJson(first + "/config.json")["wall_seed"], 4) << "--seed must seed the walls too";
    const auto copyWithWallSeed = [&](const std::string& name, const json& seed) {
        fs::copy(first, dir.path + "/" + name);
        json config = readJson(dir.path + "/" + name + "/config.json");
        if (seed.is_null()) {
            config.erase("wall_seed");
        } else {
            config["wall_seed"] = seed;
        }
        writeJson(dir.path + "/" + name + "/config.json", config);
        return dir.path + "/" + name;
    };
    const std::string same = copyWithWallSeed("same", 4), other = copyWithWallSeed("other", 5);
    const std::string unset = copyWithWallSeed("unset", nullptr), standard = copyWithWallSeed("standard", 5489);
    for (const std::string& folder : {first, same, other, unset, standard}) ASSERT_EQ(runHardgas(folder).status, 0) << folder;
    const auto velocities = [](const std::string& folder) { return readJson(folder + "/last_state.json")["velX"]; };
    EXPECT_EQ(velocities(first), velocities(same));
    EXPECT_NE(velocities(first), velocities(other));
    EXPECT_EQ(velocities(unset), velocities(standard));
    EXPECT_NE(velocities(unset), velocities(first));
}

TEST(InitToolTest, UnusableOptionsAreRefusedWithStatusOne) {
    TempDir dir;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-p", "0.1"}, "--particles is required"},
        {{"-n", "10", "-p", "0.1", "-g", "9.8"}, "hardgas-init: gravity needs reflective or diffusive z walls\n"},
        {{"-n", "1000", "-p", "0.6"}, "do not fit on a lattice"},
        {{"-n", "10", "-p", "0.1", "--max-collisions", "0"}, "hardgas-init: --max-collisions must be at least 1 (leave it out for ten per particle)\n"},
        {{"-n", "10", "-p", "0.1", "--set", "stats_evry=3"}, "hardgas-init: --set key \"stats_evry\" is not known; did you mean \"stats_every\"?\n"},
        {{"-n", "10", "-p", "0.1", "--set", "colour=3"}, "hardgas-init: --set key \"colour\" is not known\n"},
        {{"-n", "10", "-p", "0.1", "--set", "log_state=1"}, "hardgas-init: --set key \"log_state\": type must be boolean, but is number\n"},
        {{"-n", "10", "-p", "0.1", "--set", "profile_num_bins=0"}, "hardgas-init: --set key \"profile_num_bins\" must be at least 1, but is 0\n"},
        {{"-n", "40000", "-p", "0.1", "--max-collisions", "100000000", "--set", "save_particles_state_every=1000"},
         "hardgas-init: the outputs would take about 192 GB on disk, more than 10 GB: lower the cadences or the budget, or pass --force\n"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args{HARDGAS_INIT_BINARY, dir.path};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = runCommand(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path + "/config.json")) << message;
    }
}

}  // namespace
