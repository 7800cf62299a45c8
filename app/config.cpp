#include "app/config.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "core/cells.h"
#include "core/events.h"
#include "core/particles.h"
#include "stats/collision_stats.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"

static constexpr int32_t MAX_PROFILE_BINS = 10'000'000;
// Cells are numbered by signed 32-bit integers: 1290^3 is the largest cube below 2^31.
static constexpr int32_t MAX_CELLS_PER_DIMENSION = 1290;


static void requirePositive(bool ok, const std::string& key, const std::string& requirement,
                            const std::string& value) {
    if (!ok) throw InputError("key \"" + key + "\" must be " + requirement + ", but is " + value);
}

static double physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize) : 0.0;
}

static std::string gigabytes(double bytes) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << bytes / 1e9 << " GB";
    return text.str();
}

// Snapshots wait in memory from one flush to the next: a snapshot taken every collision and
// flushed every million would need a million copies of the whole system.
static std::string snapshotBufferProblem(const SimulationConfig& c) {
    if (!c.log_state || c.save_particles_state_every == 0 || c.flush_state_buffer_every < 1) return "";
    const uint64_t flush = static_cast<uint64_t>(c.flush_state_buffer_every);
    const uint64_t snapshots = (flush + c.save_particles_state_every - 1) / c.save_particles_state_every;
    const double needed = static_cast<double>(snapshots) * sizeof(double) * (1.0 + 6.0 * c.num_molecules);
    const double available = physicalMemoryBytes();
    if (available > 0.0 && needed > available / 2) {
        return "key \"flush_state_buffer_every\": " + std::to_string(snapshots) +
               " snapshots held between flushes (one every " + std::to_string(c.save_particles_state_every) +
               " collisions) need about " + gigabytes(needed) + " of memory, more than half of what this machine has (" +
               gigabytes(available) + ")";
    }
    return "";
}

std::string scheduleProblem(const SimulationConfig& c, bool multiSpecies) {
    struct Interval {
        const char* key;
        int64_t value;
        bool used;
    };
    auto asSigned = [](uint64_t v) { return v > INT64_MAX ? INT64_MAX : static_cast<int64_t>(v); };
    const bool profilesReachable =
        c.stats_after < 0 || static_cast<uint64_t>(c.stats_after) < c.max_collision_count;
    const Interval intervals[] = {
        {"save_last_state_every", c.save_last_state_every, true},
        {"collision_progress_every", asSigned(c.collision_progress_every), true},
        {"check_alter_every", c.check_alter_every, true},
        {"save_particles_state_every", asSigned(c.save_particles_state_every), c.log_state},
        {"flush_state_buffer_every", c.flush_state_buffer_every, c.log_state},
        {"stats_every", c.stats_every, profilesReachable},
        {"flush_stats_every", c.flush_stats_every, profilesReachable},
        {"species_stats_every", c.species_stats_every, multiSpecies},
        {"flush_species_stats_every", c.flush_species_stats_every, multiSpecies},
        {"flush_pca_buffer_every", asSigned(c.flush_pca_buffer_every), c.sample_pca},
        {"save_scattering_angle_every", asSigned(c.save_scattering_angle_every), c.sample_scattering_angle},
        {"flush_collision_angle_buffer_every", asSigned(c.flush_collision_angle_buffer_every),
         c.sample_collision_angle},
    };
    for (const Interval& interval : intervals) {
        if (interval.used && interval.value < 1) {
            return "key \"" + std::string(interval.key) + "\" is a collision interval and must be at least 1, but is " +
                   std::to_string(interval.value);
        }
    }
    return snapshotBufferProblem(c);
}

