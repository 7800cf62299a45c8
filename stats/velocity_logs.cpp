#include "stats/velocity_logs.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>
#include <string>

#include "core/particles.h"
#include "core/species.h"
#include "stats/binary_files.h"
#include "util/file_output.h"

VelocityLogs velocityLogs;

void resetVelocityLogs() { velocityLogs = VelocityLogs{}; }

void writeVelocitySamples() {
    const size_t n = static_cast<size_t>(particleCount());
    std::vector<double> x(n), z(n);
    for (size_t p = 0; p < n; ++p) {
        x[p] = sim.motion[p].velX;
        z[p] = sim.motion[p].velZ;
    }
    writeArrayFile(x, solutionFolder, "/velocity", "velocity_x.bin");
    writeArrayFile(z, solutionFolder, "/velocity", "velocity_z.bin");
    if (!speciesTables.multiSpecies) return;
    for (size_t s = 0; s < static_cast<size_t>(speciesTables.numSpecies); ++s) {
        x.clear();
        z.clear();
        for (int32_t p : speciesTables.speciesMembers[s]) {
            x.push_back(sim.motion[static_cast<size_t>(p)].velX);
            z.push_back(sim.motion[static_cast<size_t>(p)].velZ);
        }
        writeArrayFile(x, solutionFolder, "/velocity", "velocity_x" + std::to_string(s) + ".bin");
        writeArrayFile(z, solutionFolder, "/velocity", "velocity_z" + std::to_string(s) + ".bin");
    }
}

// Each particle's velocity along the line of centres measured away from its partner:
// negative while it moves towards it. For an approaching pair normalVelI > normalVelJ, so
// i gets -normalVelI and j gets normalVelJ.
void recordCollisionVelocities(const CollisionRecord& r) {
    VelocityLogs& v = velocityLogs;
    v.collisionVelocitySamples.push_back(r.approachSpeed);
    const double lo = std::min(r.normalVelI, r.normalVelJ);
    const double hi = std::max(r.normalVelI, r.normalVelJ);
    v.particleCollisionVelocitySamples.push_back(lo);
    v.particleCollisionVelocitySamples.push_back(-hi);
    if (!speciesTables.multiSpecies) return;

    const bool swapped = r.normalVelJ > r.normalVelI;
    const int32_t speciesI = sim.species[static_cast<size_t>(r.i)];
    const int32_t speciesJ = sim.species[static_cast<size_t>(r.j)];
    auto perSpecies = [&](int32_t s) -> std::vector<double>& {
        return s == 0 ? v.particleCollisionVelocity0Samples : v.particleCollisionVelocity1Samples;
    };
    perSpecies(speciesI).push_back(swapped ? lo : -hi);
    perSpecies(speciesJ).push_back(swapped ? -hi : lo);
    if (speciesI != speciesJ) {
        v.collisionVelocity01Samples.push_back(r.approachSpeed);
    } else if (speciesI == 0) {
        v.collisionVelocity00Samples.push_back(r.approachSpeed);
    } else if (speciesI == 1) {
        v.collisionVelocity11Samples.push_back(r.approachSpeed);
    }
}

void flushCollisionVelocities() {
    ensureDirectory(solutionFolder + "/velocity");
    VelocityLogs& v = velocityLogs;
    const std::pair<std::vector<double>*, const char*> files[] = {
        {&v.collisionVelocitySamples, "/velocity/collision_velocity.bin"},
        {&v.collisionVelocity00Samples, "/velocity/collision_velocity00.bin"},
        {&v.collisionVelocity11Samples, "/velocity/collision_velocity11.bin"},
        {&v.collisionVelocity01Samples, "/velocity/collision_velocity01.bin"},
        {&v.particleCollisionVelocitySamples, "/velocity/particle_collision_velocity.bin"},
        {&v.particleCollisionVelocity0Samples, "/velocity/particle_collision_velocity0.bin"},
        {&v.particleCollisionVelocity1Samples, "/velocity/particle_collision_velocity1.bin"},
    };
    for (const auto& [list, name] : files) {
        const std::string path = solutionFolder + name;
        if (!appendDoubles(path, list->data(), list->size())) {
            std::cerr << "Error: cannot open collision velocity file: " << path << "\n";
            throw std::runtime_error("Failed to open file: " + path);
        }
        list->clear();
    }
}
