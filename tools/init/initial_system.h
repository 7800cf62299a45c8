#pragma once
// Builds a valid starting state for hardgas: a non-overlapping lattice of spheres with
// Maxwell-Boltzmann velocities of zero total momentum, and the three input files.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct InitOptions {
    int32_t particles = 0;
    double packingFraction = 0.0;  // used when domainSize is 0
    double domainSize = 0.0;
    double diameter = 3.7e-10;  // m (about a nitrogen molecule)
    double mass = 4.65e-26;     // kg
    double temperature = 273.15;
    double fractionB = 0.0;  // share of species b (index 1)
    double diameterB = 0.0;  // 0: same as species a
    double massB = 0.0;      // 0: same as species a
    std::string walls = "periodic";  // periodic, reflective or diffusive z walls
    double wallTemperature = 0.0;    // 0: the gas temperature
    double g = 0.0;
    uint64_t seed = 1;
    uint64_t maxCollisions = 0;  // 0: ten per particle
    std::map<std::string, nlohmann::json> extraConfig;  // further config.json keys
};

struct InitialSystem {
    nlohmann::json config;
    std::vector<double> diameter, mass;
    std::vector<int32_t> species;
    std::vector<double> x, y, z, vx, vy, vz;
};

// Throws std::invalid_argument with a message for the user when the options are unusable.
InitialSystem buildInitialSystem(const InitOptions& options);

// The largest n with L / n at least the diameter (at least 1).
int32_t largestCellCount(double domainSize, double largestDiameter);

// The cells per axis that run fastest: as many as fit, each at least the largest diameter
// wide and holding about CELL_OCCUPANCY_FOR_SPEED particles on average.
inline constexpr double CELL_OCCUPANCY_FOR_SPEED = 0.2;
int32_t fastestCellCount(double domainSize, double largestDiameter, int64_t particles);

// Writes config.json, particles_config.json and particles_init.json into folder.
void writeSolutionFolder(const InitialSystem& system, const std::string& folder);
