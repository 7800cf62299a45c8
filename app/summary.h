#pragma once
// summary.json at the end of every run: what ran, the run's means of the thermo table with
// their standard errors, and what kinetic theory expects beside them where it applies.
// Wall-clock figures go only to its "timing" object, so that the rest is a deterministic
// function of the inputs.

void writeRunSummary();
