#pragma once
// Diameter, mass and species of every particle (particles_config.json).

#include "core/species.h"

// Reads solutionFolder + "/particles_config.json" and builds the species tables. Throws
// InputRefused for a file the run cannot use.
void loadSpecies();
