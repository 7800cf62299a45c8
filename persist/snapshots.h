#pragma once
// Trajectory snapshots: the clock plus position and velocity of every particle, gathered in
// memory and appended to state.bin in batches; state.json tells a reader how to cut it.

#include <vector>

struct SnapshotState {
    std::vector<std::vector<double>> stateSnapshotBuffer;  // each 1 + 6 N values
    int statesSaved = 0;
};

extern SnapshotState snapshotState;

void resetSnapshotState();
inline const std::vector<std::vector<double>>& stateSnapshotBuffer() { return snapshotState.stateSnapshotBuffer; }

void bufferStateSnapshot();
void flushStateSnapshots();

// For a continued run: state.bin keeps only its whole snapshots taken up to the restart
// point, and the snapshot count continues from them.
void trimStateFileToRestartPoint();
