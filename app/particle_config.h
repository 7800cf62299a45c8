#pragma once
// Diameter, mass and species of every particle (particles_config.json), and the tables
// that the species thermostat and the species statistics work on.

#include <cstdint>
#include <vector>

struct SpeciesTables {
    int32_t numSpecies = 1;
    bool multiSpecies = false;
    // Filled only when multiSpecies; indexed by species.
    std::vector<int32_t> speciesCount;
    std::vector<std::vector<int32_t>> speciesMembers;  // ascending particle indices
    std::vector<double> speciesEnergySum;
};

extern SpeciesTables speciesTables;

void resetSpeciesTables();

// Reads solutionFolder + "/particles_config.json". false: a message is on standard error.
bool loadSpecies();
