#pragma once

// Prepares a fresh run's folder, builds the grid, seeds the queue, runs the event loop to the
// collision budget (or until nothing can happen, or a stop request) and writes the
// end-of-run files. Returns the exit status.
int runSimulation();
