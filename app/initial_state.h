#pragma once

#include <string>

// Reads positions and velocities from solutionFolder + "/particles_init.json" (fresh runs).
// false: a message is on standard error.
bool loadInitialState();

// Positions must lie in the domain: the cell grid has no cell for anything outside it.
// Returns the complaint about the first particle that does not, or an empty string;
// arrayName names the input in the message.
std::string positionProblem(const char* arrayName);
