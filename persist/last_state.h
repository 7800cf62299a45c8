#pragma once
// The restart file last_state.json: the complete dynamic state of every particle and the
// clock, from which a later run with another mode continues.

// Writes solutionFolder + "/last_state.json" (replacing it atomically). Throws
// std::runtime_error when it cannot be written.
void saveLastState();

// Reads last_state.json, the height profiles, the angle histograms and the snapshot count of
// state.json for a continued run. Throws InputRefused for a file the run cannot continue from.
void restoreLastState();
