// What a collision feeds into the statistics: angle formulas on hand-made collisions, the
// pair rule, the sampling windows, free paths, contact points, collision velocities and
// species temperatures.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "app/config.h"
#include "app/particle_config.h"
#include "core/particles.h"
#include "app/schedule.h"
#include "stats/collision_stats.h"
#include "stats/series.h"
#include "stats/velocity_logs.h"
#include "tests/support.h"
#include "util/random.h"

using namespace testing_support;

namespace {

const double PI = 3.141592653589793;

class StatisticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetAll();
        setupBox(4, 1.0, 1);
        config.min_radius = 0.01;
        config.profile_num_bins = 10;
        buildAccumulators();
        for (int32_t p = 0; p < 4; ++p) placeParticle(p, {0.1 + 0.2 * p, 0.5, 0.5}, {0, 0, 0}, 0.01, 1.0, p % 2);
        buildSpecies();
    }

    // Particle i at the origin touching j on the x axis, i moving towards j.
    static CollisionRecord headOn(int32_t i, int32_t j) {
        CollisionRecord r;
        r.i = i;
        r.j = j;
        r.contactI = {0.5, 0.5, 0.5};
        r.contactJ = {0.52, 0.5, 0.5};
        r.velIBefore = {1.0, 0.0, 0.0};
        r.velJBefore = {-1.0, 0.0, 0.0};
        r.velIAfter = {-1.0, 0.0, 0.0};
        r.velJAfter = {1.0, 0.0, 0.0};
        r.normalVelI = 1.0;
        r.normalVelJ = -1.0;
        r.approachSpeed = 2.0;
        return r;
    }

    static void collide(uint64_t c, const CollisionRecord& r) {
        sim.collisionCount = c;
        afterCollision(r);
    }
};

TEST_F(StatisticsTest, AngleFormulasOnHandMadeCollisions) {
    const Vec3 a{1, 0, 0}, b{-1, 0, 0};
    EXPECT_DOUBLE_EQ(scatteringAngle(a, b, b, a), PI);  // head-on exchange reverses g
    EXPECT_DOUBLE_EQ(approachAngle(a, b, b, a), PI);
    EXPECT_EQ(scatteringAngle(a, b, a, b), 0.0);  // relative velocity unchanged
    EXPECT_EQ(approachAngle(a, b, a, b), 0.0);
    // Grazing: g = (2, 0, 0) turned by a small angle into (2 cos t, 2 sin t, 0).
    const double t = 1e-3;
    EXPECT_NEAR(scatteringAngle(a, b, {std::cos(t), std::sin(t), 0}, {-std::cos(t), -std::sin(t), 0}), t, 1e-9);
    EXPECT_EQ(approachAngle(a, a, a, b), 0.0);  // no relative velocity before: the guard

    CollisionRecord r = headOn(0, 2);
    collide(1, r);  // config switches nothing on: nothing is sampled
    EXPECT_EQ(collisionStats.scatteringAA.num_instances, 0u);
    config.sample_collision_angle = true;
    collide(2, r);
    const std::vector<double>& angle = seriesBuffers.collisionAngleBuffer;
    ASSERT_EQ(angle.size(), 6u);
    EXPECT_EQ(angle[0], 2.0);
    EXPECT_EQ(angle[1], 0.0);
    EXPECT_EQ(angle[2], 0.0);
    EXPECT_DOUBLE_EQ(angle[3], PI);  // the two velocities point against each other
    EXPECT_DOUBLE_EQ(angle[4], PI);
    EXPECT_DOUBLE_EQ(angle[5], PI);  // head-on impact

    r.contactJ = r.contactI;
    EXPECT_THROW(sampleCollisionAngle(r), std::runtime_error);
    r = headOn(0, 2);
    r.velJBefore = r.velIBefore;
    EXPECT_THROW(sampleCollisionAngle(r), std::runtime_error);
}

