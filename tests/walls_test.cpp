// Floors, ceilings, the metal plane, thermal walls and a particle turning round inside a cell under
// gravity; the thermal samplers against their distributions.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/events.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "tests/support.h"
#include "util/random.h"

using namespace testing_support;

namespace {

struct WallsTest : ::testing::Test {
    TempDir folder;
    void SetUp() override { resetAll(folder.path); }
};

// Each wall at its first hit: when, where it leaves the sphere, and how it sends it back. A specular
// wall mirrors the normal velocity only; a thermal one draws all three components anew, the normal
// one pointing into the box; the metal plane at 0.8 holds back species a only. A particle on a face
// moving up under gravity, its apex below the next face, must get the moment it falls back through,
// 2 v / g later: just after an upward crossing it is there, and the crossing must not be lost. A
// sphere touching a wall while moving into it must not be held there until its centre arrives.
TEST_F(WallsTest, FirstHitOfEachWallAndOfAFaceFallenBackTo) {
    struct Case {
        bool thermal;
        int32_t species;
        EventType type;
        double g, z, vz, time, zAfter;
    };
    const Case cases[] = {
        {false, 0, Land, 0, 0.2, -1.0, 0.15, 0.05}, {false, 0, MetalZ, 0, 0.7, 1.0, 0.05, 0.75},
        {false, 1, Exit, 0, 0.7, 1.0, 0.25, 0.95},  {true, 0, Land, 0, 0.2, -1.0, 0.15, 0.05},
        {true, 1, Exit, 0, 0.7, 1.0, 0.25, 0.95},   {false, 0, BoundaryZ, 1, 1.0 / 3, 0.3, 0.6, 1.0 / 3},
        // touching a wall and moving into it: bounced at once, with or without gravity
        {false, 0, Land, 0, 0.05, -1.0, 0, 0.05},   {false, 0, Land, 9.8, 0.05, -1.0, 0, 0.05},
        {false, 1, Exit, 9.8, 0.95, 1.0, 0, 0.95},  {false, 0, MetalZ, 9.8, 0.8 - 0.05, 1.0, 0, 0.8 - 0.05}};
    for (const Case& c : cases) {
        resetAll(folder.path);
        setupBox(1, 1.0, 3, true, c.g);
        config.diffusive_z = c.thermal;
        config.has_metal_z = true;
        config.metal_z = 0.8;
        placeParticle(0, {0.5, 0.5, c.z}, {0.1, -0.2, c.vz}, 0.05, 1e-26, c.species);  // thermal speeds ~19 m/s
        startEngine();
        ProcessedEvent e;
        do {
            e = processNextCurrentEvent();
        } while (e.type == BoundaryX || e.type == BoundaryY);
        const ParticleMotion& m = sim.motion[0];
        EXPECT_EQ(e.type, c.type) << "case " << &c - cases;
        EXPECT_NEAR(e.time, c.time, 1e-12);
        EXPECT_NEAR(m.posZ, c.zAfter, 1e-15);
        EXPECT_LT(m.velZ * c.vz, 0.0);
        EXPECT_EQ(m.velX != 0.1 && m.velY != -0.2, c.thermal);
        EXPECT_NEAR(c.thermal ? -c.vz : m.velZ, -c.vz, 1e-12);
    }
}

// 10^5 draws, tolerances five standard errors: the normal speed off a thermal wall is Rayleigh (mean
// sigma sqrt(pi / 2), deviation sigma sqrt((4 - pi) / 2)), a velocity component normal (mean 0,
// mean square sigma^2 with deviation sqrt(2) sigma^2).
TEST_F(WallsTest, ThermalSamplersFollowTheirDistributions) {
    const double mass = 4.65e-26, T = 273.15, s2 = BOLTZMANN * T / mass, pi = std::acos(-1.0);
    const int draws = 100000;
    double speed = 0, component = 0, component2 = 0;
    for (int k = 0; k < draws; ++k) {
        const double s = sampleWallNormalSpeed(mass, T), v = sampleVelocityComponent(mass, T);
        speed += s / draws;
        component += v / draws;
        component2 += v * v / draws;
    }
    const double error = 5 / std::sqrt(double(draws));
    EXPECT_NEAR(speed, std::sqrt(s2 * pi / 2), error * std::sqrt(s2 * (4 - pi) / 2));
    EXPECT_NEAR(component, 0.0, error * std::sqrt(s2));
    EXPECT_NEAR(component2, s2, error * std::sqrt(2.0) * s2);
}

// A restored generator continues bit for bit, also with the second normal deviate of a pair
// still cached (after an odd number of normal draws); text that is no state of it, or one
// of another spread, changes nothing.
TEST_F(WallsTest, RestoredGeneratorContinuesBitForBit) {
    const double mass = 4.65e-26, T = 273.15;
    const auto draw = [&] {
        std::vector<double> drawn;
        for (int k = 0; k < 300; ++k) {
            drawn.push_back(k % 3 == 0 ? sampleWallNormalSpeed(mass, T) : sampleVelocityComponent(mass, T));
        }
        return drawn;
    };
    for (int before : {0, 1, 2, 7}) {
        resetRandomGenerator();
        for (int k = 0; k < before; ++k) sampleVelocityComponent(mass, T);
        const RandomGeneratorState saved = saveRandomGenerator();
        const std::vector<double> first = draw();
        const RandomGeneratorState after = saveRandomGenerator();
        for (const RandomGeneratorState& wrong : {RandomGeneratorState{saved.engine, "0 2 0"},
                                                  RandomGeneratorState{"1 2 3", saved.normal},
                                                  RandomGeneratorState{saved.engine + " 5", saved.normal},
                                                  RandomGeneratorState{saved.engine, saved.normal + " x"}}) {
            EXPECT_FALSE(restoreRandomGenerator(wrong)) << wrong.engine.substr(0, 20) << " / " << wrong.normal;
            EXPECT_EQ(saveRandomGenerator().engine, after.engine);
        }
        ASSERT_TRUE(restoreRandomGenerator(saved));
        EXPECT_EQ(draw(), first) << before << " normal draws before the save";
    }
}

}  // namespace
