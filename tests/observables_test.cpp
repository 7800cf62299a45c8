// What users measure, read back: the thermo table and the summary held against theory (the
// compressibility factor of a dense gas against the virial series, the pressures on the floor
// and ceiling of a dilute column against the barometric ideal gas and the weight of the gas;
// tolerances four standard errors of block averages over the rows), and the per-species and
// free-path height profiles against the outputs they are made from.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "tests/support.h"

using namespace testing_support;

namespace {

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
    std::vector<double> column(const std::string& name, size_t skip) const {
        const size_t k = static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
        EXPECT_LT(k, header.size()) << name;
        std::vector<double> values;
        for (size_t r = skip; r < rows.size() && k < header.size(); ++r) values.push_back(rows[r][k]);
        return values;
    }
};

Table readTable(const std::string& path) {
    std::istringstream text(readFile(path));
    Table t;
    std::string line, cell;
    for (bool first = true; std::getline(text, line); first = false) {
        std::istringstream cells(line);
        std::vector<double> row;
        while (std::getline(cells, cell, ',')) {
            if (first) {
                t.header.push_back(cell);
            } else {
                row.push_back(std::stod(cell));
            }
        }
        if (!first) t.rows.push_back(row);
    }
    return t;
}

// Mean and its standard error from 20 blocks, which are longer than the correlation time.
std::pair<double, double> blockMean(const std::vector<double>& x) {
    const size_t blocks = 20, size = x.size() / blocks;
    double sum = 0, sum2 = 0;
    for (size_t b = 0; b < blocks; ++b) {
        double m = 0;
        for (size_t k = b * size; k < (b + 1) * size; ++k) m += x[k] / static_cast<double>(size);
        sum += m;
        sum2 += m * m;
    }
    const double mean = sum / blocks;
    return {mean, std::sqrt((sum2 / blocks - mean * mean) / (blocks - 1))};
}

TEST(ObservablesTest, VirialPressureOfADenseGasFollowsTheVirialSeries) {
    TempDir dir;
    initFolder(dir.path, {"-n", "1000", "-p", "0.3", "--seed", "5", "--max-collisions", "200000"});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const Table t = readTable(dir.file("thermo.csv"));
    EXPECT_EQ(t.header[2], "T (3N-3 degrees of freedom) [K]");
    ASSERT_EQ(t.rows.size(), 200u);
    // Z = 1 + 4 phi + 10 phi^2 + 18.365 phi^3 + ... to B12 (Clisby & McCoy; Schultz & Kofke).
    const auto [z, error] = blockMean(t.column("Z", 20));
    EXPECT_NEAR(z, 3.9838, 4 * error) << "standard error " << error;
    EXPECT_LT(error, 0.01);
    // The summary: the same equation of state, and a collision rate that is Enskog's with the
    // contact value of the virial series (exact for hard spheres; 2 % leaves room for the lattice start).
    const nlohmann::json summary = readJson(dir.file("summary.json"));
    const nlohmann::json& theory = summary["theory"];
    EXPECT_NEAR(theory["Z (virial series)"].get<double>(), 3.98383, 1e-5);
    EXPECT_NEAR(summary["means"]["Z"]["mean"].get<double>(), 3.9838, 4 * summary["means"]["Z"]["standard_error"].get<double>());
    const double rate = summary["means"]["collisions per particle and second"]["mean"];
    EXPECT_NEAR(rate / theory["Enskog collisions per particle and second"].get<double>(), 1.0, 0.02);
    EXPECT_EQ(summary["run"]["averaged_from"]["collisions"], 0);
    EXPECT_EQ(summary["timing"]["collisions"], 200000);
    EXPECT_TRUE(summary["timing"]["wall_seconds"].get<double>() > 0.0);
}

