#pragma once
// Trajectory snapshots: the clock plus position and velocity of every particle, gathered in
// memory and appended to state.bin in batches; state.json tells a reader how to cut it.

#include <cstdint>
#include <optional>
#include <vector>

struct SnapshotState {
    std::vector<std::vector<double>> stateSnapshotBuffer;  // each 1 + 6 N values
    int statesSaved = 0;
    // The collision count of the latest snapshot of the series, when this process knows it.
    std::optional<uint64_t> lastSnapshotCollisions;
};

extern SnapshotState snapshotState;

void resetSnapshotState();
inline const std::vector<std::vector<double>>& stateSnapshotBuffer() { return snapshotState.stateSnapshotBuffer; }

void bufferStateSnapshot();
void flushStateSnapshots();
// The end of a run snapshots the system unless the latest snapshot shows the same state.
void bufferEndOfRunSnapshot();

// For a continued run: state.bin keeps only its whole snapshots taken up to the restart
// point, and the snapshot count continues from them.
void trimStateFileToRestartPoint();
// The clock of the last whole snapshot in state.bin; nothing when it holds none (or is no
// plain file, which the trimming leaves alone too).
std::optional<double> latestSnapshotTime();