double estimatedRunMemory(int64_t numMolecules, int64_t cellsPerDimension) {
    // Per particle: its arrays, and the queue, which holds up to purge_queue_above (1.2 by
    // default) events per particle and was measured at about two between purges. A lower
    // bound (the process measured about 650 B per particle at its peak, with the parsed
    // input files), so that only what surely cannot run is refused.
    const double perParticle = sizeof(ParticleMotion) + 3 * sizeof(double) + sizeof(uint8_t) +
                               6 * sizeof(int32_t) + 2.0 * (sizeof(Event) + sizeof(EventKey));
    const double cells = static_cast<double>(cellsPerDimension) * static_cast<double>(cellsPerDimension) *
                         static_cast<double>(cellsPerDimension);
    return perParticle * static_cast<double>(numMolecules) + sizeof(Cell) * cells;
}

// A mistyped num_molecules or cells_per_dimension must be refused before the arrays are
// sized: asking for hundreds of gigabytes ends in an out-of-memory kill, not a message.
static void checkRunFitsInMemory(const SimulationConfig& c) {
    const double needed = estimatedRunMemory(c.num_molecules, c.cells_per_dimension);
    const double available = physicalMemoryBytes();
    if (available > 0.0 && needed > available) {
        throw InputError("key \"num_molecules\": " + std::to_string(c.num_molecules) + " particles on " +
                         std::to_string(c.cells_per_dimension) + "^3 cells need about " + gigabytes(needed) +
                         " of memory, more than this machine has (" + gigabytes(available) + ")");
    }
}

void raiseStateFlushToSnapshotInterval(SimulationConfig& c) {
    if (static_cast<uint64_t>(c.flush_state_buffer_every) < c.save_particles_state_every) {
        c.flush_state_buffer_every = static_cast<int32_t>(std::min<uint64_t>(c.save_particles_state_every, INT32_MAX));
    }
}

