#include "persist/last_state.h"

#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "core/check.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "persist/resume.h"
#include "persist/snapshots.h"
#include "stats/binary_files.h"
#include "stats/collision_stats.h"
#include "stats/thermo.h"
#include "stats/velocity_logs.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/json_input.h"

// The file is written as text straight from the arrays, in exactly the form of the JSON
// library's dump(4) (sorted keys, its shortest round-trip numbers): building the document
// tree first took longer than writing it (0.28 s for 256,000 particles, every
// save_last_state_every collisions) and doubled the memory of a save.
struct LastStateText {
    std::ostream& out;
    std::string text;

    void spill() {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    }
    void number(double value) {
        if (!std::isfinite(value)) {
            text += "null";
            return;
        }
        char digits[64];
        const char* end = nlohmann::detail::to_chars(digits, digits + sizeof digits, value);
        text.append(digits, static_cast<size_t>(end - digits));
    }
    void value(double v) { number(v); }
    void value(bool flag) { text += flag ? "true" : "false"; }

    template <typename Get>
    void array(const char* key, size_t count, Get get, bool last = false) {
        text += "    \"";
        text += key;
        text += "\": ";
        if (count == 0) {
            text += "[]";
        } else {
            text += "[\n";
            for (size_t k = 0; k < count; ++k) {
                text += "        ";
                value(get(k));
                text += k + 1 < count ? ",\n" : "\n";
                if (text.size() > (1u << 20)) spill();
            }
            text += "    ]";
        }
        text += last ? "\n" : ",\n";
    }
};

static void writeLastStateText(std::ostream& out) {
    LastStateText w{out, {}};
    const size_t n = sim.motion.size();
    const auto& motion = sim.motion;
    w.text += "{\n    \"collision_count\": " + std::to_string(sim.collisionCount) + ",\n";
    w.array("freePath", n, [](size_t k) { return sim.freePath[k]; });
    w.array("freeTime", n, [](size_t k) { return sim.freeTime[k]; });
    w.array("posX", n, [&](size_t k) { return motion[k].posX; });
    w.array("posY", n, [&](size_t k) { return motion[k].posY; });
    w.array("posZ", n, [&](size_t k) { return motion[k].posZ; });
    w.text += "    \"runtime\": ";
    w.number(sim.simulationTime);
    w.text += ",\n";
    w.array("truePath", n, [](size_t k) { return sim.truePath[k] != 0; });
    w.array("velX", n, [&](size_t k) { return motion[k].velX; });
    w.array("velY", n, [&](size_t k) { return motion[k].velY; });
    w.array("velZ", n, [&](size_t k) { return motion[k].velZ; }, true);
    w.text += "}";
    w.spill();
}

