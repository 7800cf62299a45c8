#pragma once
// The outputs of a run as they stand at a restart point: how long each appended file was and
// what each file replaced whole held. A continued run brings every output back to that
// point before it samples anything, so that nothing sampled after it is kept twice.

#include <string>
#include <vector>

#include "util/json_input.h"

// The outputs that runs append to, as paths below the solution folder, that exist now:
// state.bin, the sampled series, thermo.csv, and the samples in free/ and velocity/ (the
// per-species velocity files of any species included).
std::vector<std::string> appendedOutputs();

// {"appended": {name: bytes}, "replaced": {name: text}} for every appended output and every
// file that the run replaces whole (state.json, the profiles, the angle histograms), as
// they are on disk now; a replaced file that is missing is recorded as null.
json outputsAtRestartPoint();

// Throws InputError for a record that names anything but this run's outputs or holds values
// of the wrong type; restoreOutputsToRestartPoint checks the same before it changes a file.
void checkRecordedOutputs(const json& outputs);

// Cuts every appended output back to its recorded length and removes those not recorded,
// writes back each replaced file as recorded (or removes it where the record has none), and
// removes the temporary files of writes a kill interrupted; one console line per file it
// changes. A file shorter than recorded is reported: what it lacks cannot be brought back.
// Throws std::runtime_error naming a file it cannot change.
void restoreOutputsToRestartPoint(const json& outputs);
