#pragma once
// The restart file last_state.json: the complete dynamic state of every particle and the
// clock, from which a later run with another mode continues.

// Writes solutionFolder + "/last_state.json" (replacing it atomically) with its record in
// resume.json. Throws std::runtime_error when either cannot be written.
void saveLastState();

// Reads last_state.json, the height profiles, the angle histograms, the snapshot count of
// state.json and the matching record of resume.json for a continued run. Throws InputRefused for a file the run cannot continue from.
void restoreLastState();
