#pragma once
// The run parameters of config.json, one member per key, named by the key.

#include <cstdint>
#include <stdexcept>
#include <string>

struct SimulationConfig {
    // Required keys.
    std::string mode;
    bool log_animation = false;
    uint64_t collision_progress_every = 0;
    bool reflective_z = false;
    double g = 0.0;
    double domain_size = 0.0;
    int32_t cells_per_dimension = 0;
    int32_t num_molecules = 0;
    double min_radius = 0.0;
    uint64_t max_collision_count = 0;

    // Optional keys with their defaults.
    int32_t save_last_state_every = 500000;
    bool log_state = true;
    bool reset_stats = false;
    uint64_t save_particles_state_every = 1;  // N / 20 (at least 1) unless given
    int32_t flush_state_buffer_every = 500000;
    int32_t profile_num_bins = 100;
    int32_t stats_after = 50000000;
    int32_t stats_every = 10000;
    int32_t species_stats_after = 0;
    int32_t species_stats_every = 25000;
    int32_t flush_species_stats_every = 500000;
    int32_t flush_stats_every = 100000;
    double purge_queue_above = 1.2;
    int32_t check_alter_every = 1000000;
    bool sample_pca = false;
    uint64_t sample_pca_after = 0;
    uint64_t sample_pca_until = 1000000;
    uint64_t flush_pca_buffer_every = 500000;
    bool sample_scattering_angle = false;
    uint64_t sample_scattering_angle_after = 0;
    uint64_t sample_scattering_angle_until = 1000000;
    uint64_t save_scattering_angle_every = 500000;
    bool sample_collision_angle = false;
    uint64_t sample_collision_angle_after = 0;
    uint64_t sample_collision_angle_until = 1000000;
    uint64_t flush_collision_angle_buffer_every = 500000;
    bool diffusive_z = false;
    double z_temperature = 273.15;
    bool thermostatted_a = false;
    bool has_metal_z = false;
    double metal_z = 0.0;
    bool log_collision_velocity = false;
    bool log_free_path = false;
    bool log_velocity = false;
    double bottom_free_path_divisor = 100.0;

    bool operator==(const SimulationConfig&) const = default;

    // Derived at load.
    double cellSize = 0.0;
};

extern SimulationConfig config;

// The folder named on the command line; every input and output file lives in it.
extern std::string solutionFolder;

void resetConfig();

// Reads solutionFolder + "/config.json". false: a message is on standard error.
bool loadConfig();

// Non-zero gravity without z walls: a fatal error of the run rather than a bad value, so
// that loadConfig can end the process the way every physics failure does.
struct GravityWithoutWallsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// loadConfig without its console lines and without ending the process: false with a
// message on standard error, or GravityWithoutWallsError. For loadConfig and for harnesses
// that feed the reader arbitrary files.
bool readConfigFile(const std::string& path);

// The memory that num_molecules particles on a grid of cells_per_dimension^3 cells need,
// in bytes (particle arrays, event queue, cell lists): a lower bound, for refusing absurd
// sizes before anything is allocated.
double estimatedRunMemory(int64_t numMolecules, int64_t cellsPerDimension);

// An empty string when the per-collision schedule can run as configured: every collision
// interval that the run will use is at least 1 (the schedule divides by them), and the
// snapshots held between two flushes fit in memory. Otherwise the complaint about the
// first problem.
std::string scheduleProblem(const SimulationConfig& c, bool multiSpecies);

// Snapshots are written no more often than they are taken: a flush interval below the
// snapshot interval is raised to it (compared as unsigned values).
void raiseStateFlushToSnapshotInterval(SimulationConfig& c);

// Ends the process on an unrecoverable condition: "\nERROR: " + message on standard output.
[[noreturn]] void fatalError(const std::string& message);
