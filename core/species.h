#pragma once
// The species tables that the species-a thermostat and the species statistics work on,
// built from the species of every particle when particles_config.json is loaded.

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

// numSpecies and multiSpecies from the species array; with several species, the tables too.
void buildSpeciesTables();
