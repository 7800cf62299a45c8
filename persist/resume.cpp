#include "persist/resume.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "core/events.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "persist/outputs.h"
#include "persist/snapshots.h"
#include "stats/collision_stats.h"
#include "stats/thermo.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/random.h"

ResumeState resumeState;

void resetResumeState() { resumeState = ResumeState{}; }

// Raised only for a change that an older reader would misread; new keys in a record are
// ignored by readers that do not know them.
static constexpr uint64_t RESUME_FORMAT_VERSION = 1;

static std::string resumePath() { return solutionFolder + "/resume.json"; }

static json finiteOrNull(double z) { return std::isfinite(z) ? json(z) : json(nullptr); }

// The angle windows in force; a periodic restart point continues with them.
struct WindowField {
    const char* name;
    uint64_t SimulationConfig::*field;
};
static constexpr WindowField WINDOWS[] = {
    {"sample_collision_angle_after", &SimulationConfig::sample_collision_angle_after},
    {"sample_collision_angle_until", &SimulationConfig::sample_collision_angle_until},
    {"sample_scattering_angle_after", &SimulationConfig::sample_scattering_angle_after},
    {"sample_scattering_angle_until", &SimulationConfig::sample_scattering_angle_until},
};

static json thermoRecord() {
    const ThermoState& t = thermo;
    return {{"interval_start_time", t.intervalStartTime},
            {"interval_start_collisions", t.intervalStartCollisions},
            {"interval_start_temperature", t.intervalStartTemperature},
            {"virial", t.virial},
            {"wall_momentum", t.wallMomentum},
            {"wall_heat", t.wallHeat},
            {"pair_collisions", t.pairCollisions},
            {"means_from_offset", t.meansFromOffset},
            {"means_from_collisions", t.meansFromCollisions},
            {"means_from_time", t.meansFromTime}};
}

static json currentRecord(RestartKind kind) {
    const RandomGeneratorState wall = saveRandomGenerator();
    json record = {{"collision_count", sim.collisionCount},
                   {"runtime", sim.simulationTime},
                   {"kind", kind == RestartKind::Periodic ? "periodic" : "end"},
                   {"wall_random", {{"engine", wall.engine}, {"normal", wall.normal}}},
                   {"last_pair", {predictionState.lastCollisionI, predictionState.lastCollisionJ}},
                   {"push_count", eventQueue.pushCount},
                   {"thermo", thermoRecord()},
                   {"snapshots",
                    {{"states_saved", snapshotState.statesSaved},
                     {"last_snapshot_collisions", snapshotState.lastSnapshotCollisions
                                                      ? json(*snapshotState.lastSnapshotCollisions)
                                                      : json(nullptr)}}}};
    json windows = json::object();
    for (const WindowField& w : WINDOWS) windows[w.name] = config.*w.field;
    record["windows"] = windows;
    // Where each particle's flight in progress began, for the free-path height profiles;
    // null where it is unknown.
    if (config.log_free_path) {
        json starts = json::array();
        for (double z : collisionStats.flightStartZ) starts.push_back(finiteOrNull(z));
        record["flight_start_z"] = starts;
    }
    record["outputs"] = outputsAtRestartPoint();
    return record;
}

static void writeResumeFile(const json& records) {
    const json file = {{"version", RESUME_FORMAT_VERSION}, {"records", records}};
    const std::string path = resumePath();
    if (!replaceFileAtomically(path, [&](std::ostream& out) { out << std::setw(4) << file; })) {
        throw std::runtime_error("Failed to open file for writing: " + path);
    }
}

// The records of the file on disk, one of which belongs to the last_state.json on disk; none
// when there is no file or it is not one this program wrote (a fresh run does not check it).
static json recordsOnDisk() {
    json file;
    std::string problem;
    if (parseJsonFile(resumePath(), file, problem) != ParseOutcome::Ok || !file.is_object()) return json::array();
    const auto version = file.find("version");
    const auto records = file.find("records");
    if (version == file.end() || *version != RESUME_FORMAT_VERSION || records == file.end() || !records->is_array()) {
        return json::array();
    }
    return *records;
}

// A continued run that ends where the end-of-run record it started from stands has run no
// stretch: typically a kill cut its predecessor's final save short after last_state.json, and
// it is continued to finish that save. It keeps that record as the finished run wrote it, since
// the queue it rebuilt, the windows it moved on and the alterations it never polled belong to a
// stretch that did not happen, and an extension must go on from the record of the one that did.
static bool endsWhereItResumed(RestartKind kind, const json& record) {
    if (kind != RestartKind::EndOfRun || !resumeState.found || resumeState.kind != RestartKind::EndOfRun) return false;
    const json& resumed = resumeState.record;
    return resumed.value("collision_count", json()) == record["collision_count"] &&
           resumed.value("runtime", json()) == record["runtime"] && resumed.value("outputs", json()) == record["outputs"];
}

