#include "persist/snapshots.h"

#include <bit>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "core/particles.h"
#include "core/simulation_config.h"
#include "util/file_output.h"
#include "util/format.h"

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
    snapshotState.lastSnapshotCollisions = sim.collisionCount;
}

// A run that ends on a snapshot count has just taken that snapshot; a second one of the
// same instant would make every reader count one frame too many.
void bufferEndOfRunSnapshot() {
    if (snapshotState.lastSnapshotCollisions == sim.collisionCount) return;
    bufferStateSnapshot();
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
    // Replaced atomically: a continued run reads it, so a kill must not leave it empty. A
    // descriptor that cannot be written ends the run like any other failed write: going on
    // would leave state.bin holding records that state.json does not count.
    if (!replaceFileAtomically(jsonPath, [&](std::ostream& out) { out << descriptor.dump(4) << "\n"; })) {
        throw std::runtime_error("Failed to open file for writing: " + jsonPath);
    }
}

static uintmax_t snapshotRecordBytes() { return sizeof(double) * (1 + 6 * static_cast<uintmax_t>(particleCount())); }

std::optional<double> latestSnapshotTime() {
    const std::string path = solutionFolder + "/state.bin";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const uintmax_t records = std::filesystem::file_size(path, ec) / snapshotRecordBytes();
    if (ec || records == 0) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    double time = 0.0;
    in.seekg(static_cast<std::streamoff>((records - 1) * snapshotRecordBytes()));
    in.read(reinterpret_cast<char*>(&time), sizeof time);
    if (!in) return std::nullopt;
    return time;
}

// A run killed between appending to state.bin and rewriting state.json leaves snapshots that
// state.json does not count, or half a record; one killed after its last restart save leaves
// snapshots of a stretch that the continued run will simulate again. Either would break
// state.bin into something other than one trajectory cut into "states_saved" records.
void trimStateFileToRestartPoint() {
    const std::string path = solutionFolder + "/state.bin";
    std::error_code ec;
    const bool present = std::filesystem::exists(path, ec);
    // Anything but a plain file (a pipe, a device) is left to the writer to deal with.
    if (present && !std::filesystem::is_regular_file(path, ec)) return;
    const uintmax_t size = present ? std::filesystem::file_size(path, ec) : 0;
    if (ec) return;
    const uintmax_t recordBytes = snapshotRecordBytes();
    const uintmax_t records = size / recordBytes;
    uintmax_t keep = records;
    std::ifstream in(path, std::ios::binary);
    while (keep > 0 && in) {
        double time = 0.0;
        in.seekg(static_cast<std::streamoff>((keep - 1) * recordBytes));
        in.read(reinterpret_cast<char*>(&time), sizeof time);
        if (!in || time <= sim.simulationTime) {
            // The earlier run ended on a snapshot of the very state it saved: a continued
            // run that ends at once must not take it again.
            if (in && time == sim.simulationTime) snapshotState.lastSnapshotCollisions = sim.collisionCount;
            break;
        }
        --keep;
    }
    in.close();
    const bool countDiffers = keep != static_cast<uintmax_t>(snapshotState.statesSaved);
    if (present && keep * recordBytes != size) {
        std::filesystem::resize_file(path, keep * recordBytes, ec);
        if (ec) throw std::runtime_error("Failed to trim " + path + ": " + ec.message());
    }
    if (keep * recordBytes != size || countDiffers) {
        std::cout << RED << "state.bin held " << records << " whole snapshots" << (size % recordBytes ? " and part of one" : "")
                  << " and state.json counted " << snapshotState.statesSaved << "; kept the " << keep
                  << " taken up to the restart point.\n"
                  << RESET;
    }
    snapshotState.statesSaved = static_cast<int>(keep);
}
