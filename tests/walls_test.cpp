// Floors, ceilings, the metal plane and gravity: energy bookkeeping, thermal re-emission,
// and particles that turn round inside a cell.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "app/config.h"
#include "core/cells.h"
#include "core/check.h"
#include "core/events.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "tests/support.h"
#include "util/random.h"

using namespace testing_support;

namespace {

class WallsTest : public ::testing::Test {
   protected:
    void SetUp() override { resetAll(folder.path); }
    TempDir folder;
};

// Between specular walls under gravity the sum of kinetic and potential energy is a
// constant of the motion; every particle also stays inside the box and in its own cell.
TEST_F(WallsTest, SpecularWallsUnderGravityConserveTotalEnergy) {
    setupBox(64, 1.0, 10, true, 2.0);
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int32_t p = 0; p < 64; ++p) {
        placeParticle(p, {(p % 4 + 0.5) / 4, (p / 4 % 4 + 0.5) / 4, 0.05 + (p / 16 + 0.5) * 0.9 / 4},
                      {normal(rng), normal(rng), normal(rng)}, 0.04, 1.0 + p % 2);
    }
    const double before = kineticEnergy() + potentialEnergy();
    startEngine();
    runCollisions(20000);
    ASSERT_EQ(sim.collisionCount, 20000u);
    EXPECT_NEAR((kineticEnergy() + potentialEnergy()) / before, 1.0, 1e-9);
    EXPECT_EQ(checkSystem(), "");
    for (const ParticleMotion& m : sim.motion) {
        EXPECT_GE(m.posZ, m.radius);
        EXPECT_LE(m.posZ, 1.0 - m.radius);
    }
}

// Just after crossing a face upwards a particle sits exactly on it; if its apex lies below
// the next face it must get the moment it falls back through, not lose the crossing.
TEST_F(WallsTest, ParticleTurningBelowTheNextFaceFallsBackIntoItsOldCell) {
    setupBox(1, 1.0, 4, true, 1.0);
    placeParticle(0, {0.5, 0.5, 0.5}, {0.0, 0.0, 0.3}, 0.01, 1.0);  // on the face z = 0.5
    startEngine();
    ASSERT_EQ(sim.cellZ[0], 2);
    const Event next = eventQueue.top();
    EXPECT_EQ(next.type, BoundaryZ);
    EXPECT_EQ(next.dir, -1);
    EXPECT_NEAR(next.time, 0.6, 1e-12);  // 2 v / g

    const ProcessedEvent crossing = processNextCurrentEvent();
    EXPECT_EQ(crossing.type, BoundaryZ);
    EXPECT_EQ(sim.cellZ[0], 1);
    const ProcessedEvent landing = processNextCurrentEvent();
    EXPECT_EQ(landing.type, BoundaryZ);  // into cell 0 on the way down
    EXPECT_EQ(sim.cellZ[0], 0);
    EXPECT_EQ(processNextCurrentEvent().type, Land);
    EXPECT_EQ(checkSystem(), "");
}

TEST_F(WallsTest, ThermalWallsReEmitAwayFromTheWall) {
    setupBox(1, 1.0, 3, true, 0.0);
    config.diffusive_z = true;
    config.z_temperature = 300.0;
    const double mass = 1e-26;
    placeParticle(0, {0.5, 0.5, 0.5}, {0.0, 0.0, -500.0}, 1e-3, mass);
    startEngine();
    int lands = 0, exits = 0;
    while (lands + exits < 40) {
        const ProcessedEvent e = processNextCurrentEvent();
        if (e.type == Land) {
            ++lands;
            EXPECT_GE(sim.motion[0].velZ, 0.0);
            EXPECT_EQ(sim.motion[0].posZ, 1e-3);
        } else if (e.type == Exit) {
            ++exits;
            EXPECT_LE(sim.motion[0].velZ, 0.0);
            EXPECT_EQ(sim.motion[0].posZ, 1.0 - 1e-3);
        }
    }
    EXPECT_GT(lands, 0);
    EXPECT_GT(exits, 0);
}