void saveWithResumeRecord(RestartKind kind, const json& extra, const std::function<void()>& writeRestartFile) {
    json record = currentRecord(kind);
    for (const auto& [key, value] : extra.items()) record[key] = value;
    if (endsWhereItResumed(kind, record)) record = resumeState.record;
    json both = recordsOnDisk();
    if (std::find(both.begin(), both.end(), record) == both.end()) both.push_back(record);
    writeResumeFile(both);
    writeRestartFile();
    writeResumeFile(json::array({record}));
}

// What records of any age hold: the thermal walls' generator and the flight starts.
static void restoreGeneratorAndFlights(const json& record, const std::string& where) {
    const std::string wallKey = where + ".wall_random";
    const json& wall = requireKey(record, "wall_random", wallKey);
    const RandomGeneratorState state{asString(requireKey(wall, "engine", wallKey + ".engine"), wallKey + ".engine"),
                                     asString(requireKey(wall, "normal", wallKey + ".normal"), wallKey + ".normal")};
    if (!restoreRandomGenerator(state)) {
        throw InputError("key \"" + wallKey + "\" does not hold a state of the thermal walls' generator");
    }
    const auto starts = record.find("flight_start_z");
    std::vector<double>& flightStartZ = collisionStats.flightStartZ;
    if (starts == record.end() || flightStartZ.empty()) return;
    const std::string startsKey = where + ".flight_start_z";
    if (!starts->is_array() || starts->size() != flightStartZ.size()) {
        throw InputError("key \"" + startsKey + "\" must be an array of " + std::to_string(flightStartZ.size()) +
                         " heights or nulls");
    }
    for (size_t k = 0; k < flightStartZ.size(); ++k) {
        const json& z = (*starts)[k];
        flightStartZ[k] = z.is_null() ? std::nan("") : asDouble(z, startsKey + "[" + std::to_string(k) + "]");
    }
}

template <size_t Size, typename T>
static void readFixedArray(const json& parent, const char* key, const std::string& where, T (&target)[Size]) {
    const json& list = requireKey(parent, key, where + "." + key);
    if (!list.is_array() || list.size() != Size) {
        throw InputError("key \"" + where + "." + key + "\" must be an array of " + std::to_string(Size) + " numbers");
    }
    for (size_t k = 0; k < Size; ++k) target[k] = asDouble(list[k], where + "." + key + "[" + std::to_string(k) + "]");
}

static void restoreThermo(const json& record, const std::string& where) {
    const std::string key = where + ".thermo";
    const json& t = requireKey(record, "thermo", key);
    ThermoState restored = thermo;
    restored.intervalStartTime = asDouble(requireKey(t, "interval_start_time", key), key + ".interval_start_time");
    restored.intervalStartCollisions =
        asUint64(requireKey(t, "interval_start_collisions", key), key + ".interval_start_collisions");
    restored.intervalStartTemperature =
        asDouble(requireKey(t, "interval_start_temperature", key), key + ".interval_start_temperature");
    restored.virial = asDouble(requireKey(t, "virial", key), key + ".virial");
    readFixedArray(t, "wall_momentum", key, restored.wallMomentum);
    readFixedArray(t, "wall_heat", key, restored.wallHeat);
    const json& pairs = requireKey(t, "pair_collisions", key + ".pair_collisions");
    const size_t species = static_cast<size_t>(speciesTables.numSpecies);
    if (!pairs.is_array() || pairs.size() != species * species) {
        throw InputError("key \"" + key + ".pair_collisions\" must be an array of " + std::to_string(species * species) +
                         " counts");
    }
    restored.pairCollisions.clear();
    for (size_t k = 0; k < pairs.size(); ++k) {
        restored.pairCollisions.push_back(asUint64(pairs[k], key + ".pair_collisions[" + std::to_string(k) + "]"));
    }
    restored.meansFromOffset = asUint64(requireKey(t, "means_from_offset", key), key + ".means_from_offset");
    restored.meansFromCollisions = asUint64(requireKey(t, "means_from_collisions", key), key + ".means_from_collisions");
    restored.meansFromTime = asDouble(requireKey(t, "means_from_time", key), key + ".means_from_time");
    thermo = restored;
}

