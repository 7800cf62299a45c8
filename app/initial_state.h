#pragma once

#include <string>

// Reads positions and velocities from solutionFolder + "/particles_init.json" (fresh runs).
// false: a message is on standard error.
bool loadInitialState();

// Positions must lie in the domain (the cell grid has no cell for anything outside it), and
// spheres must not reach into the z walls or through the metal plane that holds them back.
// Returns the complaint about the first particle that does not, or an empty string;
// arrayName names the input in the message.
std::string positionProblem(const char* arrayName);

// Velocity components must stay below the speed of light; the complaint about the first
// particle that is faster, or an empty string.
std::string velocityProblem(const char* arrayName);
