// Two-body collisions against the textbook result, conservation laws over long runs, and
// the species-a thermostat.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "app/config.h"
#include "app/particle_config.h"
#include "core/check.h"
#include "core/collision.h"
#include "core/events.h"
#include "core/particles.h"
#include "tests/support.h"

using namespace testing_support;

namespace {

Vec3 velocityOf(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return Vec3{m.velX, m.velY, m.velZ};
}

// Spheres on a simple cubic lattice with Gaussian velocities and zero total momentum.
void fillLattice(int32_t perSide, double L, double diameter, uint64_t seed, double speed = 1.0) {
    const int32_t n = perSide * perSide * perSide;
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, speed);
    Vec3 mean;
    for (int32_t p = 0; p < n; ++p) {
        const double a = L / perSide;
        const Vec3 position{(p % perSide + 0.5) * a, (p / perSide % perSide + 0.5) * a,
                            (p / (perSide * perSide) + 0.5) * a};
        const Vec3 velocity{normal(rng), normal(rng), normal(rng)};
        placeParticle(p, position, velocity, diameter / 2, 1.0 + (p % 3));
        mean.x += velocity.x / n;
        mean.y += velocity.y / n;
        mean.z += velocity.z / n;
    }
    Vec3 momentum;
    double totalMass = 0;
    for (int32_t p = 0; p < n; ++p) {
        momentum.x += sim.mass[p] * sim.motion[p].velX;
        momentum.y += sim.mass[p] * sim.motion[p].velY;
        momentum.z += sim.mass[p] * sim.motion[p].velZ;
        totalMass += sim.mass[p];
    }
    for (int32_t p = 0; p < n; ++p) {
        sim.motion[p].velX -= momentum.x / totalMass;
        sim.motion[p].velY -= momentum.y / totalMass;
        sim.motion[p].velZ -= momentum.z / totalMass;
    }
}

class CollisionTest : public ::testing::Test {
   protected:
    void SetUp() override { resetAll(folder.path); }
    TempDir folder;
};

TEST_F(CollisionTest, HeadOnEqualMassesExchangeVelocitiesAtTheContactTime) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.3, 0.5, 0.5}, {1.0, 0.0, 0.0}, 0.05, 1.0);
    placeParticle(1, {0.7, 0.5, 0.5}, {-1.0, 0.0, 0.0}, 0.05, 1.0);
    startEngine();
    runCollisions(1);
    ASSERT_EQ(sim.collisionCount, 1u);
    EXPECT_NEAR(sim.simulationTime, 0.15, 1e-15);  // gap 0.3 closed at relative speed 2
    EXPECT_NEAR(velocityOf(0).x, -1.0, 1e-15);
    EXPECT_NEAR(velocityOf(1).x, 1.0, 1e-15);
    EXPECT_EQ(velocityOf(0).y, 0.0);
    EXPECT_EQ(sim.freePath[0], 0.0);
    EXPECT_TRUE(sim.truePath[0] && sim.truePath[1]);
}

// Unequal masses at an oblique impact: along the line of centres the 1D elastic result
// v1' = ((m1 - m2) v1 + 2 m2 v2) / (m1 + m2); across it nothing changes.
TEST_F(CollisionTest, ObliqueUnequalMassesFollowTheElasticFormula) {
    setupBox(2, 1.0, 3);
    const Vec3 v1{1.0, 0.2, 0.0}, v2{-0.5, 0.0, 0.1};
    const Vec3 r1{0.3, 0.5, 0.5}, r2{0.6, 0.56, 0.5};
    const double m1 = 1.0, m2 = 3.0, sigma = 0.1;
    placeParticle(0, r1, v1, 0.05, m1);
    placeParticle(1, r2, v2, 0.05, m2);
    startEngine();
    runCollisions(1);
    ASSERT_EQ(sim.collisionCount, 1u);

    const Vec3 dr{r2.x - r1.x, r2.y - r1.y, r2.z - r1.z}, dv{v2.x - v1.x, v2.y - v1.y, v2.z - v1.z};
    const double a = dot(dv, dv), b = dot(dr, dv), c = dot(dr, dr) - sigma * sigma;
    const double t = (-b - std::sqrt(b * b - a * c)) / a;
    EXPECT_NEAR(sim.simulationTime, t, 1e-13);

    const Vec3 d{dr.x + dv.x * t, dr.y + dv.y * t, dr.z + dv.z * t};
    const Vec3 n{d.x / sigma, d.y / sigma, d.z / sigma};
    const double u1 = dot(v1, n), u2 = dot(v2, n);
    const double u1After = ((m1 - m2) * u1 + 2 * m2 * u2) / (m1 + m2);
    const double u2After = ((m2 - m1) * u2 + 2 * m1 * u1) / (m1 + m2);
    const Vec3 w1 = velocityOf(0), w2 = velocityOf(1);
    EXPECT_NEAR(w1.x, v1.x + (u1After - u1) * n.x, 1e-12);
    EXPECT_NEAR(w1.y, v1.y + (u1After - u1) * n.y, 1e-12);
    EXPECT_NEAR(w1.z, v1.z + (u1After - u1) * n.z, 1e-12);
    EXPECT_NEAR(w2.x, v2.x + (u2After - u2) * n.x, 1e-12);
    EXPECT_NEAR(w2.y, v2.y + (u2After - u2) * n.y, 1e-12);
    EXPECT_NEAR(w2.z, v2.z + (u2After - u2) * n.z, 1e-12);
}

