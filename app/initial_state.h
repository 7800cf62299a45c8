#pragma once

// Reads positions and velocities from solutionFolder + "/particles_init.json" (fresh runs).
// Throws InputRefused for a file the run cannot start from.
void loadInitialState();
