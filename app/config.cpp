#include "app/config.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <type_traits>
#include <variant>
#include <vector>
#include <unistd.h>

#include "core/cells.h"
#include "core/events.h"
#include "core/particles.h"
#include "stats/collision_stats.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"

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
// flushed every million would need a million copies of the whole system. A run that ends
// before its next flush takes only the snapshots of the collisions it has left (and one at
// its end), however far away that flush would be.
std::string snapshotBufferProblem(const SimulationConfig& c) {
    if (!c.log_state || c.save_particles_state_every == 0 || c.flush_state_buffer_every < 1) return "";
    const uint64_t flush = static_cast<uint64_t>(c.flush_state_buffer_every);
    const uint64_t save = c.save_particles_state_every;
    const uint64_t left = c.max_collision_count - std::min(sim.collisionCount, c.max_collision_count);
    const uint64_t snapshots = std::min(flush / save + (flush % save != 0), left / save + 1);
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

// Whether the run will use an interval, so that it must be at least 1.
static bool intervalInUse(IntervalUse use, const SimulationConfig& c, bool multiSpecies) {
    switch (use) {
        case IntervalUse::None:
            return false;
        case IntervalUse::RestartSave:
        case IntervalUse::Always:
            return true;
        case IntervalUse::Snapshots:
            return c.log_state;
        case IntervalUse::Profiles:
            return c.stats_after < 0 || static_cast<uint64_t>(c.stats_after) < c.max_collision_count;
        case IntervalUse::Species:
            return multiSpecies;
        case IntervalUse::Pca:
            return c.sample_pca;
        case IntervalUse::ScatteringAngle:
            return c.sample_scattering_angle;
        case IntervalUse::CollisionAngle:
            return c.sample_collision_angle;
        case IntervalUse::Thermo:
            return c.log_thermo;
    }
    return false;
}

static std::string intervalProblem(IntervalUse use, const SimulationConfig& c, bool multiSpecies) {
    if (!intervalInUse(use, c, multiSpecies)) return "";
    for (const ConfigKey& key : configKeys()) {
        if (key.interval != use) continue;
        const int64_t value = std::visit(
            [&](auto field) -> int64_t {
                using T = std::remove_cvref_t<decltype(c.*field)>;
                if constexpr (std::is_same_v<T, int32_t>) return c.*field;
                if constexpr (std::is_same_v<T, uint64_t>) return c.*field > INT64_MAX ? INT64_MAX : int64_t(c.*field);
                return 1;
            },
            key.field);
        if (value < 1) {
            return "key \"" + std::string(key.name) + "\" is a collision interval and must be at least 1, but is " +
                   std::to_string(value);
        }
    }
    return "";
}

// Intervals are checked grouped by the step that uses them, in the order of IntervalUse.
std::string intervalsProblem(const SimulationConfig& c, bool multiSpecies) {
    for (int use = 0; use <= static_cast<int>(IntervalUse::Thermo); ++use) {
        if (std::string problem = intervalProblem(static_cast<IntervalUse>(use), c, multiSpecies); !problem.empty()) {
            return problem;
        }
    }
    return "";
}

std::string scheduleProblem(const SimulationConfig& c, bool multiSpecies) {
    if (std::string problem = intervalsProblem(c, multiSpecies); !problem.empty()) return problem;
    return snapshotBufferProblem(c);
}

void refuseUnfittingSnapshotBuffer() {
    if (std::string problem = snapshotBufferProblem(config); !problem.empty()) {
        refuseInput(solutionFolder + "/config.json", problem);
    }
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

static double windowCollisions(uint64_t after, uint64_t until, uint64_t budget) {
    const uint64_t end = std::min(until, budget);
    return end > after ? static_cast<double>(end - after) : 0.0;
}

std::vector<std::pair<std::string, double>> estimatedOutputBytes(const SimulationConfig& c) {
    const double budget = static_cast<double>(c.max_collision_count);
    const double n = static_cast<double>(c.num_molecules);
    const double d = sizeof(double);
    std::vector<std::pair<std::string, double>> sizes;
    const auto add = [&](const char* what, bool on, double bytes) {
        if (on && bytes > 0.0) sizes.emplace_back(what, bytes);
    };
    add("state.bin", c.log_state && c.save_particles_state_every > 0,
        (budget / static_cast<double>(std::max<uint64_t>(c.save_particles_state_every, 1)) + 1.0) * d * (1.0 + 6.0 * n));
    add("collision_angle.bin", c.sample_collision_angle,
        6 * d * windowCollisions(c.sample_collision_angle_after, c.sample_collision_angle_until, c.max_collision_count));
    add("pca.bin", c.sample_pca, 4 * d * windowCollisions(c.sample_pca_after, c.sample_pca_until, c.max_collision_count));
    add("free/", c.log_free_path, 4 * d * budget);               // path and time of both partners
    add("velocity/ (collision velocities)", c.log_collision_velocity, 5 * d * budget);
    add("velocity/ (velocity samples)", c.log_velocity, 2 * d * budget);  // vx and vz of N particles every N
    add("animation_entries.json", c.log_animation, 4000.0 * budget);     // a few events of about 1 kB each
    add("thermo.csv", c.log_thermo, 400.0 * budget / static_cast<double>(std::max<uint64_t>(c.thermo_every, 1)));
    return sizes;
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

// The rules that sit between the keys, run right after their key is read: each may stop
// the load before a later key is even looked at.

static void ruleGravityNeedsWalls(SimulationConfig& c) {
    if (c.g != 0.0 && !c.reflective_z) {
        fatalError(std::string(RED) + "Non-zero gravity requests reflective z boundaries!" + RESET);
    }
}

static void ruleCellSize(SimulationConfig& c) { c.cellSize = c.domain_size / c.cells_per_dimension; }

static void ruleSizeParticleArrays(SimulationConfig& c) {
    checkRunFitsInMemory(c);
    resizeParticleStore(c.num_molecules);
    c.save_particles_state_every = std::max<uint64_t>(static_cast<uint64_t>(c.num_molecules / 20), 1);
    c.thermo_every = static_cast<uint64_t>(c.num_molecules);
}

static void ruleBuildAccumulators(SimulationConfig&) {
    try {
        buildAccumulators();
    } catch (const std::invalid_argument& e) {
        throw InputError(std::string("height profiles from min_radius to domain_size - min_radius: ") + e.what());
    }
}

// Thermal walls draw speeds from sqrt(k T / m): zero or below gives no speed or NaN.
static void ruleThermalWallTemperature(SimulationConfig& c) {
    if (c.diffusive_z && !(c.z_temperature > 0.0)) {
        throw InputError("key \"z_temperature\" must be positive for thermal walls, but is " +
                         shortestNumber(c.z_temperature) + " K");
    }
}

static std::string limitText(double limit) {
    return std::abs(limit) < 1e15 && limit == std::trunc(limit) ? std::to_string(static_cast<int64_t>(limit))
                                                               : shortestNumber(limit);
}

template <typename T>
static std::string valueText(T value) {
    if constexpr (std::is_floating_point_v<T>) {
        return shortestNumber(value);
    } else {
        return std::to_string(value);
    }
}

template <typename T>
static void checkLimits(const ConfigKey& key, T value) {
    const double v = static_cast<double>(value);
    std::string requirement;
    if (key.low == 0.0 && key.lowExclusive && !(v > 0.0)) requirement = "positive";
    if (requirement.empty() && !key.lowExclusive && v < key.low) requirement = "at least " + limitText(key.low);
    if (requirement.empty() && v > key.high) requirement = "at most " + limitText(key.high);
    if (!requirement.empty()) {
        throw InputError("key \"" + std::string(key.name) + "\" must be " + requirement + ", but is " +
                         valueText(value));
    }
}

void readConfigKey(const json& doc, const ConfigKey& key, SimulationConfig& c) {
    std::visit(
        [&](auto field) {
            using T = std::remove_cvref_t<decltype(c.*field)>;
            const auto found = doc.is_object() ? doc.find(key.name) : doc.end();
            if (found == doc.end() && !key.required) return;
            const json& value = key.required ? requireKey(doc, key.name, key.name) : *found;
            if constexpr (std::is_same_v<T, bool>) {
                c.*field = asBool(value, key.name);
            } else if constexpr (std::is_same_v<T, int32_t>) {
                c.*field = asInt(value, key.name);
            } else if constexpr (std::is_same_v<T, uint64_t>) {
                c.*field = asUint64(value, key.name);
            } else if constexpr (std::is_same_v<T, double>) {
                c.*field = asDouble(value, key.name);
            } else {
                c.*field = asString(value, key.name);
            }
            if constexpr (!std::is_same_v<T, bool> && !std::is_same_v<T, std::string>) checkLimits(key, c.*field);
        },
        key.field);
}

void runKeyRule(const ConfigKey& key, SimulationConfig& c) {
    if (key.rule != nullptr) key.rule(c);
}

// Cells are numbered by signed 32-bit integers: 1290^3 is the largest cube below 2^31.
static constexpr double MAX_CELLS_PER_DIMENSION = 1290;
// Four lists of this length per profile; beyond this a typo would ask for gigabytes.
static constexpr double MAX_PROFILE_BINS = 10'000'000;

// clang-format off
static const ConfigKey CONFIG_KEYS[] = {
    {.name = "mode", .field = &SimulationConfig::mode, .required = true},
    {.name = "log_animation", .field = &SimulationConfig::log_animation, .required = true},
    {.name = "collision_progress_every", .field = &SimulationConfig::collision_progress_every, .required = true, .interval = IntervalUse::Always},
    {.name = "reflective_z", .field = &SimulationConfig::reflective_z, .required = true},
    {.name = "g", .field = &SimulationConfig::g, .required = true, .rule = ruleGravityNeedsWalls},
    {.name = "domain_size", .field = &SimulationConfig::domain_size, .required = true, .low = 0.0, .lowExclusive = true},
    {.name = "cells_per_dimension", .field = &SimulationConfig::cells_per_dimension, .required = true, .low = 1, .high = MAX_CELLS_PER_DIMENSION, .rule = ruleCellSize},
    {.name = "num_molecules", .field = &SimulationConfig::num_molecules, .required = true, .low = 1},
    {.name = "min_radius", .field = &SimulationConfig::min_radius, .required = true},
    {.name = "max_collision_count", .field = &SimulationConfig::max_collision_count, .required = true, .rule = ruleSizeParticleArrays},
    {.name = "save_last_state_every", .field = &SimulationConfig::save_last_state_every, .alterOrder = 1, .interval = IntervalUse::RestartSave},
    {.name = "log_state", .field = &SimulationConfig::log_state, .alterOrder = 8},
    {.name = "reset_stats", .field = &SimulationConfig::reset_stats},
    {.name = "save_particles_state_every", .field = &SimulationConfig::save_particles_state_every, .alterOrder = 9, .interval = IntervalUse::Snapshots, .defaultText = "N/20, at least 1"},
    {.name = "flush_state_buffer_every", .field = &SimulationConfig::flush_state_buffer_every, .alterOrder = 10, .interval = IntervalUse::Snapshots, .rule = raiseStateFlushToSnapshotInterval},
    {.name = "profile_num_bins", .field = &SimulationConfig::profile_num_bins, .low = 1, .high = MAX_PROFILE_BINS, .rule = ruleBuildAccumulators},
    {.name = "stats_after", .field = &SimulationConfig::stats_after, .alterOrder = 2},
    {.name = "stats_every", .field = &SimulationConfig::stats_every, .alterOrder = 3, .interval = IntervalUse::Profiles},
    {.name = "species_stats_after", .field = &SimulationConfig::species_stats_after, .alterOrder = 4},
    {.name = "species_stats_every", .field = &SimulationConfig::species_stats_every, .alterOrder = 5, .interval = IntervalUse::Species},
    {.name = "flush_species_stats_every", .field = &SimulationConfig::flush_species_stats_every, .alterOrder = 6, .interval = IntervalUse::Species},
    {.name = "flush_stats_every", .field = &SimulationConfig::flush_stats_every, .alterOrder = 7, .interval = IntervalUse::Profiles},
    {.name = "purge_queue_above", .field = &SimulationConfig::purge_queue_above, .alterOrder = 13},
    {.name = "check_alter_every", .field = &SimulationConfig::check_alter_every, .interval = IntervalUse::Always},
    {.name = "sample_pca", .field = &SimulationConfig::sample_pca},
    {.name = "sample_pca_after", .field = &SimulationConfig::sample_pca_after, .alterOrder = 14},
    {.name = "sample_pca_until", .field = &SimulationConfig::sample_pca_until, .alterOrder = 15},
    {.name = "flush_pca_buffer_every", .field = &SimulationConfig::flush_pca_buffer_every, .alterOrder = 16, .interval = IntervalUse::Pca},
    {.name = "sample_scattering_angle", .field = &SimulationConfig::sample_scattering_angle},
    {.name = "sample_scattering_angle_after", .field = &SimulationConfig::sample_scattering_angle_after},
    {.name = "sample_scattering_angle_until", .field = &SimulationConfig::sample_scattering_angle_until},
    {.name = "save_scattering_angle_every", .field = &SimulationConfig::save_scattering_angle_every, .interval = IntervalUse::ScatteringAngle},
    {.name = "sample_collision_angle", .field = &SimulationConfig::sample_collision_angle, .alterOrder = 17},
    {.name = "sample_collision_angle_after", .field = &SimulationConfig::sample_collision_angle_after, .alterOrder = 18},
    {.name = "sample_collision_angle_until", .field = &SimulationConfig::sample_collision_angle_until, .alterOrder = 19},
    {.name = "flush_collision_angle_buffer_every", .field = &SimulationConfig::flush_collision_angle_buffer_every, .alterOrder = 20, .interval = IntervalUse::CollisionAngle},
    {.name = "diffusive_z", .field = &SimulationConfig::diffusive_z},
    {.name = "z_temperature", .field = &SimulationConfig::z_temperature, .rule = ruleThermalWallTemperature},
    {.name = "wall_seed", .field = &SimulationConfig::wall_seed},
    {.name = "thermostatted_a", .field = &SimulationConfig::thermostatted_a},
    {.name = "has_metal_z", .field = &SimulationConfig::has_metal_z},
    {.name = "metal_z", .field = &SimulationConfig::metal_z},
    {.name = "log_collision_velocity", .field = &SimulationConfig::log_collision_velocity},
    {.name = "log_free_path", .field = &SimulationConfig::log_free_path},
    {.name = "log_velocity", .field = &SimulationConfig::log_velocity},
    {.name = "bottom_free_path_divisor", .field = &SimulationConfig::bottom_free_path_divisor},
    {.name = "log_thermo", .field = &SimulationConfig::log_thermo},
    {.name = "thermo_every", .field = &SimulationConfig::thermo_every, .interval = IntervalUse::Thermo, .defaultText = "N"},
};
// clang-format on

std::span<const ConfigKey> configKeys() { return CONFIG_KEYS; }

static void readConfig(const json& doc) {
    SimulationConfig& c = config;
    for (const ConfigKey& key : configKeys()) {
        readConfigKey(doc, key, c);
        runKeyRule(key, c);
    }
    if (std::string problem = intervalsProblem(c, false); !problem.empty()) throw InputError(problem);
}

json readConfigFile(const std::string& path) {
    json doc = loadJsonInput(path, "Cannot open configuration file: ");
    try {
        readConfig(doc);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    return doc;
}

// Edits needed to turn a into b (insertions, deletions, substitutions, swaps of neighbours).
static size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::string nearestConfigKey(const std::string& name) {
    std::string nearest;
    size_t best = name.size() / 3 + 2;  // beyond this it is another word, not a typo
    for (const ConfigKey& key : configKeys()) {
        const size_t distance = editDistance(name, key.name);
        if (distance < best) {
            best = distance;
            nearest = key.name;
        }
    }
    return nearest;
}

std::string unknownKeyText(const std::string& name) {
    const std::string nearest = nearestConfigKey(name);
    return "key \"" + name + "\" is not known" + (nearest.empty() ? "" : "; did you mean \"" + nearest + "\"?");
}

// A mistyped key is otherwise ignored without a word, and the run goes on with the default.
static void warnOfUnknownKeys(const json& doc, const std::string& path) {
    for (const auto& item : doc.items()) {
        const std::string& name = item.key();
        const bool known = std::any_of(configKeys().begin(), configKeys().end(),
                                       [&](const ConfigKey& key) { return name == key.name; });
        if (!known) std::cerr << "Warning: " << path << ": " << unknownKeyText(name) << " It is ignored.\n";
    }
}

void loadConfig() {
    std::cout << BLUE << "Loading config.json...";
    const std::string path = solutionFolder + "/config.json";
    const json doc = readConfigFile(path);
    std::cout << BLUE << " Done.\n";
    warnOfUnknownKeys(doc, path);
}
