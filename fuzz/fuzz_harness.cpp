#include "fuzz/fuzz_harness.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app/alterations.h"
#include "app/config.h"
#include "app/entry.h"
#include "app/initial_state.h"
#include "app/particle_config.h"
#include "core/particles.h"
#include "persist/last_state.h"
#include "persist/snapshots.h"
#include "stats/collision_stats.h"
#include "core/check.h"
#include "util/error.h"
#include "util/file_output.h"

namespace fuzzing {

namespace {

using nlohmann::json;

// Three particles of two species in a 10 nm box with walls: small enough that a fuzzer
// runs thousands of loads a second (eight profile bins keep the profile files short),
// varied enough that the species tables, the profile range and the intervals of the
// optional samplers are all in play.
const json& fixedConfig() {
    static const json c = {
        {"mode", "continue"},
        {"log_animation", false},
        {"collision_progress_every", 1000},
        {"reflective_z", true},
        {"g", 0.0},
        {"domain_size", 1e-8},
        {"cells_per_dimension", 2},
        {"num_molecules", 3},
        {"min_radius", 1e-10},
        {"max_collision_count", 100000},
        {"reset_stats", false},
        {"profile_num_bins", 8},
        {"stats_after", 0},
        {"sample_pca", true},
        {"sample_collision_angle", true},
    };
    return c;
}

const json& fixedParticlesConfig() {
    static const json c = {{"particles",
                            {{{"diameter", 3.7e-10}, {"mass", 4.65e-26}, {"species", 0}},
                             {{"diameter", 5e-10}, {"mass", 6.6e-26}, {"species", 1}},
                             {{"diameter", 3.7e-10}, {"mass", 4.65e-26}, {"species", 0}}}}};
    return c;
}

const json& fixedLastState() {
    static const json c = {
        {"collision_count", 500},
        {"runtime", 1.5e-11},
        {"posX", {2.1e-9, 5.2e-9, 7.9e-9}},
        {"posY", {1.8e-9, 5.1e-9, 3.3e-9}},
        {"posZ", {2.2e-9, 4.7e-9, 6.9e-9}},
        {"velX", {310.0, -90.0, -215.0}},
        {"velY", {-110.0, 240.0, -135.0}},
        {"velZ", {35.0, -300.0, 265.0}},
        {"freePath", {1e-10, 2e-10, 0.0}},
        {"freeTime", {3e-13, 6e-13, 0.0}},
        {"truePath", {true, false, true}},
    };
    return c;
}

const json& fixedSnapshotDescriptor() {
    static const json c = {{"collision_count", 500}, {"num_molecules", 3}, {"states_saved", 4}};
    return c;
}

// The four files of a continued run in the order of the selector byte.
constexpr const char* RESTORE_FILES[] = {"last_state.json", "state.json", "log_profile.json", "linear_profile.json"};

[[noreturn]] void harnessFailure(const std::string& what) {
    std::cerr << "fuzz harness: " << what << "\n";
    std::abort();
}

// A new file each time rather than an overwritten one: ext4 flushes a file that was
// truncated and rewritten to disk when it is closed, which halved the fuzzers' speed.
void writeBytes(const std::string& path, const void* data, size_t size) {
    std::remove(path.c_str());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) harnessFailure("cannot write " + path);
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) harnessFailure("cannot write " + path);
}

void writeText(const std::string& path, const std::string& text) { writeBytes(path, text.data(), text.size()); }

// The root folder lives as long as the process; each target has its own subfolder so that
// the regression test, which runs every target in one process, never feeds one target's
// input to another as a prerequisite.
struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hardgas-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) harnessFailure("mkdtemp failed in " + pattern);
        path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
};

const std::string& scratchRoot() {
    static const ScratchFolder folder;
    return folder.path;
}

// Program start, then the fixed files that every loader after the config reader needs.
void loadPrerequisites(const std::string& folder, bool withSpecies) {
    resetProgramState();
    solutionFolder = folder;
    try {
        readConfigFile(folder + "/config.json");
        if (withSpecies) loadSpecies();
    } catch (const std::exception& e) {
        harnessFailure(std::string("a fixed prerequisite was refused: ") + e.what());
    }
}

