// Two-body collisions against the textbook result; long runs against the conservation laws,
// from one-cell grids to molecules under gravity between walls; the species-a thermostat.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

#include "core/check.h"
#include "core/collision.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "tests/support.h"

using namespace testing_support;

namespace {

struct CollisionTest : ::testing::Test {
    TempDir folder;
    void SetUp() override { resetAll(folder.path); }
};

// n^3 spheres of masses m, 2m, 3m and species in turn, on a lattice clear of the walls.
void fillLattice(int32_t n, double L, double r, double m, double spread, bool walls, int32_t species) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, spread);
    const double a = L / n, bottom = walls ? r : 0.0, c = (L - 2 * bottom) / n;
    for (int32_t p = 0; p < n * n * n; ++p) {
        const Vec3 v{normal(rng), normal(rng), normal(rng)};
        const Vec3 x{(p % n + 0.5) * a, (p / n % n + 0.5) * a, bottom + (p / n / n + 0.5) * c};
        placeParticle(p, x, v, r, m * (1 + p % 3), p % species);
    }
}

// Contact at the root of |dr + dv t| = sigma; along the unit normal n the 1D elastic result
// u1' = ((m1 - m2) u1 + 2 m2 u2) / (m1 + m2), across it no change. A pair on both sides of two
// periodic edges meets through its images.
TEST_F(CollisionTest, PairsFollowTheElasticFormula) {
    struct Case {
        Vec3 r[2], v[2];
        double m[2];
    };
    const Case cases[] = {{{{0.3, 0.5, 0.5}, {0.7, 0.5, 0.5}}, {{1, 0, 0}, {-1, 0, 0}}, {1, 1}},
                          {{{0.3, 0.5, 0.5}, {0.6, 0.56, 0.5}}, {{1, 0.2, 0}, {-0.5, 0, 0.1}}, {1, 3}},
                          {{{0.04, 0.5, 0.97}, {0.9, 0.52, 0.08}}, {{-0.3, 0, 0.1}, {0.6, 0.1, -0.2}}, {2, 1}}};
    for (const Case& c : cases) {
        resetAll(folder.path);
        setupBox(2, 1.0, 3);
        for (int k = 0; k < 2; ++k) placeParticle(k, c.r[k], c.v[k], 0.05, c.m[k]);
        startEngine();
        runCollisions(1);
        ASSERT_EQ(sim.collisionCount, 1u);
        const Vec3 d = c.r[1] - c.r[0], dr{d.x - std::round(d.x), d.y - std::round(d.y), d.z - std::round(d.z)};
        const Vec3 dv = c.v[1] - c.v[0];
        const double a = dot(dv, dv), b = dot(dr, dv), t = (-b - std::sqrt(b * b - a * (dot(dr, dr) - 0.01))) / a;
        EXPECT_NEAR(sim.simulationTime, t, 1e-13);
        const Vec3 n{(dr.x + dv.x * t) / 0.1, (dr.y + dv.y * t) / 0.1, (dr.z + dv.z * t) / 0.1};
        const double u[] = {dot(c.v[0], n), dot(c.v[1], n)};
        for (int k = 0; k < 2; ++k) {
            const double du = ((c.m[k] - c.m[1 - k]) * u[k] + 2 * c.m[1 - k] * u[1 - k]) / (c.m[0] + c.m[1]) - u[k];
            EXPECT_NEAR(sim.motion[k].velX, c.v[k].x + du * n.x, 1e-12);
            EXPECT_NEAR(sim.motion[k].velY, c.v[k].y + du * n.y, 1e-12);
            EXPECT_NEAR(sim.motion[k].velZ, c.v[k].z + du * n.z, 1e-12);
        }
        EXPECT_EQ(sim.freePath[0] + sim.freePath[1], 0.0);  // free flights start anew
    }
    // A rounding overlap at contact is undone along the line of centres, half by each sphere.
    resetAll(folder.path);
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.5, 0.5, 0.5}, {0, 0, 0}, 0.05, 1.0);
    placeParticle(1, {0.59, 0.5, 0.5}, {0, 0, 0}, 0.05, 1.0);
    resolveOverlap(0, 1, Vec3{}, Vec3{});
    EXPECT_NEAR(sim.motion[0].posX, 0.495, 1e-15);
    EXPECT_NEAR(sim.motion[1].posX, 0.595, 1e-15);
}

