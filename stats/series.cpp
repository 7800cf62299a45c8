#include "stats/series.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>

#include "core/particles.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "stats/binary_files.h"
#include "stats/collision_stats.h"
#include "util/file_output.h"
#include "util/random.h"

SeriesBuffers seriesBuffers;

void resetSeriesBuffers() { seriesBuffers = SeriesBuffers{}; }


void sampleCollisionAngle(const CollisionRecord& r) {
    const Vec3& a = r.velIBefore;
    const Vec3& b = r.velJBefore;
    const double la = std::hypot(a.x, a.y, a.z);
    const double lb = std::hypot(b.x, b.y, b.z);
    const double velocityAngle = (la < 1e-40 || lb < 1e-40) ? 0.0 : clampedAcos(dot(a, b) / (la * lb));

    const Vec3 d = r.contactI - r.contactJ;
    const double ld = std::sqrt(dot(d, d));
    if (ld == 0.0) throw std::runtime_error("Particles are at the same position!");
    const Vec3 dHat{d.x / ld, d.y / ld, d.z / ld};
    const Vec3 g = a - b;
    const double lg = std::sqrt(dot(g, g));
    if (lg == 0.0) throw std::runtime_error("Relative velocity is zero (no collision dynamics).");
    // Approaching spheres have g . d < 0: the angle lies in [pi/2, pi], pi head-on.
    const double collisionAngle = clampedAcos(dot(g, dHat) / lg);

    seriesBuffers.collisionAngleBuffer.insert(
        seriesBuffers.collisionAngleBuffer.end(),
        {static_cast<double>(sim.collisionCount), static_cast<double>(sim.species[static_cast<size_t>(r.i)]),
         static_cast<double>(sim.species[static_cast<size_t>(r.j)]), velocityAngle,
         scatteringAngle(r.velIBefore, r.velJBefore, r.velIAfter, r.velJAfter), collisionAngle});
}

// The point of i's surface that faces j.
void samplePca(const CollisionRecord& r) {
    const Vec3 d = r.contactJ - r.contactI;
    const double ld = std::sqrt(dot(d, d));
    const Vec3 dHat{d.x / ld, d.y / ld, d.z / ld};
    const double radius = sim.motion[static_cast<size_t>(r.i)].radius;
    seriesBuffers.pcaBuffer.insert(seriesBuffers.pcaBuffer.end(),
                                   {static_cast<double>(sim.collisionCount), r.contactI.x + radius * dHat.x,
                                    r.contactI.y + radius * dHat.y, r.contactI.z + radius * dHat.z});
}

// Temperatures from the peculiar kinetic energy (velocities relative to the species' mean
// velocity): T = (2/3) (K / n) / k_B. A species without particles has no temperature to
// speak of; it reads 0 rather than NaN.
void sampleSpeciesTemperature() {
    const SpeciesTables& t = speciesTables;
    const size_t numSpecies = static_cast<size_t>(t.numSpecies);
    const size_t n = static_cast<size_t>(particleCount());
    std::vector<Vec3> mean(numSpecies);
    for (size_t p = 0; p < n; ++p) {
        const ParticleMotion& m = sim.motion[p];
        Vec3& sum = mean[static_cast<size_t>(sim.species[p])];
        sum.x += m.velX;
        sum.y += m.velY;
        sum.z += m.velZ;
    }
    for (size_t s = 0; s < numSpecies; ++s) {
        if (t.speciesCount[s] == 0) continue;
        const double count = t.speciesCount[s];
        mean[s] = {mean[s].x / count, mean[s].y / count, mean[s].z / count};
    }
    std::vector<double> energy(numSpecies, 0.0);
    for (size_t p = 0; p < n; ++p) {
        const ParticleMotion& m = sim.motion[p];
        const size_t s = static_cast<size_t>(sim.species[p]);
        const double dx = m.velX - mean[s].x, dy = m.velY - mean[s].y, dz = m.velZ - mean[s].z;
        energy[s] += 0.5 * sim.mass[p] * (dx * dx + dy * dy + dz * dz);
    }
    std::vector<double>& buffer = seriesBuffers.speciesTemperatureBuffer;
    buffer.push_back(static_cast<double>(sim.collisionCount));
    for (size_t s = 0; s < numSpecies; ++s) {
        speciesTables.speciesEnergySum[s] += energy[s];
        buffer.push_back(t.speciesCount[s] == 0 ? 0.0 : (2.0 / 3.0) * (energy[s] / t.speciesCount[s]) / BOLTZMANN);
    }
    seriesBuffers.speciesSampleCount += 1;
}

static void flushBuffer(std::vector<double>& buffer, const char* name, const char* message) {
    const std::string path = solutionFolder + name;
    if (!appendDoubles(path, buffer.data(), buffer.size())) {
        std::cerr << message << path << "\n";
        throw std::runtime_error("Failed to open file: " + path);
    }
    buffer.clear();
}

void flushCollisionAngles() {
    flushBuffer(seriesBuffers.collisionAngleBuffer, "/collision_angle.bin", "Error: cannot open collision angle file: ");
}

void flushPca() { flushBuffer(seriesBuffers.pcaBuffer, "/pca.bin", "Error: cannot open pca file: "); }

void flushSpeciesTemperature() {
    flushBuffer(seriesBuffers.speciesTemperatureBuffer, "/species_temperature.bin",
                "Error: cannot open species temperature file: ");
}

static double meanTemperature(size_t s) {
    const int32_t count = speciesTables.speciesCount[s];
    if (count == 0) return 0.0;
    const double meanEnergy = speciesTables.speciesEnergySum[s] / static_cast<double>(seriesBuffers.speciesSampleCount);
    return (2.0 / 3.0) * (meanEnergy / count) / BOLTZMANN;
}

void writeTemperatureFigure() {
    const double t0 = meanTemperature(0);
    const double t1 = meanTemperature(1);
    if (config.diffusive_z) {
        std::cout << " T: " << (t0 + t1) / 2 << "     ";
    } else {
        std::cout << " dT: " << t0 - t1 << "     ";
    }
    std::cout << std::flush;
}
