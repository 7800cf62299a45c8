#include "core/species.h"

#include <algorithm>

#include "core/particles.h"

SpeciesTables speciesTables;

void resetSpeciesTables() { speciesTables = SpeciesTables{}; }

void buildSpeciesTables() {
    SpeciesTables& t = speciesTables;
    int32_t maxSpecies = 0;
    for (int32_t s : sim.species) maxSpecies = std::max(maxSpecies, s);
    t.numSpecies = maxSpecies + 1;
    t.multiSpecies = t.numSpecies != 1;
    if (!t.multiSpecies) return;
    const auto numSpecies = static_cast<size_t>(t.numSpecies);
    t.speciesCount.assign(numSpecies, 0);
    t.speciesMembers.assign(numSpecies, {});
    t.speciesEnergySum.assign(numSpecies, 0.0);
    for (int32_t k = 0; k < particleCount(); ++k) {
        const auto s = static_cast<size_t>(sim.species[static_cast<size_t>(k)]);
        t.speciesCount[s] += 1;
        t.speciesMembers[s].push_back(k);
    }
}
