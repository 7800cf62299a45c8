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
    // With several species, each species' linear height profile, sampled with the others.
    std::vector<Histogram> speciesProfiles;
    // By species, the free paths and free times by the height at which each flight began
    // (counts: flights; values: their summed lengths or durations), and that height for the
    // flight each particle is on (NaN when unknown: such a flight is left out).
    std::vector<Histogram> freePathProfiles, freeTimeProfiles;
    std::vector<double> flightStartZ;
};

extern CollisionStatistics collisionStats;

void resetCollisionStatistics();

// The accumulators with the ranges of the configuration; throws std::invalid_argument for an
// impossible profile range.
void buildAccumulators();
// The per-species profiles, once the species are known; the flight starts unknown.
void buildSpeciesProfiles(int32_t numSpecies, int32_t numParticles);

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
// The free-path height profiles of every species: free_path_profile_a.json, free_time_profile_a.json, ...
void saveFreePathProfiles();
// The files the four functions above replace whole, as paths below the solution folder
// ("/log_profile.json", ...): the profiles, the species' and free-path profiles of this run's
// species, and the angle histograms.
std::vector<std::string> cumulativeOutputNames();
// A continued run's profiles from their files. Throws InputRefused for a file it cannot use.
void loadEnergyProfiles();
void loadFreePathProfiles();
// A continued run's angle histograms from their files, so that the histograms of a run
// continued in pieces are those of one long run. Throws InputRefused like the profiles.
void loadAngleHistograms();