// The keys in the order in which they are read; the gravity rule sits between them
// because it must stop the load before the domain is even looked at.
static void readConfig(const json& doc) {
    SimulationConfig& c = config;
    c.mode = asString(requireKey(doc, "mode", "mode"), "mode");
    c.log_animation = asBool(requireKey(doc, "log_animation", "log_animation"), "log_animation");
    c.collision_progress_every =
        asUint64(requireKey(doc, "collision_progress_every", "collision_progress_every"), "collision_progress_every");
    sim.simulationTime = 0.0;
    c.reflective_z = asBool(requireKey(doc, "reflective_z", "reflective_z"), "reflective_z");
    c.g = asDouble(requireKey(doc, "g", "g"), "g");
    if (c.g != 0.0 && !c.reflective_z) {
        fatalError(std::string(RED) + "Non-zero gravity requests reflective z boundaries!" + RESET);
    }

    c.domain_size = asDouble(requireKey(doc, "domain_size", "domain_size"), "domain_size");
    requirePositive(c.domain_size > 0.0, "domain_size", "positive", std::to_string(c.domain_size));
    c.cells_per_dimension = asInt(requireKey(doc, "cells_per_dimension", "cells_per_dimension"), "cells_per_dimension");
    requirePositive(c.cells_per_dimension >= 1, "cells_per_dimension", "at least 1",
                    std::to_string(c.cells_per_dimension));
    requirePositive(c.cells_per_dimension <= MAX_CELLS_PER_DIMENSION, "cells_per_dimension",
                    "at most " + std::to_string(MAX_CELLS_PER_DIMENSION), std::to_string(c.cells_per_dimension));
    c.cellSize = c.domain_size / c.cells_per_dimension;

    c.num_molecules = asInt(requireKey(doc, "num_molecules", "num_molecules"), "num_molecules");
    requirePositive(c.num_molecules >= 1, "num_molecules", "at least 1", std::to_string(c.num_molecules));
    c.min_radius = asDouble(requireKey(doc, "min_radius", "min_radius"), "min_radius");
    c.max_collision_count = asUint64(requireKey(doc, "max_collision_count", "max_collision_count"), "max_collision_count");

    checkRunFitsInMemory(c);
    resizeParticleStore(c.num_molecules);

    c.save_particles_state_every = static_cast<uint64_t>(c.num_molecules / 20);
    if (c.save_particles_state_every == 0) c.save_particles_state_every = 1;

    readOptional(doc, "save_last_state_every", c.save_last_state_every);
    readOptional(doc, "log_state", c.log_state);
    readOptional(doc, "reset_stats", c.reset_stats);
    readOptional(doc, "save_particles_state_every", c.save_particles_state_every);
    readOptional(doc, "flush_state_buffer_every", c.flush_state_buffer_every);
    raiseStateFlushToSnapshotInterval(c);

    readOptional(doc, "profile_num_bins", c.profile_num_bins);
    requirePositive(c.profile_num_bins >= 1, "profile_num_bins", "at least 1", std::to_string(c.profile_num_bins));
    // Four lists of this length per profile; beyond this a typo would ask for gigabytes.
    requirePositive(c.profile_num_bins <= MAX_PROFILE_BINS, "profile_num_bins",
                    "at most " + std::to_string(MAX_PROFILE_BINS), std::to_string(c.profile_num_bins));
    try {
        buildAccumulators();
    } catch (const std::invalid_argument& e) {
        throw InputError(std::string("height profiles from min_radius to domain_size - min_radius: ") + e.what());
    }

    readOptional(doc, "stats_after", c.stats_after);
    readOptional(doc, "stats_every", c.stats_every);
    readOptional(doc, "species_stats_after", c.species_stats_after);
    readOptional(doc, "species_stats_every", c.species_stats_every);
    readOptional(doc, "flush_species_stats_every", c.flush_species_stats_every);
    readOptional(doc, "flush_stats_every", c.flush_stats_every);
    readOptional(doc, "purge_queue_above", c.purge_queue_above);
    readOptional(doc, "check_alter_every", c.check_alter_every);
    readOptional(doc, "sample_pca", c.sample_pca);
    readOptional(doc, "sample_pca_after", c.sample_pca_after);
    readOptional(doc, "sample_pca_until", c.sample_pca_until);
    readOptional(doc, "flush_pca_buffer_every", c.flush_pca_buffer_every);
    readOptional(doc, "sample_scattering_angle", c.sample_scattering_angle);
    readOptional(doc, "sample_scattering_angle_after", c.sample_scattering_angle_after);
    readOptional(doc, "sample_scattering_angle_until", c.sample_scattering_angle_until);
    readOptional(doc, "save_scattering_angle_every", c.save_scattering_angle_every);
    readOptional(doc, "sample_collision_angle", c.sample_collision_angle);
    readOptional(doc, "sample_collision_angle_after", c.sample_collision_angle_after);
    readOptional(doc, "sample_collision_angle_until", c.sample_collision_angle_until);
    readOptional(doc, "flush_collision_angle_buffer_every", c.flush_collision_angle_buffer_every);
    readOptional(doc, "diffusive_z", c.diffusive_z);
    readOptional(doc, "z_temperature", c.z_temperature);
    // Thermal walls draw speeds from sqrt(k T / m): zero or below gives no speed or NaN.
    if (c.diffusive_z) {
        requirePositive(c.z_temperature > 0.0, "z_temperature", "positive for thermal walls",
                        std::to_string(c.z_temperature));
    }
    readOptional(doc, "thermostatted_a", c.thermostatted_a);
    readOptional(doc, "has_metal_z", c.has_metal_z);
    readOptional(doc, "metal_z", c.metal_z);
    readOptional(doc, "log_collision_velocity", c.log_collision_velocity);
    readOptional(doc, "log_free_path", c.log_free_path);
    readOptional(doc, "log_velocity", c.log_velocity);
    readOptional(doc, "bottom_free_path_divisor", c.bottom_free_path_divisor);

    if (std::string problem = scheduleProblem(c, false); !problem.empty()) throw InputError(problem);
}

void readConfigFile(const std::string& path) {
    const json doc = loadJsonInput(path, "Cannot open configuration file: ");
    try {
        readConfig(doc);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
}

void loadConfig() {
    std::cout << BLUE << "Loading config.json...";
    readConfigFile(solutionFolder + "/config.json");
    std::cout << BLUE << " Done.\n";
}
