#include "persist/last_state.h"

#include <functional>
#include <iomanip>
#include <iostream>
#include <limits>
#include <stdexcept>

#include "app/config.h"
#include "app/initial_state.h"
#include "app/json_input.h"
#include "core/particles.h"
#include "persist/file_output.h"
#include "persist/snapshots.h"
#include "stats/binary_files.h"
#include "stats/collision_stats.h"
#include "stats/velocity_logs.h"

template <typename Field>
static json motionArray(Field field) {
    json::array_t values;
    values.reserve(sim.motion.size());
    for (const ParticleMotion& m : sim.motion) values.emplace_back(m.*field);
    return json(std::move(values));
}

void saveLastState() {
    advanceAllParticles();
    json state = json::object();
    state["collision_count"] = sim.collisionCount;
    state["freePath"] = sim.freePath;
    state["freeTime"] = sim.freeTime;
    state["posX"] = motionArray(&ParticleMotion::posX);
    state["posY"] = motionArray(&ParticleMotion::posY);
    state["posZ"] = motionArray(&ParticleMotion::posZ);
    state["runtime"] = sim.simulationTime;
    json::array_t truePath;
    truePath.reserve(sim.truePath.size());
    for (uint8_t flag : sim.truePath) truePath.emplace_back(flag != 0);
    state["truePath"] = std::move(truePath);
    state["velX"] = motionArray(&ParticleMotion::velX);
    state["velY"] = motionArray(&ParticleMotion::velY);
    state["velZ"] = motionArray(&ParticleMotion::velZ);

    const std::string path = solutionFolder + "/last_state.json";
    // Streamed rather than dumped to a string: for millions of particles the text would
    // double the memory that the save needs.
    if (!replaceFileAtomically(path, [&](std::ostream& out) { out << std::setw(4) << state; })) {
        throw std::runtime_error("Failed to open file for writing: " + path);
    }
    flushCollisionVelocities();
    if (config.log_free_path) {
        CollisionStatistics& s = collisionStats;
        appendAndClearArrayFile(s.freePathSamples, solutionFolder, "/free", "free_path.bin");
        appendAndClearArrayFile(s.freeTimeSamples, solutionFolder, "/free", "free_time.bin");
        appendAndClearArrayFile(s.bottomFreePathSamples, solutionFolder, "/free", "free_path_1_percent.bin");
    }
}

static uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

// The angle windows count the collisions of the whole series, so a continued run moves them
// on by what is already done: after + done - 1 and until + done. With nothing done yet the
// start must not wrap round to the top of the range, which would switch sampling off.
static uint64_t shiftedWindowStart(uint64_t after, uint64_t done) {
    if (done == 0) return after == 0 ? 0 : after - 1;
    return saturatingAdd(after, done - 1);
}

static void readDoubleArray(const json& state, const char* key, const std::function<void(size_t, double)>& store) {
    auto it = state.find(key);
    if (it == state.end()) return;
    if (!it->is_array()) {
        throw InputError("key \"" + std::string(key) + "\": type must be array, but is " + it->type_name());
    }
    if (it->size() != static_cast<size_t>(particleCount())) {
        throw InputError("key \"" + std::string(key) + "\" holds " + std::to_string(it->size()) +
                         " values, but num_molecules is " + std::to_string(particleCount()));
    }
    for (size_t k = 0; k < it->size(); ++k) {
        store(k, asDouble((*it)[k], std::string(key) + "[" + std::to_string(k) + "]"));
    }
}

static void readLastState(const json& state) {
    if (!state.is_object()) throw InputError("the top level must be a JSON object");
    if (auto it = state.find("runtime"); it != state.end()) {
        sim.simulationTime = asDouble(*it, "runtime");
        if (sim.simulationTime < 0.0) throw InputError("key \"runtime\" must not be negative");
    }
    for (ParticleMotion& m : sim.motion) m.lastAdvanceTime = sim.simulationTime;
    if (auto it = state.find("collision_count"); it != state.end()) {
        sim.collisionCount = asUint64(*it, "collision_count");
        const uint64_t done = sim.collisionCount;
        config.sample_collision_angle_after = shiftedWindowStart(config.sample_collision_angle_after, done);
        config.sample_collision_angle_until = saturatingAdd(config.sample_collision_angle_until, done);
        config.sample_scattering_angle_after = shiftedWindowStart(config.sample_scattering_angle_after, done);
        config.sample_scattering_angle_until = saturatingAdd(config.sample_scattering_angle_until, done);
    }
    readDoubleArray(state, "posX", [](size_t k, double v) { sim.motion[k].posX = v; });
    readDoubleArray(state, "posY", [](size_t k, double v) { sim.motion[k].posY = v; });
    readDoubleArray(state, "posZ", [](size_t k, double v) { sim.motion[k].posZ = v; });
    readDoubleArray(state, "velX", [](size_t k, double v) { sim.motion[k].velX = v; });
    readDoubleArray(state, "velY", [](size_t k, double v) { sim.motion[k].velY = v; });
    readDoubleArray(state, "velZ", [](size_t k, double v) { sim.motion[k].velZ = v; });
    readDoubleArray(state, "freePath", [](size_t k, double v) { sim.freePath[k] = v; });
    readDoubleArray(state, "freeTime", [](size_t k, double v) { sim.freeTime[k] = v; });
    if (auto it = state.find("truePath"); it != state.end()) {
        if (!it->is_array() || it->size() != static_cast<size_t>(particleCount())) {
            throw InputError("key \"truePath\" must be an array of " + std::to_string(particleCount()) + " booleans");
        }
        for (size_t k = 0; k < it->size(); ++k) {
            sim.truePath[k] = asBool((*it)[k], "truePath[" + std::to_string(k) + "]") ? 1 : 0;
        }
    }
    if (std::string problem = positionProblem("pos"); !problem.empty()) throw InputError(problem);
}

static bool restoreStatesSaved() {
    const std::string path = solutionFolder + "/state.json";
    json descriptor;
    switch (parseJsonFile(path, descriptor)) {
        case ParseOutcome::CannotOpen:
            snapshotState.statesSaved = 0;
            return true;
        case ParseOutcome::Malformed:
            return false;
        case ParseOutcome::Ok:
            break;
    }
    try {
        if (!descriptor.is_object()) throw InputError("the top level must be a JSON object");
        if (auto it = descriptor.find("states_saved"); it != descriptor.end()) {
            snapshotState.statesSaved = asInt(*it, "states_saved");
        }
    } catch (const InputError& e) {
        reportInputError(path, e.what());
        return false;
    }
    return true;
}

bool restoreLastState() {
    const std::string path = solutionFolder + "/last_state.json";
    json state;
    if (!loadJsonInput(path, "Failed to open file for reading: ", state)) return false;
    try {
        readLastState(state);
    } catch (const InputError& e) {
        reportInputError(path, e.what());
        return false;
    }
    if (!config.reset_stats && !loadEnergyProfiles()) return false;
    return restoreStatesSaved();
}