// 10^5 collisions of a periodic gas of three masses: energy and momentum are conserved to
// rounding, and the grid, the cell lists and the sphere separations stay consistent.
TEST_F(CollisionTest, PeriodicGasConservesEnergyAndMomentumOverManyCollisions) {
    setupBox(216, 1.0, 10);
    fillLattice(6, 1.0, 0.1, 7);
    const double energyBefore = kineticEnergy();
    const Vec3 momentumBefore = totalMomentum();
    startEngine();
    runCollisions(100000);
    ASSERT_EQ(sim.collisionCount, 100000u);
    EXPECT_NEAR(kineticEnergy() / energyBefore, 1.0, 1e-12);
    const Vec3 momentumAfter = totalMomentum();
    // The momentum scale: total mass times a typical speed.
    const double scale = 432.0 * std::sqrt(2.0 * energyBefore / 432.0);
    EXPECT_NEAR(momentumAfter.x - momentumBefore.x, 0.0, 1e-12 * scale);
    EXPECT_NEAR(momentumAfter.y - momentumBefore.y, 0.0, 1e-12 * scale);
    EXPECT_NEAR(momentumAfter.z - momentumBefore.z, 0.0, 1e-12 * scale);
    EXPECT_EQ(checkSystem(), "");
}

// With one or two cells per axis the same cell is reached under several image shifts;
// collisions across the periodic boundary must still be found.
TEST_F(CollisionTest, TinyGridsReachEveryPeriodicImage) {
    for (int32_t cells : {1, 2}) {
        resetAll(folder.path);
        setupBox(27, 1.0, cells);
        fillLattice(3, 1.0, 0.2, 11);
        const double energyBefore = kineticEnergy();
        startEngine();
        runCollisions(5000);
        EXPECT_NEAR(kineticEnergy() / energyBefore, 1.0, 1e-12) << cells << " cells";
        EXPECT_EQ(checkSystem(), "") << cells << " cells";
    }
}

// Species a (index 0) is held at 3/2 k_B (273.15 K) per particle: after a-b collisions the
// other a particles absorb the change, so the total kinetic energy of species a stays put.
TEST_F(CollisionTest, ThermostatHoldsSpeciesAEnergy) {
    const double mass = 4.65e-26, L = 5e-9, diameter = 3.7e-10;
    setupBox(64, L, 12);
    config.thermostatted_a = true;
    std::mt19937_64 rng(3);
    std::normal_distribution<double> normal(0.0, 300.0);
    for (int32_t p = 0; p < 64; ++p) {
        const double a = L / 4;
        placeParticle(p, {(p % 4 + 0.5) * a, (p / 4 % 4 + 0.5) * a, (p / 16 + 0.5) * a},
                      {normal(rng), normal(rng), normal(rng)}, diameter / 2, mass, p % 2);
    }
    buildSpecies();
    auto speciesAEnergy = [&] {
        advanceAllParticles();
        double e = 0;
        for (int32_t p : speciesTables.speciesMembers[0]) {
            const ParticleMotion& m = sim.motion[p];
            e += 0.5 * mass * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ);
        }
        return e;
    };
    const double target = THERMOSTAT_PARTICLE_ENERGY * 32;
    const double f = std::sqrt(target / speciesAEnergy());
    for (int32_t p : speciesTables.speciesMembers[0]) {
        sim.motion[p].velX *= f;
        sim.motion[p].velY *= f;
        sim.motion[p].velZ *= f;
    }
    startEngine();
    ::testing::internal::CaptureStdout();
    runCollisions(2000);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("thermostatted\n"), std::string::npos);
    EXPECT_NE(out.find("should not be here\n"), std::string::npos);
    EXPECT_NEAR(speciesAEnergy() / target, 1.0, 1e-10);
    EXPECT_EQ(checkSystem(), "");
}

// A heavy fast b particle can hand an a particle more energy than species a may hold:
// the rescaling factor would be the root of a negative number. It is skipped with a notice.
TEST_F(CollisionTest, ThermostatSkipsANegativeRatioInsteadOfWritingNaN) {
    const double mass = 4.65e-26, L = 2e-8, r = 1.85e-10;
    setupBox(3, L, 8);
    config.thermostatted_a = true;
    placeParticle(0, {0.3 * L, 0.5 * L, 0.5 * L}, {0.0, 0.0, 0.0}, r, mass, 0);
    placeParticle(1, {0.6 * L, 0.5 * L, 0.5 * L}, {-5000.0, 0.0, 0.0}, r, 100 * mass, 1);
    placeParticle(2, {0.1 * L, 0.1 * L, 0.1 * L}, {0.0, 0.0, 1.0}, r, mass, 0);
    buildSpecies();
    startEngine();
    ::testing::internal::CaptureStdout();
    runCollisions(1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(sim.collisionCount, 1u);
    EXPECT_NE(out.find("Thermostat skipped at collision 1"), std::string::npos) << out;
    EXPECT_EQ(sim.motion[2].velZ, 1.0);
    EXPECT_TRUE(std::isfinite(sim.motion[0].velX));
}

TEST_F(CollisionTest, RoundingOverlapIsResolvedAlongTheLineOfCentres) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.5, 0.5, 0.5}, {0, 0, 0}, 0.05, 1.0);
    placeParticle(1, {0.59, 0.5, 0.5}, {0, 0, 0}, 0.05, 1.0);  // overlap 0.01
    resolveOverlap(0, 1, Vec3{}, Vec3{});
    EXPECT_NEAR(sim.motion[0].posX, 0.495, 1e-15);
    EXPECT_NEAR(sim.motion[1].posX, 0.595, 1e-15);
    EXPECT_EQ(sim.motion[0].posY, 0.5);
}

}  // namespace
