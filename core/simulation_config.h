#pragma once
// The run parameters of config.json, one member per key, named by the key: plain values
// that every layer may read. Loading and checking them is the application's business.

#include <cstdint>
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
    uint64_t wall_seed = 5489;  // the standard default seed of the 64-bit Mersenne twister
    bool thermostatted_a = false;
    bool has_metal_z = false;
    double metal_z = 0.0;
    bool log_collision_velocity = false;
    bool log_free_path = false;
    bool log_velocity = false;
    double bottom_free_path_divisor = 100.0;
    bool log_thermo = true;
    uint64_t thermo_every = 1;  // N unless given

    bool operator==(const SimulationConfig&) const = default;

    // Derived at load.
    double cellSize = 0.0;
};

extern SimulationConfig config;

void resetConfig();
