#include "persist/resume.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <stdexcept>

#include "core/particles.h"
#include "core/simulation_config.h"
#include "stats/collision_stats.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"
#include "util/random.h"

// Raised only for a change that an older reader would misread; new keys in a record are
// ignored by readers that do not know them.
static constexpr uint64_t RESUME_FORMAT_VERSION = 1;

static std::string resumePath() { return solutionFolder + "/resume.json"; }

static json currentRecord() {
    const RandomGeneratorState wall = saveRandomGenerator();
    json record = {{"collision_count", sim.collisionCount},
                   {"runtime", sim.simulationTime},
                   {"wall_random", {{"engine", wall.engine}, {"normal", wall.normal}}}};
    // Where each particle's flight in progress began, for the free-path height profiles;
    // null where it is unknown.
    if (config.log_free_path) {
        json starts = json::array();
        for (double z : collisionStats.flightStartZ) starts.push_back(std::isfinite(z) ? json(z) : json(nullptr));
        record["flight_start_z"] = starts;
    }
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

void saveWithResumeRecord(const std::function<void()>& writeRestartFile) {
    const json record = currentRecord();
    json both = recordsOnDisk();
    if (std::find(both.begin(), both.end(), record) == both.end()) both.push_back(record);
    writeResumeFile(both);
    writeRestartFile();
    writeResumeFile(json::array({record}));
}

static void restoreFromRecord(const json& record, const std::string& where) {
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

void restoreResumeRecord() {
    const std::string path = resumePath();
    const std::optional<json> found = loadOptionalJsonInput(path);
    if (!found) return;
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
            restoreFromRecord(record, where);
            return;
        }
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    std::cout << RED << "Warning: " << path << " holds no record of the restart point of last_state.json (collision "
              << sim.collisionCount << "); the thermal walls draw their random numbers from the seed again.\n"
              << RESET;
}