// Writes the fixed files of a target's folder once; returns the folder.
const std::string& targetFolder(Target target) {
    static std::map<Target, std::string> folders;
    if (auto it = folders.find(target); it != folders.end()) return it->second;
    const std::string folder = scratchRoot() + "/" + targetName(target);
    std::filesystem::create_directories(folder);
    if (target != Target::Config) writeText(folder + "/config.json", fixedConfig().dump(4));
    if (target != Target::Config && target != Target::ParticlesConfig) {
        writeText(folder + "/particles_config.json", fixedParticlesConfig().dump(4));
    }
    if (target == Target::Restore) {
        writeText(folder + "/last_state.json", fixedLastState().dump(4));
        writeText(folder + "/state.json", fixedSnapshotDescriptor().dump(4));
        // Profiles as a run writes them: the bins of the fixed configuration, one pass added.
        loadPrerequisites(folder, true);
        for (Histogram* h : {&collisionStats.logProfile, &collisionStats.linearProfile}) {
            h->add({2.2e-9, 4.7e-9, 6.9e-9}, {2.7e-21, 3.4e-21, 2.9e-21});
        }
        collisionStats.logProfile.saveJson(folder + "/log_profile.json");
        collisionStats.linearProfile.saveJson(folder + "/linear_profile.json");
    }
    return folders.emplace(target, folder).first->second;
}

std::string readWhole(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) harnessFailure("cannot read " + path);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    return text;
}

// The valid content of a continued run's file, to put back after an input replaced it.
const std::string& fixedRestoreFile(const std::string& folder, size_t which) {
    static std::string contents[std::size(RESTORE_FILES)];
    if (contents[which].empty()) contents[which] = readWhole(folder + "/" + RESTORE_FILES[which]);
    return contents[which];
}

bool finite(double v) { return std::isfinite(v); }

std::string histogramProblem(const char* name, const Histogram& h) {
    const std::string prefix = std::string(name) + ": ";
    if (h.edges.size() != h.numBins + 1) return prefix + "edges do not match the bins";
    if (h.centers.size() != h.numBins || h.counts.size() != h.numBins || h.values.size() != h.numBins ||
        h.widths.size() != h.numBins) {
        return prefix + "a list does not match the bins";
    }
    if (!std::is_sorted(h.edges.begin(), h.edges.end())) return prefix + "edges out of order";
    for (const std::vector<double>* list : {&h.edges, &h.centers, &h.values, &h.widths}) {
        if (!std::all_of(list->begin(), list->end(), finite)) return prefix + "a value is not finite";
    }
    return "";
}

std::string configProblem() {
    const SimulationConfig& c = config;
    if (c.num_molecules < 1 || particleCount() != c.num_molecules) return "particle count";
    if (c.cells_per_dimension < 1 || !(c.domain_size > 0.0) || !finite(c.domain_size)) return "box";
    if (c.g != 0.0 && !c.reflective_z) return "gravity without walls";
    for (double v : {c.g, c.min_radius, c.purge_queue_above, c.z_temperature, c.metal_z, c.bottom_free_path_divisor}) {
        if (!finite(v)) return "a value is not finite";
    }
    if (!(c.min_radius > 0.0 && c.min_radius < c.domain_size - c.min_radius)) return "profile range";
    const Histogram& profile = collisionStats.linearProfile;
    if (profile.numBins != static_cast<uint64_t>(c.profile_num_bins) || c.profile_num_bins < 1) return "profile bins";
    if (std::string problem = histogramProblem("linear profile", profile); !problem.empty()) return problem;
    return intervalsProblem(c, false);
}

std::string speciesProblem() {
    double largestDiameter = 0.0;
    int32_t maxSpecies = 0;
    for (int32_t k = 0; k < particleCount(); ++k) {
        const auto p = static_cast<size_t>(k);
        const double radius = sim.motion[p].radius;
        if (!finite(radius) || radius < 0.0) return "particle " + std::to_string(k) + ": radius";
        if (!finite(sim.mass[p]) || !(sim.mass[p] > 0.0)) return "particle " + std::to_string(k) + ": mass";
        if (sim.species[p] < 0 || sim.species[p] > 65535) return "particle " + std::to_string(k) + ": species";
        largestDiameter = std::max(largestDiameter, 2.0 * radius);
        maxSpecies = std::max(maxSpecies, sim.species[p]);
    }
    if (config.cellSize < largestDiameter) return "cells narrower than the largest sphere";
    const SpeciesTables& t = speciesTables;
    if (t.numSpecies != maxSpecies + 1 || t.multiSpecies != (t.numSpecies > 1)) return "species count";
    if (t.multiSpecies) {
        if (t.speciesCount.size() != static_cast<size_t>(t.numSpecies)) return "species tables";
        int64_t total = 0;
        for (int32_t count : t.speciesCount) total += count;
        if (total != particleCount()) return "species tables";
    }
    return intervalsProblem(config, t.multiSpecies);
}

std::string motionProblem(const char* arrayName, PositionSource source) {
    for (int32_t k = 0; k < particleCount(); ++k) {
        const ParticleMotion& m = sim.motion[static_cast<size_t>(k)];
        if (!finite(m.velX) || !finite(m.velY) || !finite(m.velZ)) {
            return "particle " + std::to_string(k) + ": velocity not finite";
        }
    }
    return positionProblem(arrayName, source);
}