TEST_F(StatisticsTest, PairRuleAndWindowOfTheAngleHistograms) {
    config.sample_scattering_angle = true;
    config.sample_scattering_angle_after = 5;
    config.sample_scattering_angle_until = 7;
    config.save_scattering_angle_every = 1000;
    for (uint64_t c = 4; c <= 8; ++c) collide(c, headOn(0, 1));  // unlike: sampled at 6 and 7
    collide(7, headOn(0, 2));                                   // aa
    collide(7, headOn(1, 3));                                   // bb
    const CollisionStatistics& s = collisionStats;
    EXPECT_EQ(s.scatteringAB.num_instances, 2u);
    EXPECT_EQ(s.scatteringABLoss.num_instances, 2u);  // nothing marks a gain
    EXPECT_EQ(s.scatteringABGain.num_instances, 0u);
    EXPECT_EQ(s.approachAB.num_instances, 2u);
    EXPECT_EQ(s.scatteringAA.num_instances, 1u);
    EXPECT_EQ(s.approachAA.num_instances, 1u);
    EXPECT_EQ(s.scatteringBB.num_instances, 1u);
    EXPECT_EQ(s.approachBB.num_instances, 1u);
    EXPECT_EQ(s.scatteringAB.counts[99], 2u);  // theta = pi is the top edge: last bin
    EXPECT_EQ(pairKind(2, 2), PairKind::BB);
}

TEST_F(StatisticsTest, FreePathsOnlyFromCollisionsAndNearTheFloor) {
    config.log_free_path = true;
    CollisionRecord r = headOn(0, 1);
    r.freePathI = 0.3;
    r.freePathJ = 0.4;
    r.freeTimeI = 3.0;
    r.freeTimeJ = 4.0;
    r.truePathI = false;
    r.truePathJ = true;
    collide(1, r);
    EXPECT_EQ(collisionStats.freePathSamples, (std::vector<double>{0.4}));
    EXPECT_EQ(collisionStats.freeTimeSamples, (std::vector<double>{4.0}));
    EXPECT_TRUE(collisionStats.bottomFreePathSamples.empty());

    r.truePathI = true;
    r.contactJ.z = 0.009;  // below domain_size / 100: both paths count as near the floor
    collide(2, r);
    EXPECT_EQ(collisionStats.bottomFreePathSamples, (std::vector<double>{0.3, 0.4}));
    EXPECT_EQ(collisionStats.freePathSamples, (std::vector<double>{0.4, 0.3, 0.4}));
}

TEST_F(StatisticsTest, ContactPointIsOnTheSurfaceOfParticleI) {
    config.sample_pca = true;
    config.sample_pca_after = 0;
    config.sample_pca_until = 10;
    config.flush_pca_buffer_every = 1000;
    CollisionRecord r = headOn(0, 1);
    r.contactJ = {0.5, 0.5, 0.48};  // j below i, 0.02 apart; i has radius 0.01
    collide(3, r);
    EXPECT_EQ(seriesBuffers.pcaBuffer, (std::vector<double>{3.0, 0.5, 0.5, 0.49}));
    collide(11, r);
    EXPECT_EQ(seriesBuffers.pcaBuffer.size(), 4u);
}

TEST_F(StatisticsTest, CollisionVelocitiesPerPairAndPerParticle) {
    config.log_collision_velocity = true;
    CollisionRecord r = headOn(0, 1);  // species 0 and 1
    r.normalVelI = 2.0;
    r.normalVelJ = -1.0;
    r.approachSpeed = 3.0;
    collide(1, r);
    const VelocityLogs& v = velocityLogs;
    EXPECT_EQ(v.collisionVelocitySamples, (std::vector<double>{3.0}));
    EXPECT_EQ(v.collisionVelocity01Samples, (std::vector<double>{3.0}));
    EXPECT_EQ(v.particleCollisionVelocitySamples, (std::vector<double>{-1.0, -2.0}));
    EXPECT_EQ(v.particleCollisionVelocity0Samples, (std::vector<double>{-2.0}));
    EXPECT_EQ(v.particleCollisionVelocity1Samples, (std::vector<double>{-1.0}));

    r = headOn(1, 3);  // two species-1 particles, j the faster one along n
    r.normalVelI = -0.5;
    r.normalVelJ = 0.25;
    collide(2, r);
    EXPECT_EQ(v.collisionVelocity11Samples, (std::vector<double>{2.0}));
    EXPECT_EQ(v.particleCollisionVelocity1Samples, (std::vector<double>{-1.0, -0.5, -0.25}));
    EXPECT_TRUE(v.collisionVelocity00Samples.empty());
}

