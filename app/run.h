#pragma once

// Fills in the engine's hooks: the per-collision schedule, the animation log when it is on,
// and the console texts of the engine's notices and purges.
void connectOutputs();

// The hooks, the grid and the cell lists, and the check of the starting state: what a run
// does before it touches any file of the folder. Throws InputRefused for overlapping spheres.
void prepareEngine();

// Prepares a fresh run's folder, builds the grid, seeds the queue, runs the event loop to the
// collision budget (or until nothing can happen, or a stop request) and writes the
// end-of-run files. Returns the exit status; throws InputRefused for overlapping spheres.
int runSimulation();

// From now on SIGTERM ends the run after the event in progress, with its end-of-run files.
void watchForTermination();
