#pragma once

// Fills in the engine's hooks: the per-collision schedule, the animation log when it is on,
// and the console texts of the engine's notices and purges.
void connectOutputs();

// Prepares a fresh run's folder, builds the grid, seeds the queue, runs the event loop to the
// collision budget (or until nothing can happen, or a stop request) and writes the
// end-of-run files. Returns the exit status; throws InputRefused for overlapping spheres.
int runSimulation();
