#pragma once
// What every carried-out collision can feed: free paths, scattering and approach angle
// histograms, and the kinetic-energy height profiles.

#include <string>
#include <vector>

#include "core/collision.h"
#include "stats/histogram.h"
#include "util/vec3.h"

struct CollisionStatistics {
    // Height profiles from min_radius to domain_size - min_radius.
    Histogram logProfile, linearProfile;
    // Angle histograms over [0, pi], by pair: ab unlike, aa both species 0, bb the rest.
    Histogram scatteringAB, scatteringABGain, scatteringABLoss, scatteringAA, scatteringBB;
    Histogram approachAB, approachAA, approachBB;
    // Written and emptied by the restart save.
    std::vector<double> freePathSamples, freeTimeSamples, bottomFreePathSamples;
};

extern CollisionStatistics collisionStats;

void resetCollisionStatistics();

// The ten accumulators with the ranges of the configuration; throws std::invalid_argument
// for an impossible profile range.
void buildAccumulators();

enum class PairKind { Unlike, AA, BB };
PairKind pairKind(int32_t speciesI, int32_t speciesJ);

// Rounding can carry a cosine computed from vectors a hair beyond [-1, 1].
double clampedAcos(double cosine);
// Angle between the relative velocities before and after, in [0, pi].
double scatteringAngle(const Vec3& velIBefore, const Vec3& velJBefore, const Vec3& velIAfter, const Vec3& velJAfter);
// The same angle from j's side, 0 when either relative velocity vanishes.
double approachAngle(const Vec3& velIBefore, const Vec3& velJBefore, const Vec3& velIAfter, const Vec3& velJAfter);

void recordFreePaths(const CollisionRecord& record);
void sampleScatteringAngles(const CollisionRecord& record);
void saveAngleHistograms();
// Energies from the stored velocities, heights after advancing everyone to the clock.
void sampleEnergyProfiles();
void saveEnergyProfiles();
// A continued run's profiles from their files. Throws InputRefused for a file it cannot use.
void loadEnergyProfiles();
// A continued run's angle histograms from their files, so that the histograms of a run
// continued in pieces are those of one long run. Throws InputRefused like the profiles.
void loadAngleHistograms();
