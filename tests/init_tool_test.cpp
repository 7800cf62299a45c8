// hardgas-init: the starting states it writes are valid inputs for hardgas.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;

namespace {

TEST(InitToolTest, TwoSpeciesBetweenWallsStartWithoutOverlapAtTheGivenTemperature) {
    TempDir dir;
    initFolder(dir.path, {"-n", "200", "-p", "0.2", "--fraction-b", "0.25", "--diameter-b", "5e-10", "--mass-b",
                          "8e-26", "--walls", "reflective", "-g", "9.8", "-T", "300", "--seed", "3"});
    const json config = readJson(dir.file("config.json"));
    const json species = readJson(dir.file("particles_config.json"))["particles"];
    const json init = readJson(dir.file("particles_init.json"))["particles"];
    ASSERT_EQ(species.size(), 200u);
    ASSERT_EQ(init.size(), 200u);
    EXPECT_EQ(config["reflective_z"], true);
    EXPECT_EQ(config["g"], 9.8);

    const double L = config["domain_size"];
    const int cells = config["cells_per_dimension"];
    EXPECT_GE(L / cells, 5e-10);
    EXPECT_LT(L / (cells + 1), 5e-10);

    int speciesB = 0;
    double px = 0, py = 0, pz = 0, momentumScale = 0, kinetic = 0;
    for (size_t k = 0; k < 200; ++k) {
        const bool b = species[k]["species"] == 1;
        speciesB += b;
        EXPECT_EQ(species[k]["diameter"].get<double>(), b ? 5e-10 : 3.7e-10);
        const double m = species[k]["mass"], r = species[k]["diameter"].get<double>() / 2;
        const json& v = init[k]["velocity"];
        px += m * v[0].get<double>();
        py += m * v[1].get<double>();
        pz += m * v[2].get<double>();
        momentumScale += m * std::hypot(v[0].get<double>(), v[1].get<double>(), v[2].get<double>());
        kinetic += 0.5 * m * (std::pow(v[0].get<double>(), 2) + std::pow(v[1].get<double>(), 2) +
                              std::pow(v[2].get<double>(), 2));
        const json& p = init[k]["position"];
        EXPECT_GE(p[2].get<double>(), r);
        EXPECT_LE(p[2].get<double>(), L - r);
        for (size_t q = 0; q < k; ++q) {  // periodic in x and y only
            double d2 = 0;
            for (int a = 0; a < 3; ++a) {
                double d = std::fabs(p[a].get<double>() - init[q]["position"][a].get<double>());
                if (a < 2) d = std::min(d, L - d);
                d2 += d * d;
            }
            const double sigma = r + species[q]["diameter"].get<double>() / 2;
            EXPECT_GT(std::sqrt(d2), sigma) << k << " and " << q << " overlap";
        }
    }
    EXPECT_EQ(speciesB, 50);
    EXPECT_LT(std::fabs(px) + std::fabs(py) + std::fabs(pz), 1e-12 * momentumScale);
    EXPECT_NEAR(kinetic / (1.5 * 200 * 1.380649e-23 * 300), 1.0, 1e-12);
    EXPECT_EQ(runHardgas(dir.path).status, 0);
}

TEST(InitToolTest, UnusableOptionsAreRefusedWithStatusOne) {
    TempDir dir;
    RunResult r = runCommand({HARDGAS_INIT_BINARY, dir.path, "-p", "0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--particles is required"), std::string::npos) << r.err;
    r = runCommand({HARDGAS_INIT_BINARY, dir.path, "-n", "10", "-p", "0.1", "-g", "9.8"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "hardgas-init: gravity needs reflective or diffusive z walls\n");
    r = runCommand({HARDGAS_INIT_BINARY, dir.path, "-n", "1000", "-p", "0.6"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("do not fit on a lattice"), std::string::npos) << r.err;
}

}  // namespace