// Energy to rounding, momentum along the axes free of walls and gravity, and after every round each
// sphere listed once, in the cell it is in, none overlapping. Grids of one and two cells reach one
// cell under several images (the two-cell one overflows the inline slots); a molecule under 9.8 m/s^2
// changes its speed by a part in 10^13 over a cell, and its crossings must still come on time.
TEST_F(CollisionTest, LongRunsConserveWhatTheyMust) {
    struct Run {
        int32_t cells, perSide, rounds, collisionsPerRound;
        double L, r, m, spread, g;
        bool walls;
    };
    const Run runs[] = {{10, 6, 1, 100000, 1.0, 0.05, 1.0, 1.0, 0.0, false},
                        {1, 3, 1, 5000, 1.0, 0.1, 1.0, 1.0, 0.0, false},
                        {2, 3, 1, 5000, 1.0, 0.1, 1.0, 1.0, 0.0, false},
                        {10, 4, 1, 20000, 1.0, 0.04, 1.0, 1.0, 2.0, true},
                        {8, 4, 50, 20, 3e-9, 1.85e-10, 4.65e-26, 300.0, 9.8, true}};
    for (const Run& run : runs) {
        SCOPED_TRACE("run " + std::to_string(&run - runs));
        resetAll(folder.path);
        setupBox(run.perSide * run.perSide * run.perSide, run.L, run.cells, run.walls, run.g);
        fillLattice(run.perSide, run.L, run.r, run.m, run.spread, run.walls, 1);
        const double energy = kineticEnergy() + potentialEnergy();
        const Vec3 momentum = totalMomentum();
        startEngine();
        for (int round = 0; round < run.rounds; ++round) {
            runCollisions(run.collisionsPerRound);
            ASSERT_EQ(checkSystem(), "") << "after " << sim.collisionCount << " collisions";
        }
        EXPECT_EQ(sim.collisionCount, uint64_t(run.rounds * run.collisionsPerRound));
        EXPECT_NEAR((kineticEnergy() + potentialEnergy()) / energy, 1.0, run.g == 0.0 ? 1e-12 : 1e-9);
        const Vec3 drift = totalMomentum() - momentum;
        const double scale = std::sqrt(2 * energy * std::accumulate(sim.mass.begin(), sim.mass.end(), 0.0));
        EXPECT_LT(std::hypot(drift.x, drift.y, run.walls || run.g != 0.0 ? 0.0 : drift.z), 1e-12 * scale);
    }
}

// Species a (index 0) is held at 3/2 k_B (273.15 K) per particle: after an a-b collision the
// other a particles absorb the change, so the kinetic energy of species a stays put.
TEST_F(CollisionTest, ThermostatHoldsSpeciesAEnergyOrSkipsWhatItCannotHold) {
    setupBox(64, 5e-9, 12);
    config.thermostatted_a = true;
    fillLattice(4, 5e-9, 1.85e-10, 4.65e-26, 300.0, false, 2);
    buildSpecies();
    auto scaleSpeciesA = [](double f) {  // returns the energy after scaling; no gravity, no need to advance
        double e = 0;
        for (int32_t p : speciesTables.speciesMembers[0]) {
            ParticleMotion& m = sim.motion[p];
            for (double* v : {&m.velX, &m.velY, &m.velZ}) *v *= f;
            e += 0.5 * sim.mass[p] * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ);
        }
        return e;
    };
    const double target = THERMOSTAT_PARTICLE_ENERGY * 32;
    scaleSpeciesA(std::sqrt(target / scaleSpeciesA(1.0)));
    startEngine();
    ::testing::internal::CaptureStdout();  // a line for every thermostatted collision
    runCollisions(2000);
    ::testing::internal::GetCapturedStdout();
    EXPECT_NEAR(scaleSpeciesA(1.0) / target, 1.0, 1e-10);
    EXPECT_EQ(checkSystem(), "");

    // A heavy fast b particle can hand an a particle more energy than species a may hold: the
    // factor would be the root of a negative number, and the rescaling is skipped with a notice.
    resetAll(folder.path);
    const double m = 4.65e-26, L = 2e-8, r = 1.85e-10;
    setupBox(3, L, 8);
    config.thermostatted_a = true;
    placeParticle(0, {0.3 * L, 0.5 * L, 0.5 * L}, {0.0, 0.0, 0.0}, r, m, 0);
    placeParticle(1, {0.6 * L, 0.5 * L, 0.5 * L}, {-5000.0, 0.0, 0.0}, r, 100 * m, 1);
    placeParticle(2, {0.1 * L, 0.1 * L, 0.1 * L}, {0.0, 0.0, 1.0}, r, m, 0);
    buildSpecies();
    startEngine();
    ::testing::internal::CaptureStdout();
    runCollisions(1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Thermostat skipped at collision 1"), std::string::npos) << out;
    EXPECT_EQ(sim.motion[2].velZ, 1.0);
}

}  // namespace