static void restoreCutRecord(const json& record, const std::string& where) {
    const std::string kindKey = where + ".kind";
    const std::string kind = asString(requireKey(record, "kind", kindKey), kindKey);
    if (kind != "periodic" && kind != "end") throw InputError("key \"" + kindKey + "\" must be \"periodic\" or \"end\"");

    const json& pair = requireKey(record, "last_pair", where + ".last_pair");
    if (!pair.is_array() || pair.size() != 2) throw InputError("key \"" + where + ".last_pair\" must be an array of two particles");
    int32_t last[2];
    for (size_t k = 0; k < 2; ++k) {
        last[k] = asInt(pair[k], where + ".last_pair[" + std::to_string(k) + "]");
        if (last[k] < -1 || last[k] >= particleCount()) {
            throw InputError("key \"" + where + ".last_pair\" names particle " + std::to_string(last[k]) +
                             ", but there are " + std::to_string(particleCount()));
        }
    }
    const uint64_t pushCount = asUint64(requireKey(record, "push_count", where + ".push_count"), where + ".push_count");

    const std::string snapshotsKey = where + ".snapshots";
    const json& snapshots = requireKey(record, "snapshots", snapshotsKey);
    const int32_t statesSaved =
        asInt(requireKey(snapshots, "states_saved", snapshotsKey + ".states_saved"), snapshotsKey + ".states_saved");
    if (statesSaved < 0) throw InputError("key \"" + snapshotsKey + ".states_saved\" must not be negative");
    const json& lastSnapshot = requireKey(snapshots, "last_snapshot_collisions", snapshotsKey + ".last_snapshot_collisions");
    std::optional<uint64_t> lastSnapshotCollisions;
    if (!lastSnapshot.is_null()) lastSnapshotCollisions = asUint64(lastSnapshot, snapshotsKey + ".last_snapshot_collisions");

    SimulationConfig windows = config;
    if (kind == "periodic") {
        const json& recorded = requireKey(record, "windows", where + ".windows");
        for (const WindowField& w : WINDOWS) {
            const std::string key = where + ".windows." + w.name;
            windows.*w.field = asUint64(requireKey(recorded, w.name, key), key);
        }
    }
    checkRecordedOutputs(requireKey(record, "outputs", where + ".outputs"));
    if (config.log_thermo) restoreThermo(record, where);

    // Everything read: now the state changes.
    restoreGeneratorAndFlights(record, where);
    predictionState.lastCollisionI = last[0];
    predictionState.lastCollisionJ = last[1];
    eventQueue.pushCount = pushCount;
    snapshotState.statesSaved = statesSaved;
    snapshotState.lastSnapshotCollisions = lastSnapshotCollisions;
    config = windows;
    resumeState.found = true;
    resumeState.kind = kind == "periodic" ? RestartKind::Periodic : RestartKind::EndOfRun;
    resumeState.record = record;
}

void restoreResumeRecord() {
    const std::string path = resumePath();
    const std::optional<json> found = loadOptionalJsonInput(path);
    if (!found) {
        std::cout << RED << "Warning: there is no " << path << " beside last_state.json; the run continues without "
                  << "it: the outputs keep what was written after the restart point, and the thermal walls draw "
                  << "their random numbers from the seed again.\n"
                  << RESET;
        return;
    }
    const json& file = *found;
    try {
        if (!file.is_object()) throw InputError("the top level must be a JSON object");
        const uint64_t version = asUint64(requireKey(file, "version", "version"), "version");
        if (version != RESUME_FORMAT_VERSION) {
            throw InputError("key \"version\" is " + std::to_string(version) + ", but this program reads version " +
                             std::to_string(RESUME_FORMAT_VERSION));
        }
        const json& records = requireKey(file, "records", "records");
        if (!records.is_array()) throw InputError("key \"records\" must be an array");
        for (size_t k = 0; k < records.size(); ++k) {
            const std::string where = "records[" + std::to_string(k) + "]";
            const json& record = records[k];
            const uint64_t count = asUint64(requireKey(record, "collision_count", where + ".collision_count"),
                                            where + ".collision_count");
            const double runtime = asDouble(requireKey(record, "runtime", where + ".runtime"), where + ".runtime");
            if (count != sim.collisionCount || runtime != sim.simulationTime) continue;
            // Records written before restart points were cuts hold only the generator and
            // the flight starts; such a run continues as it used to.
            if (record.contains("kind")) {
                restoreCutRecord(record, where);
            } else {
                restoreGeneratorAndFlights(record, where);
            }
            return;
        }
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    std::ostringstream text;
    text << "it holds no record of the restart point of " << solutionFolder << "/last_state.json (collision "
         << sim.collisionCount << ", runtime " << shortestNumber(sim.simulationTime)
         << " s): the two files come from different runs or restart points (remove it to continue as without it)";
    refuseInput(path, text.str());
}

void restoreRecordedOutputs() {
    try {
        restoreOutputsToRestartPoint(resumeState.record.at("outputs"));
    } catch (const InputError& e) {
        refuseInput(resumePath(), e.what());
    }
}
