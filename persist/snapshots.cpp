#include "persist/snapshots.h"

#include <bit>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app/config.h"
#include "core/particles.h"
#include "persist/file_output.h"

static_assert(std::endian::native == std::endian::little, "state.bin is written in little-endian byte order");

SnapshotState snapshotState;

void resetSnapshotState() { snapshotState = SnapshotState{}; }

void bufferStateSnapshot() {
    advanceAllParticles();
    std::vector<double> snapshot;
    snapshot.reserve(1 + 6 * static_cast<size_t>(particleCount()));
    snapshot.push_back(sim.simulationTime);
    for (const ParticleMotion& m : sim.motion) {
        snapshot.insert(snapshot.end(), {m.posX, m.posY, m.posZ, m.velX, m.velY, m.velZ});
    }
    snapshotState.stateSnapshotBuffer.push_back(std::move(snapshot));
    snapshotState.statesSaved += 1;
}

void flushStateSnapshots() {
    const std::string binPath = solutionFolder + "/state.bin";
    const bool opened = appendBinary(binPath, [](std::ostream& out) {
        for (const std::vector<double>& snapshot : snapshotState.stateSnapshotBuffer) {
            out.write(reinterpret_cast<const char*>(snapshot.data()),
                      static_cast<std::streamsize>(snapshot.size() * sizeof(double)));
        }
    });
    if (!opened) {
        std::cerr << "Error: cannot open collisions file: " << binPath << "\n";
        throw std::runtime_error("Failed to open file: " + binPath);
    }
    snapshotState.stateSnapshotBuffer.clear();

    const nlohmann::json descriptor = {{"collision_count", sim.collisionCount},
                                       {"num_molecules", config.num_molecules},
                                       {"states_saved", snapshotState.statesSaved}};
    const std::string jsonPath = solutionFolder + "/state.json";
    // Replaced atomically: a continued run reads it, so a kill must not leave it empty.
    if (!replaceFileAtomically(jsonPath, [&](std::ostream& out) { out << descriptor.dump(4) << "\n"; })) {
        std::cerr << "Error: cannot write " << jsonPath << "\n";
    }
}
