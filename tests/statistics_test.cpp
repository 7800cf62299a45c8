// What a collision feeds into the statistics, on hand-made collisions worked out on paper.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "app/schedule.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "stats/collision_stats.h"
#include "stats/series.h"
#include "stats/velocity_logs.h"
#include "tests/support.h"
#include "util/random.h"

using namespace testing_support;

namespace {

// The velocities are 3 pi / 4 apart; g = (2, -1, 0) turns into (-2, -1, 0), by arccos(-0.6);
// j lies along (0.6, 0, 0.8) from i, so g meets i - j at arccos(-1.2 / sqrt 5).
CollisionRecord oblique(int32_t i, int32_t j, bool gain = false, double normalI = 0.0, double normalJ = 0.0) {
    return {.i = i, .j = j, .velIBefore = {1, 0, 0}, .velJBefore = {-1, 1, 0}, .velIAfter = {-1, 0, 0},
            .velJAfter = {1, 1, 0}, .freePathI = 0.3, .freePathJ = 0.4, .freeTimeI = 3, .freeTimeJ = 4,
            .contactI = {0.5, 0.4, 0.3}, .contactJ = {0.512, 0.4, 0.316}, .gainFlag = gain,
            .approachSpeed = normalI - normalJ, .normalVelI = normalI, .normalVelJ = normalJ};
}

struct StatisticsTest : ::testing::Test {
    // Species 0, 1, 0, 1 under g = 1: species 0 drifts at +x with thermal speeds +-1 along y,
    // species 1 sits still. Radii differ, so that a radius taken from j shows.
    void SetUp() override {
        resetAll();
        setupBox(4, 1.0, 1, true, 1.0);
        config.min_radius = 0.01;
        config.profile_num_bins = 4;
        buildAccumulators();
        const Vec3 v[] = {{5, 1, 0}, {}, {5, -1, 0}, {}};
        for (int32_t p = 0; p < 4; ++p) placeParticle(p, {0.5, 0.5, 0.1 + 0.2 * p}, v[p], 0.01 * (p + 1), 1, p % 2);
        buildSpecies();
    }
};

TEST_F(StatisticsTest, AnglesAndContactPointOfAHandMadeCollision) {
    CollisionRecord r = oblique(0, 1);
    sampleCollisionAngle(r);
    samplePca(r);
    // c, species i and j, the three angles; then c and the point of i's surface facing j.
    const double expected[] = {0, 0, 1, 3 * std::numbers::pi / 4, std::acos(-0.6), std::acos(-1.2 / std::sqrt(5.0)),
                               0, 0.506, 0.4, 0.308};
    const std::vector<double> &angles = seriesBuffers.collisionAngleBuffer, &pca = seriesBuffers.pcaBuffer;
    for (size_t k = 0; k < 10; ++k) EXPECT_NEAR(k < 6 ? angles.at(k) : pca.at(k - 6), expected[k], 1e-12) << k;
    r.contactJ = r.contactI;  // coincident contacts and a vanishing relative velocity are refused
    EXPECT_THROW(sampleCollisionAngle(r), std::runtime_error);
    r = oblique(0, 1);
    r.velJBefore = r.velIBefore;
    EXPECT_THROW(sampleCollisionAngle(r), std::runtime_error);
}

// ab: unlike species, split by the gain flag; aa: both of species 0; bb: any other like pair.
TEST_F(StatisticsTest, PairRuleOfTheAngleHistograms) {
    const int32_t pairs[][3] = {{0, 1, 0}, {1, 0, 1}, {2, 3, 1}, {0, 2, 0}, {1, 3, 0}, {3, 1, 0}};  // i, j, gain
    for (const auto& [i, j, gain] : pairs) sampleScatteringAngles(oblique(i, j, gain));
    const CollisionStatistics& s = collisionStats;
    const std::pair<const Histogram*, uint64_t> expected[] = {
        {&s.scatteringAB, 3}, {&s.scatteringABGain, 2}, {&s.scatteringABLoss, 1}, {&s.scatteringAA, 1},
        {&s.scatteringBB, 2}, {&s.approachAB, 3},       {&s.approachAA, 1},       {&s.approachBB, 2}};
    for (const auto& [h, n] : expected) {
        EXPECT_EQ(h->num_instances, n);
        EXPECT_EQ(h->counts[70], n);  // arccos(-0.6) = 0.7048 pi
    }
    EXPECT_EQ(pairKind(2, 2), PairKind::BB);
}

// Collisions 3 ... 9 through the schedule. Temperatures count only the peculiar motion
// (1 J over the two of species 0); species 1, left empty, reads 0 K.
TEST_F(StatisticsTest, SamplesAreTakenOnlyInsideTheirWindows) {
    config.sample_collision_angle = config.sample_scattering_angle = true;
    config.sample_collision_angle_after = 4;  // 5 ... 8
    config.sample_collision_angle_until = 8;
    config.sample_scattering_angle_until = 7;  // 3 ... 7
    config.species_stats_after = config.stats_after = 6;
    config.species_stats_every = config.stats_every = 2;  // 8
    sim.species[1] = sim.species[3] = 2;
    buildSpecies();
    for (sim.collisionCount = 3; sim.collisionCount <= 9; ++sim.collisionCount) afterCollision(oblique(0, 1));
    EXPECT_EQ(seriesBuffers.collisionAngleBuffer.size(), 4u * 6);
    EXPECT_EQ(collisionStats.scatteringAB.num_instances, 5u);
    EXPECT_EQ(collisionStats.linearProfile.num_instances, 1u);
    EXPECT_EQ(seriesBuffers.speciesTemperatureBuffer, (std::vector<double>{8, (2.0 / 3.0) * 0.5 / BOLTZMANN, 0, 0}));
}

TEST_F(StatisticsTest, FreePathsOnlyFromCollisionsAndNearTheFloor) {
    CollisionRecord r = oblique(0, 1);
    r.truePathJ = true;  // i's flight began where the initial state put it
    recordFreePaths(r);
    EXPECT_EQ(collisionStats.freePathSamples, (std::vector<double>{0.4}));
    EXPECT_EQ(collisionStats.freeTimeSamples, (std::vector<double>{4.0}));
    r.truePathI = true;
    r.contactJ.z = 0.009;  // below domain_size / 100: both paths count as near the floor
    recordFreePaths(r);
    EXPECT_EQ(collisionStats.bottomFreePathSamples, (std::vector<double>{0.3, 0.4}));
    EXPECT_EQ(collisionStats.freePathSamples, (std::vector<double>{0.4, 0.3, 0.4}));
}

// Velocities along the line of centres, away from the partner: i the faster along n, then j.
TEST_F(StatisticsTest, CollisionVelocitiesPerPairAndPerParticle) {
    recordCollisionVelocities(oblique(0, 1, false, 2.0, -1.0));
    recordCollisionVelocities(oblique(1, 3, false, -0.5, 0.25));
    EXPECT_EQ(velocityLogs.collisionVelocity01Samples, (std::vector<double>{3.0}));
    EXPECT_EQ(velocityLogs.collisionVelocity11Samples, (std::vector<double>{-0.75}));
    EXPECT_EQ(velocityLogs.particleCollisionVelocitySamples, (std::vector<double>{-1.0, -2.0, -0.5, -0.25}));
    EXPECT_EQ(velocityLogs.particleCollisionVelocity0Samples, (std::vector<double>{-2.0}));
    EXPECT_EQ(velocityLogs.particleCollisionVelocity1Samples, (std::vector<double>{-1.0, -0.5, -0.25}));
    sim.species[1] = sim.species[3] = 0;
    buildSpecies();
    recordCollisionVelocities(oblique(0, 2));
    EXPECT_TRUE(velocityLogs.collisionVelocity00Samples.empty());
}

// A pass takes each energy from the stored velocity and each height after the advance to the
// clock: at t = 0.1 particle 0 (1 J, rising at 1 from 0.45) is at 0.545, 1 (4.5 J) at 0.195, 2 (13 J)
// at 0.495, 3 (at rest) at 0.695; edges 0.01 .255 .5 .745 .99, logarithmic .01 .0315 .0995 .314 .99.
TEST_F(StatisticsTest, ProfilePassTakesTheStoredEnergyAtTheAdvancedHeight) {
    placeParticle(0, {0.5, 0.5, 0.45}, {0.0, 0.0, 1.0}, 0.01, 2.0);
    placeParticle(1, {0.5, 0.5, 0.2}, {3.0, 0.0, 0.0}, 0.01, 1.0, 1);
    sim.simulationTime = 0.1;
    sampleEnergyProfiles();
    const Histogram &linear = collisionStats.linearProfile, &logarithmic = collisionStats.logProfile;
    EXPECT_EQ(linear.counts, (std::vector<uint64_t>{1, 1, 2, 0}));
    EXPECT_EQ(linear.values, (std::vector<double>{4.5, 13.0, 1.0, 0.0}));
    EXPECT_EQ(logarithmic.values, (std::vector<double>{0.0, 0.0, 4.5, 14.0}));
    EXPECT_EQ(linear.num_instances + logarithmic.num_instances, 2u);
}

}  // namespace