void saveRestartPoint(RestartKind kind, const json& extra) {
    advanceAllParticles();
    saveWithResumeRecord(kind, extra, [] {
        const std::string path = solutionFolder + "/last_state.json";
        if (!replaceFileAtomically(path, writeLastStateText)) {
            throw std::runtime_error("Failed to open file for writing: " + path);
        }
    });
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

static void shiftAngleWindows() {
    const uint64_t done = sim.collisionCount;
    config.sample_collision_angle_after = shiftedWindowStart(config.sample_collision_angle_after, done);
    config.sample_collision_angle_until = saturatingAdd(config.sample_collision_angle_until, done);
    config.sample_scattering_angle_after = shiftedWindowStart(config.sample_scattering_angle_after, done);
    config.sample_scattering_angle_until = saturatingAdd(config.sample_scattering_angle_until, done);
}

static void loadAccumulators() {
    loadEnergyProfiles();
    loadAngleHistograms();
    loadFreePathProfiles();
}

// The per-particle arrays, taken out of the document as the parser reads them and stored
// straight into the particle store: a tree of every array held ~180 bytes per particle at
// once, a third of a continued run's peak memory (N = 256,000). What goes wrong in an array
// is noted and reported once the file is read, in the order of the table.
struct StreamedArray {
    const char* key;
    bool booleans;
    void (*store)(size_t k, const json& value, const std::string& where);
};

static const std::vector<StreamedArray>& streamedArrays() {
    static const std::vector<StreamedArray> arrays = {
        {"posX", false, [](size_t k, const json& v, const std::string& w) { sim.motion[k].posX = asDouble(v, w); }},
        {"posY", false, [](size_t k, const json& v, const std::string& w) { sim.motion[k].posY = asDouble(v, w); }},
        {"posZ", false, [](size_t k, const json& v, const std::string& w) { sim.motion[k].posZ = asDouble(v, w); }},
        {"velX", false, [](size_t k, const json& v, const std::string& w) { sim.motion[k].velX = asDouble(v, w); }},
        {"velY", false, [](size_t k, const json& v, const std::string& w) { sim.motion[k].velY = asDouble(v, w); }},
        {"velZ", false, [](size_t k, const json& v, const std::string& w) { sim.motion[k].velZ = asDouble(v, w); }},
        {"freePath", false, [](size_t k, const json& v, const std::string& w) { sim.freePath[k] = asDouble(v, w); }},
        {"freeTime", false, [](size_t k, const json& v, const std::string& w) { sim.freeTime[k] = asDouble(v, w); }},
        {"truePath", true, [](size_t k, const json& v, const std::string& w) { sim.truePath[k] = asBool(v, w) ? 1 : 0; }},
    };
    return arrays;
}

static void checkStreamedArray(const json& state, const StreamedArray& a, size_t count, const std::string& problem) {
    auto it = state.find(a.key);
    if (it == state.end()) return;
    const size_t n = static_cast<size_t>(particleCount());
    if (a.booleans) {
        if (!it->is_array() || count != n) {
            throw InputError("key \"truePath\" must be an array of " + std::to_string(n) + " booleans");
        }
    } else {
        if (!it->is_array()) {
            throw InputError("key \"" + std::string(a.key) + "\": type must be array, but is " + it->type_name());
        }
        if (count != n) {
            throw InputError("key \"" + std::string(a.key) + "\" holds " + std::to_string(count) +
                             " values, but num_molecules is " + std::to_string(n));
        }
    }
    if (!problem.empty()) throw InputError(problem);
}

// The stream of the arrays and the first value of each that could not be stored.
struct LastStateArrays {
    std::vector<std::string> problems = std::vector<std::string>(streamedArrays().size());
    ArrayStream stream{keys(), [this](size_t a, size_t k, const json& value) { store(a, k, value); }};

    static std::vector<std::string> keys() {
        std::vector<std::string> names;
        for (const StreamedArray& a : streamedArrays()) names.emplace_back(a.key);
        return names;
    }
    void store(size_t a, size_t k, const json& value) {
        if (k >= static_cast<size_t>(particleCount()) || !problems[a].empty()) return;
        try {
            streamedArrays()[a].store(k, value, std::string(streamedArrays()[a].key) + "[" + std::to_string(k) + "]");
        } catch (const InputError& e) {
            problems[a] = e.what();
        }
    }
};

static void readLastState(const json& state, const LastStateArrays& arrays) {
    if (!state.is_object()) throw InputError("the top level must be a JSON object");
    if (auto it = state.find("runtime"); it != state.end()) {
        sim.simulationTime = asDouble(*it, "runtime");
        if (sim.simulationTime < 0.0) throw InputError("key \"runtime\" must not be negative");
    } else if (const std::optional<double> last = latestSnapshotTime(); last && !(*last <= 0.0)) {
        // Without a clock the run would restart at time 0, and the start-up trimming of
        // state.bin would then throw away every snapshot of the earlier runs.
        std::ostringstream text;
        text << "key \"runtime\" is missing, but state.bin holds snapshots up to " << *last
             << " s: a restart at time 0 would cut them all off";
        throw InputError(text.str());
    }
    for (ParticleMotion& m : sim.motion) m.lastAdvanceTime = sim.simulationTime;
    if (auto it = state.find("collision_count"); it != state.end()) sim.collisionCount = asUint64(*it, "collision_count");
    for (size_t a = 0; a < streamedArrays().size(); ++a) {
        checkStreamedArray(state, streamedArrays()[a], arrays.stream.counts[a], arrays.problems[a]);
    }
    if (std::string problem = positionProblem("pos", PositionSource::SavedState); !problem.empty()) throw InputError(problem);
    if (std::string problem = velocityProblem("vel"); !problem.empty()) throw InputError(problem);
}

static void restoreStatesSaved() {
    const std::string path = solutionFolder + "/state.json";
    const std::optional<json> found = loadOptionalJsonInput(path);
    if (!found) {
        snapshotState.statesSaved = 0;
        return;
    }
    const json& descriptor = *found;
    try {
        if (!descriptor.is_object()) throw InputError("the top level must be a JSON object");
        if (auto it = descriptor.find("states_saved"); it != descriptor.end()) {
            // A count of records: a negative one would be carried on and written back, and a
            // reader of state.bin would then cut the file into a negative number of frames.
            const int32_t saved = asInt(*it, "states_saved");
            if (saved < 0) {
                throw InputError("key \"states_saved\" must not be negative, but is " + std::to_string(saved));
            }
            snapshotState.statesSaved = saved;
        }
        // Snapshots of another system size would cut state.bin at the wrong places.
        if (auto it = descriptor.find("num_molecules"); it != descriptor.end()) {
            const int32_t stored = asInt(*it, "num_molecules");
            if (stored != particleCount()) {
                throw InputError("key \"num_molecules\" is " + std::to_string(stored) +
                                 ", but config.json has " + std::to_string(particleCount()) +
                                 ": state.bin holds snapshots of another system");
            }
        }
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
}

void restoreLastState() {
    const std::string path = solutionFolder + "/last_state.json";
    LastStateArrays arrays;
    const json state = loadJsonInput(path, "Failed to open file for reading: ",
                                     [&](int depth, json::parse_event_t event, json& parsed) {
                                         return arrays.stream(depth, event, parsed);
                                     });
    try {
        readLastState(state, arrays);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    restoreResumeRecord();
    if (!resumeState.found || resumeState.kind == RestartKind::EndOfRun) shiftAngleWindows();
    if (resumeState.found) return;
    if (!config.reset_stats) loadAccumulators();
    restoreStatesSaved();
}

void restoreOutputsToRestartPointOrTrim() {
    if (!resumeState.found) {
        trimStateFileToRestartPoint();
        return;
    }
    restoreRecordedOutputs();
    // A state.bin shorter than recorded (something removed snapshots) is cut to whole snapshots
    // and counted anew, so that state.json never counts records state.bin does not hold.
    trimStateFileToRestartPoint();
    // A periodic restart point goes on with the stretch it interrupted, whatever reset_stats says.
    if (resumeState.kind == RestartKind::Periodic || !config.reset_stats) {
        loadAccumulators();
    } else {
        startThermoMeans(solutionFolder + "/thermo.csv");
    }
}
