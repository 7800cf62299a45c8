#pragma once
// The restart file last_state.json: the complete dynamic state of every particle and the
// clock, from which a later run with another mode continues.

#include "persist/resume.h"

// Writes solutionFolder + "/last_state.json" (replacing it atomically) with its record in
// resume.json, which also gets the keys of `extra`. Every output must be on disk before.
// Throws std::runtime_error when either cannot be written.
void saveRestartPoint(RestartKind kind, const json& extra);

// Reads last_state.json and the matching record of resume.json for a continued run; without
// a record, also the height profiles, the angle histograms and the snapshot count of
// state.json, as the files stand. Throws InputRefused for a file the run cannot continue from.
void restoreLastState();

// For a continued run, once it has been found able to start: with a record, every output back
// to the restart point and the accumulators read from the files so restored; without one,
// state.bin trimmed to the snapshots taken up to the restart point.
void restoreOutputsToRestartPointOrTrim();