// Between thermal walls under gravity: the floor carries the weight of the gas besides what the
// ceiling takes, and a dilute gas presses on it with n(R) k T, n the barometric density at contact.
// Continued, the table grows under its one header line.
TEST(ObservablesTest, WallPressuresOfADiluteColumn) {
    TempDir dir;
    initFolder(dir.path, {"-n", "300", "-p", "0.001", "--walls", "diffusive", "-g", "5e12", "--seed", "3",
                          "--max-collisions", "30000"});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", 60000}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const Table t = readTable(dir.file("thermo.csv"));
    ASSERT_EQ(t.rows.size(), 200u);
    EXPECT_EQ(t.rows.back()[0], 60000);
    const nlohmann::json config = readJson(dir.file("config.json"));
    const nlohmann::json particle = readJson(dir.file("particles_config.json"))["particles"][0];
    const double L = config["domain_size"], g = config["g"], T = config["z_temperature"];
    const double m = particle["mass"], r = 0.5 * particle["diameter"].get<double>(), k = 1.380649e-23;
    const double H = k * T / (m * g), n = 300;
    std::vector<double> floor = t.column("pressure on floor [Pa]", 20), ceiling = t.column("pressure on ceiling [Pa]", 20);
    std::vector<double> difference(floor.size());
    for (size_t i = 0; i < floor.size(); ++i) difference[i] = floor[i] - ceiling[i];
    const auto [weight, weightError] = blockMean(difference);
    EXPECT_NEAR(weight, n * m * g / (L * L), 4 * weightError);
    const auto [pressure, pressureError] = blockMean(floor);
    EXPECT_NEAR(pressure, n * k * T / (L * L * H * -std::expm1(-(L - 2 * r) / H)), 4 * pressureError);
}

nlohmann::json sumOf(const nlohmann::json& a, const nlohmann::json& b) {
    nlohmann::json sum = a;
    for (const char* key : {"counts", "values"}) {
        for (size_t k = 0; k < a[key].size(); ++k) sum[key][k] = a[key][k].get<double>() + b[key][k].get<double>();
    }
    return sum;
}

// Two species in a column, continued once: the species' profiles add up to the whole gas's bin by
// bin, and every free path of free/free_path.bin is filed by the height its flight began at, also
// the flights in progress at the restart (their start heights travel in resume.json).
TEST(ObservablesTest, SpeciesAndFreePathProfilesAccountForEverySample) {
    TempDir dir;
    initFolder(dir.path, {"-n", "200", "-p", "0.02", "--fraction-b", "0.5", "--mass-b", "1e-25", "--walls", "diffusive",
                          "-g", "2e12", "--max-collisions", "10000", "--set", "log_free_path=true", "--set",
                          "stats_after=0", "--set", "stats_every=100", "--set", "save_last_state_every=3000"});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", 20000}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const nlohmann::json a = readJson(dir.file("linear_profile_a.json")), b = readJson(dir.file("linear_profile_b.json"));
    const nlohmann::json all = readJson(dir.file("linear_profile.json"));
    EXPECT_EQ(a["num_instances"], 200);
    const nlohmann::json sum = sumOf(a, b);
    EXPECT_EQ(sum["counts"], all["counts"]);
    for (size_t k = 0; k < all["values"].size(); ++k) {
        EXPECT_NEAR(sum["values"][k].get<double>(), all["values"][k].get<double>(), 1e-12 * all["values"][k].get<double>());
    }
    const std::vector<double> paths = readDoubles(dir.file("free/free_path.bin"));
    const nlohmann::json filed = sumOf(readJson(dir.file("free_path_profile_a.json")), readJson(dir.file("free_path_profile_b.json")));
    double count = 0, length = 0, expected = 0;
    for (size_t k = 0; k < filed["counts"].size(); ++k) {
        count += filed["counts"][k].get<double>();
        length += filed["values"][k].get<double>();
    }
    for (double p : paths) expected += p;
    EXPECT_EQ(count, static_cast<double>(paths.size()));
    EXPECT_NEAR(length, expected, 1e-12 * expected);
}

}  // namespace
