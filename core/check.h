#pragma once

#include <string>

// Whole-system consistency: every particle in exactly one cell list, the one that holds its
// position at the clock; no two spheres overlapping; counters and clocks sane; every value
// finite. Returns a description of the first problem found, or an empty string.
std::string checkSystem();

// The first pair of overlapping spheres, or an empty string; needs the particles sorted into
// the cell grid.
std::string findOverlap();

// Where a set of positions comes from: a fresh start may not place species a across the metal
// plane, but a state the engine saved may hold one passing down through it (the plane holds
// species a back only from below), or turned back up by a collision on the way.
enum class PositionSource { FreshStart, SavedState };

// Positions must lie in the domain (the cell grid has no cell for anything outside it), and
// spheres must not reach into the z walls or, at a fresh start, through the metal plane.
// Returns the complaint about the first particle that does not, or an empty string;
// arrayName names the input in the message.
std::string positionProblem(const char* arrayName, PositionSource source);

// Velocity components must stay below the speed of light; the complaint about the first
// particle that is faster, or an empty string.
std::string velocityProblem(const char* arrayName);
