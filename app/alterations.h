#pragma once
// Steering a running simulation: alter.json in the solution folder is read at a fixed
// collision cadence and overwrites the intervals, windows and switches that may change
// while running. The file is the only channel from the user to a run in progress.

#include "core/simulation_config.h"
#include "util/json_input.h"

struct AlterationState {
    bool stopRequested = false;  // the loop ends after the poll that set it
    SimulationConfig fromFile;   // as config.json gives it, for telling what alter.json changed
};

extern AlterationState alterations;

void resetAlterations();

// Reads solutionFolder + "/alter.json" if it is there. A file that cannot be parsed, or
// that holds a value of the wrong type or an interval below 1, is reported on standard
// error and changes nothing at this poll: a running simulation must never die of a typo.
// false: the file was there and was refused (the message is written).
bool applyAlterations();

// A "stop": true left in alter.json from an earlier run would end this one at its first
// poll; the program never rewrites the user's file, so it says so on standard error.
void warnOfStandingStop();

// The keys alter.json may change whose values in force differ from config.json's, as an
// object in alter.json's form; a run resumed from a periodic restart point goes on with them.
json alteredConfigValues();
// Applies such an object; throws InputError for one that alter.json would refuse.
void applyAlteredConfigValues(const json& altered);
