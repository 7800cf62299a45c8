#include "stats/collision_stats.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/particles.h"
#include "core/simulation_config.h"
#include "util/file_output.h"
#include "util/json_input.h"

CollisionStatistics collisionStats;

void resetCollisionStatistics() { collisionStats = CollisionStatistics{}; }

static constexpr double PI = 3.141592653589793;
static constexpr int32_t ANGLE_BINS = 100;

void buildAccumulators() {
    CollisionStatistics& s = collisionStats;
    const double low = config.min_radius;
    const double high = config.domain_size - config.min_radius;
    s.logProfile = Histogram(low, high, config.profile_num_bins, BinType::Logarithmic);
    s.linearProfile = Histogram(low, high, config.profile_num_bins, BinType::Linear);
    for (Histogram* h : {&s.scatteringAB, &s.scatteringABGain, &s.scatteringABLoss, &s.scatteringAA, &s.scatteringBB,
                         &s.approachAB, &s.approachAA, &s.approachBB}) {
        *h = Histogram(0.0, PI, ANGLE_BINS, BinType::Linear);
    }
}

void buildSpeciesProfiles(int32_t numSpecies, int32_t numParticles) {
    CollisionStatistics& s = collisionStats;
    const double low = config.min_radius;
    const double high = config.domain_size - config.min_radius;
    const Histogram empty(low, high, config.profile_num_bins, BinType::Linear);
    s.speciesProfiles.assign(numSpecies > 1 ? static_cast<size_t>(numSpecies) : 0, empty);
    s.freePathProfiles.assign(static_cast<size_t>(numSpecies), empty);
    s.freeTimeProfiles.assign(static_cast<size_t>(numSpecies), empty);
    s.flightStartZ.assign(static_cast<size_t>(numParticles), std::nan(""));
}

// "/<stem>_a.json" for species 0 (built by appending: GCC 12 warns of a chain of + here).
static std::string speciesFile(const char* stem, size_t species) {
    std::string name = "/";
    name += stem;
    name += '_';
    name += static_cast<char>('a' + species);
    name += ".json";
    return name;
}

PairKind pairKind(int32_t speciesI, int32_t speciesJ) {
    if (speciesI != speciesJ) return PairKind::Unlike;
    return speciesI == 0 ? PairKind::AA : PairKind::BB;
}


double clampedAcos(double cosine) { return std::acos(std::max(-1.0, std::min(1.0, cosine))); }

double scatteringAngle(const Vec3& velIBefore, const Vec3& velJBefore, const Vec3& velIAfter, const Vec3& velJAfter) {
    const Vec3 g = velIBefore - velJBefore;
    const Vec3 h = velIAfter - velJAfter;
    double c = dot(g, h) / (std::sqrt(dot(g, g)) * std::sqrt(dot(h, h)));
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return std::acos(c);
}

double approachAngle(const Vec3& velIBefore, const Vec3& velJBefore, const Vec3& velIAfter, const Vec3& velJAfter) {
    const Vec3 u = velJBefore - velIBefore;
    const Vec3 w = velJAfter - velIAfter;
    const double lu = std::hypot(u.x, u.y, u.z);
    const double lw = std::hypot(w.x, w.y, w.z);
    if (lu < 1e-40 || lw < 1e-40) return 0.0;
    return clampedAcos(dot(u, w) / (lu * lw));
}

// Only a flight that began at a collision is a free path; the first flight after a fresh
// start began wherever the initial state put the particle.
void recordFreePaths(const CollisionRecord& r) {
    CollisionStatistics& s = collisionStats;
    if (r.truePathI) {
        s.freePathSamples.push_back(r.freePathI);
        s.freeTimeSamples.push_back(r.freeTimeI);
    }
    if (r.truePathJ) {
        s.freePathSamples.push_back(r.freePathJ);
        s.freeTimeSamples.push_back(r.freeTimeJ);
    }
    const double limit = config.domain_size / config.bottom_free_path_divisor;
    if (r.contactI.z < limit || r.contactJ.z < limit) {
        if (r.truePathI) s.bottomFreePathSamples.push_back(r.freePathI);
        if (r.truePathJ) s.bottomFreePathSamples.push_back(r.freePathJ);
    }
    // The flight that ends here is filed by the height it began at; the next begins here.
    const auto file = [&](int32_t p, bool truePath, double path, double time) {
        const auto up = static_cast<size_t>(p);
        if (up >= s.flightStartZ.size()) return;
        const auto species = static_cast<size_t>(sim.species[up]);
        if (truePath) {
            s.freePathProfiles[species].accumulate(s.flightStartZ[up], path);
            s.freeTimeProfiles[species].accumulate(s.flightStartZ[up], time);
        }
        s.flightStartZ[up] = sim.motion[up].posZ;
    };
    file(r.i, r.truePathI, r.freePathI, r.freeTimeI);
    file(r.j, r.truePathJ, r.freePathJ, r.freeTimeJ);
}

void sampleScatteringAngles(const CollisionRecord& r) {
    CollisionStatistics& s = collisionStats;
    const double theta = scatteringAngle(r.velIBefore, r.velJBefore, r.velIAfter, r.velJAfter);
    const double phi = approachAngle(r.velIBefore, r.velJBefore, r.velIAfter, r.velJAfter);
    switch (pairKind(sim.species[static_cast<size_t>(r.i)], sim.species[static_cast<size_t>(r.j)])) {
        case PairKind::Unlike:
            s.scatteringAB.addOne(theta, 1.0);
            (r.gainFlag ? s.scatteringABGain : s.scatteringABLoss).addOne(theta, 1.0);
            s.approachAB.addOne(phi, 1.0);
            break;
        case PairKind::AA:
            s.scatteringAA.addOne(theta, 1.0);
            s.approachAA.addOne(phi, 1.0);
            break;
        case PairKind::BB:
            s.scatteringBB.addOne(theta, 1.0);
            s.approachBB.addOne(phi, 1.0);
            break;
    }
}

