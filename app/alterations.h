#pragma once
// Steering a running simulation: alter.json in the solution folder is read at a fixed
// collision cadence and overwrites the intervals, windows and switches that may change
// while running. The file is the only channel from the user to a run in progress.

struct AlterationState {
    bool stopRequested = false;  // the loop ends after the poll that set it
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
