#include "app/summary.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <numbers>
#include <stdexcept>
#include <unistd.h>

#include "app/schedule.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "stats/kinetic_theory.h"
#include "stats/thermo.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"
#include "util/random.h"

namespace {

struct SpeciesFigures {
    int32_t count = 0;
    double mass = 0.0, diameter = 0.0;  // means over the species
};

std::vector<SpeciesFigures> speciesFigures() {
    std::vector<SpeciesFigures> s(static_cast<size_t>(speciesTables.numSpecies));
    for (int32_t p = 0; p < particleCount(); ++p) {
        SpeciesFigures& f = s[static_cast<size_t>(sim.species[static_cast<size_t>(p)])];
        f.count += 1;
        f.mass += sim.mass[static_cast<size_t>(p)];
        f.diameter += 2.0 * sim.motion[static_cast<size_t>(p)].radius;
    }
    for (SpeciesFigures& f : s) {
        if (f.count > 0) {
            f.mass /= f.count;
            f.diameter /= f.count;
        }
    }
    return s;
}

std::string wallsName() {
    if (!config.reflective_z) return "periodic";
    return config.diffusive_z ? "diffusive" : "reflective";
}

json finiteOrNull(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

}  // namespace

void writeRunSummary() {
    const double wall = progressWallSeconds();
    // This process's share, for the timing; the means cover the averaged stretch of the
    // series, which a continued run carries on.
    const uint64_t collisions = sim.collisionCount - progressState.collisionsAtStart;
    const uint64_t averagedCollisions = sim.collisionCount - thermo.meansFromCollisions;
    const double simulated = sim.simulationTime - thermo.meansFromTime;
    const std::vector<SpeciesFigures> species = speciesFigures();
    const double n = particleCount();
    const double L = config.domain_size;
    const double volume = L * L * L;
    double filled = 0.0;
    for (const SpeciesFigures& f : species) filled += f.count * std::numbers::pi * f.diameter * f.diameter * f.diameter / 6;

    json doc;
    json run = {{"collisions", sim.collisionCount},
                {"simulated_time_s", sim.simulationTime},
                {"averaged_from", {{"collisions", thermo.meansFromCollisions}, {"simulated_time_s", thermo.meansFromTime}}},
                {"particles", particleCount()},
                {"walls", wallsName()},
                {"g_m_s2", config.g},
                {"packing_fraction", filled / volume},
                {"domain_size_m", L}};
    json speciesList = json::array();
    for (const SpeciesFigures& f : species) speciesList.push_back({{"count", f.count}, {"mass_kg", f.mass}, {"diameter_m", f.diameter}});
    run["species"] = speciesList;
    if (config.has_metal_z) run["metal_plane_z_m"] = config.metal_z;
    doc["run"] = run;

    // The run's means; the collision rate per particle straight from the count and the clock.
    json means = json::object();
    double temperature = gasTemperature();
    double measuredZ = NAN, measuredZError = NAN;
    for (const ColumnMean& m : thermoRunMeans(solutionFolder + "/thermo.csv")) {
        means[m.name] = {{"mean", finiteOrNull(m.mean)}, {"standard_error", finiteOrNull(m.standardError)}};
        if (m.name.starts_with("T (")) temperature = m.mean;
        if (m.name == "Z") {
            measuredZ = m.mean;
            measuredZError = m.standardError;
        }
    }
    if (simulated > 0.0) means["collisions per particle and second"] = {{"mean", 2.0 * averagedCollisions / (n * simulated)}};
    doc["means"] = means;

    // Theory where it applies: one species in a periodic box for the equation of state and the
    // Enskog figures, gravity for the scale heights.
    json theory = json::object();
    const bool bulk = !config.reflective_z && !config.has_metal_z && species.size() == 1;
    if (bulk && species[0].count > 0) {
        const double phi = filled / volume, density = n / volume;
        const double zVirial = virialSeriesZ(phi);
        const double chi = contactValue(zVirial, phi);
        theory["Z (virial series)"] = zVirial;
        theory["Z (Carnahan-Starling)"] = carnahanStarlingZ(phi);
        theory["contact value (virial series)"] = chi;
        theory["Enskog collisions per particle and second"] =
            enskogCollisionFrequency(density, species[0].diameter, temperature, species[0].mass, chi);
        theory["Enskog mean free path (m)"] = enskogMeanFreePath(density, species[0].diameter, chi);
        theory["temperature used (K)"] = temperature;
    }
    if (config.g != 0.0) {
        json heights = json::array();
        for (const SpeciesFigures& f : species) heights.push_back(finiteOrNull(BOLTZMANN * temperature / (f.mass * config.g)));
        theory["barometric scale height per species (m)"] = heights;
        theory["temperature used (K)"] = temperature;
    }
    doc["theory"] = theory;
    doc["timing"] = {{"wall_seconds", wall},
                     {"collisions", collisions},
                     {"collisions_per_second", wall > 0.0 ? json(collisions / wall) : json(nullptr)}};

    const std::string path = solutionFolder + "/summary.json";
    if (!replaceFileAtomically(path, [&](std::ostream& out) { out << std::setw(4) << doc; })) {
        throw std::runtime_error("Failed to open file for writing: " + path);
    }

    if (!progressState.onTerminal) return;
    std::cout << "\nSummary (" << path << "): " << formatThousands(collisions) << " collisions in " << std::setprecision(3)
              << wall << " s, " << (wall > 0.0 ? collisions / wall : 0.0) << " collisions/s; T = " << temperature << " K";
    if (std::isfinite(measuredZ)) {
        std::cout << "; Z = " << measuredZ << " +- " << measuredZError;
        if (theory.contains("Z (virial series)")) std::cout << " (virial series " << theory["Z (virial series)"].get<double>() << ")";
    }
    std::cout << "\n";
}