std::string restoreProblem() {
    if (!finite(sim.simulationTime) || sim.simulationTime < 0.0) return "clock";
    for (int32_t k = 0; k < particleCount(); ++k) {
        const auto p = static_cast<size_t>(k);
        if (sim.motion[p].lastAdvanceTime != sim.simulationTime) return "particle not at the clock";
        if (!finite(sim.freePath[p]) || !finite(sim.freeTime[p])) return "free path not finite";
    }
    if (snapshotState.statesSaved < 0) return "negative snapshot count";
    if (std::string problem = histogramProblem("log profile", collisionStats.logProfile); !problem.empty()) {
        return problem;
    }
    if (std::string problem = histogramProblem("linear profile", collisionStats.linearProfile); !problem.empty()) {
        return problem;
    }
    return motionProblem("pos", PositionSource::SavedState);
}

}  // namespace

const char* targetName(Target target) {
    switch (target) {
        case Target::Config:
            return "fuzz_config";
        case Target::ParticlesConfig:
            return "fuzz_particles_config";
        case Target::InitialState:
            return "fuzz_initial_state";
        case Target::Restore:
            return "fuzz_restore";
        case Target::Alter:
            return "fuzz_alter";
    }
    return "?";
}

// Runs one loader as main would: a refusal is written to standard error as one line.
static Outcome outcomeOf(const std::function<void()>& load) {
    try {
        load();
    } catch (const InputRefused& e) {
        std::cerr << e.what() << "\n";
        return Outcome::Refused;
    } catch (const FatalError&) {
        return Outcome::Fatal;
    }
    return Outcome::Loaded;
}

LoadResult runLoader(Target target, const uint8_t* data, size_t size) {
    const std::string& folder = targetFolder(target);
    LoadResult result;
    switch (target) {
        case Target::Config:
            result.path = folder + "/config.json";
            writeBytes(result.path, data, size);
            resetProgramState();
            solutionFolder = folder;
            result.outcome = outcomeOf([&] { readConfigFile(result.path); });
            break;
        case Target::ParticlesConfig:
            loadPrerequisites(folder, false);
            result.path = folder + "/particles_config.json";
            writeBytes(result.path, data, size);
            result.outcome = outcomeOf(loadSpecies);
            break;
        case Target::InitialState:
            loadPrerequisites(folder, true);
            result.path = folder + "/particles_init.json";
            writeBytes(result.path, data, size);
            result.outcome = outcomeOf(loadInitialState);
            break;
        case Target::Restore: {
            const size_t which = size == 0 ? 0 : data[0] % std::size(RESTORE_FILES);
            const uint8_t* rest = size == 0 ? data : data + 1;
            const size_t restSize = size == 0 ? 0 : size - 1;
            loadPrerequisites(folder, true);
            result.path = folder + "/" + RESTORE_FILES[which];
            const std::string& valid = fixedRestoreFile(folder, which);
            writeBytes(result.path, rest, restSize);
            result.outcome = outcomeOf(restoreLastState);
            writeText(result.path, valid);
            break;
        }
        case Target::Alter:
            loadPrerequisites(folder, true);
            result.path = folder + "/alter.json";
            writeBytes(result.path, data, size);
            result.outcome = applyAlterations() ? Outcome::Loaded : Outcome::Refused;
            break;
    }
    return result;
}

std::string loadedStateProblem(Target target) {
    switch (target) {
        case Target::Config:
            return configProblem();
        case Target::ParticlesConfig:
            return speciesProblem();
        case Target::InitialState:
            return motionProblem("position", PositionSource::FreshStart);
        case Target::Restore:
            return restoreProblem();
        case Target::Alter:
            if (!finite(config.purge_queue_above)) return "purge_queue_above not finite";
            return scheduleProblem(config, speciesTables.multiSpecies);
    }
    return "";
}

int fuzzOneInput(Target target, const uint8_t* data, size_t size) {
    const LoadResult result = runLoader(target, data, size);
    if (result.outcome == Outcome::Loaded) {
        if (std::string problem = loadedStateProblem(target); !problem.empty()) {
            harnessFailure(std::string(targetName(target)) + " accepted " + result.path + " but: " + problem);
        }
    }
    return 0;
}

bool asksForLargeArrays(const uint8_t* data, size_t size) {
    const json doc = json::parse(data, data + size, nullptr, false);
    if (!doc.is_object()) return false;
    for (const char* key : {"num_molecules", "profile_num_bins"}) {
        auto it = doc.find(key);
        if (it != doc.end() && it->is_number() && it->get<double>() > 100000.0) return true;
    }
    return false;
}

}  // namespace fuzzing
