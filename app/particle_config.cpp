#include "app/particle_config.h"

#include <algorithm>
#include <iostream>

#include "app/config.h"
#include "core/particles.h"
#include "stats/collision_stats.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"

// Species indices size the per-species tables, so a stray huge index would make the
// program allocate for species that do not exist.
static constexpr int32_t MAX_SPECIES_INDEX = 65535;

static void readSpeciesEntry(size_t k, const json& entry) {
    const std::string where = "particles[" + std::to_string(k) + "]";
    const double diameter = asDouble(requireKey(entry, "diameter", where + ".diameter"), where + ".diameter");
    const double mass = asDouble(requireKey(entry, "mass", where + ".mass"), where + ".mass");
    const int32_t species = asInt(requireKey(entry, "species", where + ".species"), where + ".species");
    if (diameter < 0.0) throw InputError("key \"" + where + ".diameter\" must not be negative");
    if (mass <= 0.0) throw InputError("key \"" + where + ".mass\" must be positive");
    if (species < 0 || species > MAX_SPECIES_INDEX) {
        throw InputError("key \"" + where + ".species\" must be a species index from 0 to " +
                         std::to_string(MAX_SPECIES_INDEX) + ", but is " + std::to_string(species));
    }
    sim.motion[k].radius = diameter / 2.0;
    sim.mass[k] = mass;
    sim.species[k] = species;
}

// Cells narrower than the largest diameter would let a pair touch across a cell that the
// collision search never looks into.
static void checkCellsHoldLargestSphere() {
    double largestDiameter = 0.0;
    for (const ParticleMotion& m : sim.motion) largestDiameter = std::max(largestDiameter, 2.0 * m.radius);
    if (config.cellSize < largestDiameter) {
        int64_t fitting = static_cast<int64_t>(config.domain_size / largestDiameter);
        while (fitting > 1 && config.domain_size / static_cast<double>(fitting) < largestDiameter) --fitting;
        throw InputError("key \"cells_per_dimension\": " + std::to_string(config.cells_per_dimension) +
                         " cells per axis are narrower than the largest diameter " +
                         shortestNumber(largestDiameter) + " m in particles_config.json; use at most " +
                         std::to_string(std::max<int64_t>(fitting, 1)));
    }
}

void loadSpecies() {
    std::cout << BLUE << "Loading particles_config.json...";
    const std::string path = solutionFolder + "/particles_config.json";
    // The entries are stored as they are read (a tree of them took 300 bytes per particle);
    // the first that cannot be used is reported once the file is read.
    std::string problem;
    ArrayStream stream{{"particles"}, [&](size_t, size_t k, const json& entry) {
                           if (k >= static_cast<size_t>(particleCount()) || !problem.empty()) return;
                           try {
                               readSpeciesEntry(k, entry);
                           } catch (const InputError& e) {
                               problem = e.what();
                           }
                       }};
    const json doc = loadJsonInput(path, "Cannot open configuration file: ",
                                   [&](int depth, json::parse_event_t event, json& parsed) { return stream(depth, event, parsed); });
    try {
        // Without a "particles" list (or without an object to hold one) there are no entries.
        const bool listed = doc.is_object() && doc.contains("particles");
        if (listed && !doc["particles"].is_array()) {
            throw InputError("key \"particles\": type must be array, but is " + std::string(doc["particles"].type_name()));
        }
        if ((listed ? stream.counts[0] : 0) != static_cast<size_t>(config.num_molecules)) {
            throw InputRefused("num_molecules != len(particles)");
        }
        if (!problem.empty()) throw InputError(problem);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    buildSpeciesTables();
    buildSpeciesProfiles(speciesTables.numSpecies, particleCount());
    try {
        checkCellsHoldLargestSphere();
        if (std::string problem = intervalsProblem(config, speciesTables.multiSpecies); !problem.empty()) {
            throw InputError(problem);
        }
    } catch (const InputError& e) {
        refuseInput(solutionFolder + "/config.json", e.what());
    }
    std::cout << BLUE << " Done.\n" << RESET;
}
