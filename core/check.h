#pragma once

#include <string>

// Whole-system consistency: every particle in exactly one cell list, the one that holds its
// position at the clock; no two spheres overlapping; counters and clocks sane; every value
// finite. Returns a description of the first problem found, or an empty string.
std::string checkSystem();

// The first pair of overlapping spheres, or an empty string; needs the particles sorted into
// the cell grid.
std::string findOverlap();
