#pragma once
// Loading and checking the run parameters of config.json.

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/simulation_config.h"
#include "util/json_input.h"

// The per-collision steps that use an interval key, and so need it to be at least 1.
enum class IntervalUse : uint8_t {
    None,
    RestartSave,
    Always,  // the progress line and the alter.json poll
    Snapshots,
    Profiles,
    Species,
    Pca,
    ScatteringAngle,
    CollisionAngle,
    Thermo,
};

using ConfigField = std::variant<bool SimulationConfig::*, int32_t SimulationConfig::*, uint64_t SimulationConfig::*,
                                 double SimulationConfig::*, std::string SimulationConfig::*>;

// One key of config.json. The member's type is the key's JSON type; a key that is not
// required keeps the default of SimulationConfig when it is absent.
struct ConfigKey {
    const char* name;
    ConfigField field;
    bool required = false;
    // Allowed range: a value below low (at or below it when lowExclusive) or above high is refused.
    double low = -std::numeric_limits<double>::infinity();
    bool lowExclusive = false;
    double high = std::numeric_limits<double>::infinity();
    // Its place among the keys of alter.json, which reads them in another order; 0: never.
    int alterOrder = 0;
    IntervalUse interval = IntervalUse::None;
    // A rule that runs right after the key is read (present or not), in config.json and in
    // alter.json alike: derived values, sizes, checks that involve earlier keys.
    void (*rule)(SimulationConfig&) = nullptr;
    // The default as the README gives it, where the struct's initial value does not tell.
    const char* defaultText = nullptr;
};

// Every key of config.json, in the order in which config.json is read: the single list from
// which the config loader, the alteration loader and their messages work. Adding a key is
// one line here and one member of SimulationConfig.
std::span<const ConfigKey> configKeys();

// Reads one key into c (if present, or throws InputError when it is required and missing)
// and checks its range; then its rule.
void readConfigKey(const json& doc, const ConfigKey& key, SimulationConfig& c);
void runKeyRule(const ConfigKey& key, SimulationConfig& c);

// Reads solutionFolder + "/config.json", sizes the particle arrays and builds the
// accumulators. Throws InputRefused for a file the run cannot use, and FatalError for
// non-zero gravity without z walls, which ends the run like a physics failure.
void loadConfig();

// loadConfig without its console lines; returns the file's document.
json readConfigFile(const std::string& path);

// The known key nearest to a mistyped one, or an empty string when none is near.
std::string nearestConfigKey(const std::string& name);
// 'key "NAME" is not known', with the nearest known key when there is one.
std::string unknownKeyText(const std::string& name);

// The memory that num_molecules particles on a grid of cells_per_dimension^3 cells need,
// in bytes (particle arrays, event queue, cell lists): a lower bound, for refusing absurd
// sizes before anything is allocated.
double estimatedRunMemory(int64_t numMolecules, int64_t cellsPerDimension);

// What the outputs of a whole run will take on disk, by file, in bytes: an estimate from the
// cadences and the collision budget (the animation log counted at a few kB per collision).
std::vector<std::pair<std::string, double>> estimatedOutputBytes(const SimulationConfig& c);

// An empty string when every collision interval that the run will use is at least 1 (the
// schedule divides by them); otherwise the complaint about the first that is not.
std::string intervalsProblem(const SimulationConfig& c, bool multiSpecies);
// An empty string when the snapshots that wait in memory for the next flush fit in memory:
// no more than the run can take before that flush or before max_collision_count, counted
// from the collisions done so far. Otherwise the complaint.
std::string snapshotBufferProblem(const SimulationConfig& c);
// Both, the intervals first: whether the per-collision schedule can run as configured.
std::string scheduleProblem(const SimulationConfig& c, bool multiSpecies);
// Refuses config.json (InputRefused) when snapshotBufferProblem complains. Called once the
// starting state is loaded, so that a continued run counts only the collisions it has left.
void refuseUnfittingSnapshotBuffer();

// Snapshots are written no more often than they are taken: a flush interval below the
// snapshot interval is raised to it (compared as unsigned values).
void raiseStateFlushToSnapshotInterval(SimulationConfig& c);
