#pragma once
// resume.json, beside last_state.json: what a continued run needs besides the particles to go
// on as an unbroken run would, kept apart so that last_state.json keeps the format other
// programs read. The file holds a format version and a list of records; each record names
// the collision count and runtime of the restart point it belongs to, so a continued run
// takes only the one that matches last_state.json.

#include <functional>

// Writes the restart point's record around writeRestartFile, which replaces
// last_state.json: first the records already on disk with the new one, then the new one
// alone. A kill or a failed write at any moment thus leaves a record that matches
// whichever last_state.json is on disk.
// Throws std::runtime_error when resume.json cannot be written.
void saveWithResumeRecord(const std::function<void()>& writeRestartFile);

// For a continued run, after last_state.json is read: restores the thermal walls' generator
// from the record matching the restored collision count and runtime. Without the file the
// generator starts from its seed, as it did before the file existed; without a matching
// record it does so too and says why. Throws InputRefused for a file it cannot read.
void restoreResumeRecord();