TEST_F(StatisticsTest, SpeciesTemperaturesFromPeculiarVelocities) {
    // Species 0 (particles 0, 2) drifts at +x with thermal speeds +-1 along y; species 1
    // (particles 1, 3) sits still. Only the peculiar motion counts.
    placeParticle(0, {0.1, 0.5, 0.5}, {5.0, 1.0, 0.0}, 0.01, 2.0, 0);
    placeParticle(2, {0.5, 0.5, 0.5}, {5.0, -1.0, 0.0}, 0.01, 2.0, 0);
    config.species_stats_every = 10;
    config.flush_species_stats_every = 1000;
    collide(10, headOn(0, 1));
    const std::vector<double>& record = seriesBuffers.speciesTemperatureBuffer;
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[0], 10.0);
    EXPECT_DOUBLE_EQ(record[1], (2.0 / 3.0) * 1.0 / BOLTZMANN);  // K = 2 x 0.5 x 2 x 1, n = 2
    EXPECT_EQ(record[2], 0.0);
    EXPECT_EQ(seriesBuffers.speciesSampleCount, 1u);

    // A species index without particles reads 0 K, not NaN.
    for (int32_t p = 0; p < 4; ++p) sim.species[static_cast<size_t>(p)] = p < 2 ? 0 : 2;
    buildSpecies();
    collide(20, headOn(0, 1));
    ASSERT_EQ(record.size(), 7u);
    EXPECT_EQ(record[5], 0.0);
    EXPECT_FALSE(std::isnan(record[6]));
}

// The profile pass handles one particle at a time; it must give exactly what the three
// passes give: energies from the stored velocities, then everyone advanced to the clock
// (under gravity, which changes velZ), then each profile fed in index order.
TEST(ProfilePassTest, OnePassEqualsEnergiesThenAdvanceThenAdd) {
    resetAll();
    setupBox(64, 1.0, 4, true, 9.81);
    config.min_radius = 0.01;
    config.profile_num_bins = 7;
    buildAccumulators();
    std::mt19937_64 random(9);
    std::uniform_real_distribution<double> height(0.02, 0.98), speed(-2.0, 2.0);
    for (int32_t p = 0; p < 64; ++p) {
        placeParticle(p, {height(random), height(random), height(random)}, {speed(random), speed(random), speed(random)},
                      0.01, 1.0 + p % 3);
    }
    sim.simulationTime = 0.05;  // everyone flew since t = 0
    const CollisionStatistics before = collisionStats;
    const auto motionBefore = sim.motion;
    const auto pathBefore = sim.freePath;
    const auto timeBefore = sim.freeTime;

    sampleEnergyProfiles();
    const CollisionStatistics onePass = collisionStats;
    const auto motionAfter = sim.motion;

    collisionStats = before;
    sim.motion = motionBefore;
    sim.freePath = pathBefore;
    sim.freeTime = timeBefore;
    std::vector<double> energies, heights;
    for (int32_t p = 0; p < 64; ++p) {
        const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
        energies.push_back(0.5 * sim.mass[static_cast<size_t>(p)] * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ));
    }
    advanceAllParticles();
    for (const ParticleMotion& m : sim.motion) heights.push_back(m.posZ);
    collisionStats.logProfile.add(heights, energies);
    collisionStats.linearProfile.add(heights, energies);

    for (const auto& [a, b] : {std::pair{&onePass.logProfile, &collisionStats.logProfile},
                               std::pair{&onePass.linearProfile, &collisionStats.linearProfile}}) {
        EXPECT_EQ(a->counts, b->counts);
        EXPECT_EQ(a->values, b->values);  // bit for bit
        EXPECT_EQ(a->num_instances, 1u);
        EXPECT_EQ(b->num_instances, 1u);
    }
    for (size_t p = 0; p < 64; ++p) EXPECT_EQ(motionAfter[p].velZ, sim.motion[p].velZ);
}

}  // namespace
