#pragma once
// resume.json, beside last_state.json: what a continued run needs besides the particles to go
// on exactly as an unbroken run would (the engine's counters, the statistics held in memory,
// the sampling windows, the length or content of every output), kept apart so that
// last_state.json keeps the format other programs read. The file holds a format version and
// a list of records; each record names the collision count and runtime of the restart point
// it belongs to, so a continued run takes only the one that matches last_state.json.

#include <functional>

#include "util/json_input.h"

// A periodic restart point continues the stretch of the run it interrupts; the one at the
// end of a run starts a new stretch when continued (the angle windows move on by the
// collisions done, reset_stats empties the accumulators).
enum class RestartKind { Periodic, EndOfRun };

struct ResumeState {
    bool found = false;  // a continued run found the record of its restart point
    RestartKind kind = RestartKind::EndOfRun;
    json record;
};
extern ResumeState resumeState;
void resetResumeState();

// Writes the restart point's record, with the keys of `extra` added, around writeRestartFile,
// which replaces last_state.json: first the records already on disk with the new one, then
// the new one alone. A kill or a failed write at any moment thus leaves a record that matches
// whichever last_state.json is on disk. The outputs must be written before: the record holds
// their lengths. Throws std::runtime_error when resume.json cannot be written.
void saveWithResumeRecord(RestartKind kind, const json& extra, const std::function<void()>& writeRestartFile);

// For a continued run, after last_state.json is read: restores from the record that matches
// its collision count and runtime what the run holds in memory (the thermal walls' generator,
// the flight starts, the last pair, the push counter, the thermo interval, the snapshot
// count, and the sampling windows of a periodic restart point). Without the file nothing is
// restored and a warning says so. Throws InputRefused for a file it cannot read or one
// without a matching record.
void restoreResumeRecord();

// For a continued run with a record, before anything is sampled: every output back to the
// restart point. Throws InputRefused for a record it cannot use.
void restoreRecordedOutputs();