// The angle histograms with their files, in the order they are written.
static std::vector<std::pair<Histogram*, const char*>> angleHistogramFiles() {
    CollisionStatistics& s = collisionStats;
    return {{&s.scatteringAB, "/scattering_ab.json"},          {&s.scatteringABGain, "/scattering_ab_gain.json"},
            {&s.scatteringABLoss, "/scattering_ab_loss.json"}, {&s.scatteringAA, "/scattering_aa.json"},
            {&s.scatteringBB, "/scattering_bb.json"},          {&s.approachAB, "/approach_ab.json"},
            {&s.approachAA, "/approach_aa.json"},              {&s.approachBB, "/approach_bb.json"}};
}

void saveAngleHistograms() {
    for (const auto& [histogram, name] : angleHistogramFiles()) histogram->saveJson(solutionFolder + name);
}

// One pass over the particles does what three would: each particle's energy depends only
// on its own stored velocity, its advance only on itself, and each profile still receives
// the particles in index order, so the sums come out bit for bit the same.
void sampleEnergyProfiles() {
    Histogram& logProfile = collisionStats.logProfile;
    Histogram& linearProfile = collisionStats.linearProfile;
    std::vector<Histogram>& species = collisionStats.speciesProfiles;
    const int32_t n = particleCount();
    for (int32_t p = 0; p < n; ++p) {
        const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
        // From the stored velocity, before the advance changes velZ under gravity.
        const double energy = 0.5 * sim.mass[static_cast<size_t>(p)] * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ);
        advanceSingleParticle(p);
        logProfile.accumulate(m.posZ, energy);
        linearProfile.accumulate(m.posZ, energy);
        if (!species.empty()) species[static_cast<size_t>(sim.species[static_cast<size_t>(p)])].accumulate(m.posZ, energy);
    }
    logProfile.num_instances += 1;
    linearProfile.num_instances += 1;
    for (Histogram& h : species) h.num_instances += 1;
}

// A per-species histogram and the stem of its file: the name is made where it is used, as
// "<stem>_a.json" (a list of ready-made names sets off a false alarm of GCC 12 under LTO).
struct SpeciesHistogram {
    Histogram* histogram;
    const char* stem;
    size_t species;
};

static std::vector<SpeciesHistogram> speciesProfileFiles() {
    std::vector<SpeciesHistogram> files;
    std::vector<Histogram>& species = collisionStats.speciesProfiles;
    for (size_t k = 0; k < species.size(); ++k) files.push_back({&species[k], "linear_profile", k});
    return files;
}

static std::vector<SpeciesHistogram> freePathProfileFiles() {
    std::vector<SpeciesHistogram> files;
    CollisionStatistics& s = collisionStats;
    for (size_t k = 0; k < s.freePathProfiles.size(); ++k) {
        files.push_back({&s.freePathProfiles[k], "free_path_profile", k});
        files.push_back({&s.freeTimeProfiles[k], "free_time_profile", k});
    }
    return files;
}

void saveEnergyProfiles() {
    collisionStats.logProfile.saveJson(solutionFolder + "/log_profile.json");
    collisionStats.linearProfile.saveJson(solutionFolder + "/linear_profile.json");
    for (const SpeciesHistogram& f : speciesProfileFiles()) f.histogram->saveJson(solutionFolder + speciesFile(f.stem, f.species));
}

void saveFreePathProfiles() {
    for (const SpeciesHistogram& f : freePathProfileFiles()) f.histogram->saveJson(solutionFolder + speciesFile(f.stem, f.species));
}

std::vector<std::string> cumulativeOutputNames() {
    std::vector<std::string> names = {"/log_profile.json", "/linear_profile.json"};
    for (const SpeciesHistogram& f : speciesProfileFiles()) names.push_back(speciesFile(f.stem, f.species));
    for (const SpeciesHistogram& f : freePathProfileFiles()) names.push_back(speciesFile(f.stem, f.species));
    for (const auto& [histogram, name] : angleHistogramFiles()) names.emplace_back(name);
    return names;
}

static void loadHistogram(Histogram& histogram, const std::string& name) {
    const std::string path = solutionFolder + name;
    try {
        histogram.loadJson(path);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
}

static void loadHistograms(const std::vector<std::pair<Histogram*, const char*>>& files) {
    for (const auto& [histogram, name] : files) loadHistogram(*histogram, name);
}

static void loadHistograms(const std::vector<SpeciesHistogram>& files) {
    for (const SpeciesHistogram& f : files) loadHistogram(*f.histogram, speciesFile(f.stem, f.species));
}

void loadEnergyProfiles() {
    loadHistogram(collisionStats.logProfile, "/log_profile.json");
    loadHistogram(collisionStats.linearProfile, "/linear_profile.json");
    loadHistograms(speciesProfileFiles());
}

void loadFreePathProfiles() { loadHistograms(freePathProfileFiles()); }

void loadAngleHistograms() { loadHistograms(angleHistogramFiles()); }