TEST_F(WallsTest, SpecularFloorMirrorsTheNormalVelocityOnly) {
    setupBox(1, 1.0, 3, true, 0.0);
    placeParticle(0, {0.5, 0.5, 0.2}, {0.1, -0.2, -1.0}, 0.05, 1.0);
    startEngine();
    ProcessedEvent e;
    do {
        e = processNextCurrentEvent();
    } while (e.type != Land);
    EXPECT_NEAR(e.time, 0.15, 1e-15);
    EXPECT_EQ(sim.motion[0].velX, 0.1);
    EXPECT_EQ(sim.motion[0].velY, -0.2);
    EXPECT_EQ(sim.motion[0].velZ, 1.0);
}

// Molecules under 9.8 m/s^2: gravity changes the velocity by a part in 10^13 over a
// crossing, where the textbook quadratic formula loses most of its digits. Every crossing
// must still come on time, so that no particle is ever found outside its cell.
TEST_F(WallsTest, MolecularGravityCrossingsComeOnTime) {
    const double L = 3e-9, r = 1.85e-10;
    setupBox(64, L, 8, true, 9.8);
    std::mt19937_64 rng(2);
    std::normal_distribution<double> normal(0.0, 300.0);
    for (int32_t p = 0; p < 64; ++p) {
        placeParticle(p, {(p % 4 + 0.5) * L / 4, (p / 4 % 4 + 0.5) * L / 4, r + (p / 16 + 0.5) * (L - 2 * r) / 4},
                      {normal(rng), normal(rng), normal(rng)}, r, 4.65e-26);
    }
    startEngine();
    for (int round = 0; round < 50; ++round) {
        runCollisions(20);
        ASSERT_EQ(checkSystem(), "") << "after " << sim.collisionCount << " collisions";
    }
}

// The metal plane reflects species a from below; species b passes through it.
TEST_F(WallsTest, MetalPlaneReflectsOnlySpeciesA) {
    setupBox(2, 1.0, 3, true, 0.0);
    config.has_metal_z = true;
    config.metal_z = 0.8;
    placeParticle(0, {0.2, 0.2, 0.5}, {0.0, 0.0, 1.0}, 0.05, 1.0, 0);
    placeParticle(1, {0.7, 0.7, 0.5}, {0.0, 0.0, 1.0}, 0.05, 1.0, 1);
    startEngine();
    bool reflected = false;
    while (sim.simulationTime < 0.3) {
        const ProcessedEvent e = processNextCurrentEvent();
        if (e.type == MetalZ) {
            EXPECT_EQ(e.i, 0);
            EXPECT_NEAR(e.time, 0.25, 1e-15);
            EXPECT_NEAR(sim.motion[0].posZ, 0.75, 1e-15);
            EXPECT_EQ(sim.motion[0].velZ, -1.0);
            reflected = true;
        }
    }
    EXPECT_TRUE(reflected);
    advanceAllParticles();
    EXPECT_GT(sim.motion[1].posZ, 0.8);
}

// Thermal samplers against their distributions, tolerances from the standard error of
// 10^5 draws: the normal speed of a re-emitted particle is Rayleigh distributed with mean
// sigma sqrt(pi / 2); a velocity component is normal with variance sigma^2.
TEST_F(WallsTest, ThermalSamplersFollowTheirDistributions) {
    const double mass = 4.65e-26, T = 273.15;
    const double sigma = std::sqrt(BOLTZMANN * T / mass);
    const int draws = 100000;
    double sum = 0, sumComponent = 0, sumSquares = 0;
    for (int k = 0; k < draws; ++k) {
        const double speed = sampleWallNormalSpeed(mass, T);
        ASSERT_GE(speed, 0.0);
        sum += speed;
        const double v = sampleVelocityComponent(mass, T);
        sumComponent += v;
        sumSquares += v * v;
    }
    const double pi = 3.141592653589793;
    const double rayleighError = sigma * std::sqrt((4 - pi) / 2) / std::sqrt(double(draws));
    EXPECT_NEAR(sum / draws, sigma * std::sqrt(pi / 2), 5 * rayleighError);
    EXPECT_NEAR(sumComponent / draws, 0.0, 5 * sigma / std::sqrt(double(draws)));
    EXPECT_NEAR(sumSquares / draws, sigma * sigma, 5 * sigma * sigma * std::sqrt(2.0 / draws));
}

}  // namespace
