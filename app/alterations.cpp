#include "app/alterations.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "app/config.h"
#include "core/species.h"
#include "stats/collision_stats.h"
#include "util/file_output.h"
#include "util/json_input.h"

AlterationState alterations;

void resetAlterations() { alterations = AlterationState{}; }

namespace {

struct Alteration {
    SimulationConfig config;
    bool stop = false;
    bool resetProfiles = false;
};

// The two keys of alter.json that are not run parameters, at their places in its order.
constexpr int STOP_ORDER = 11;
constexpr int RESET_STATS_ORDER = 12;

// The keys in the order in which they take effect. Everything is read into a copy first,
// so that a bad value anywhere leaves the run exactly as it was.
void readAlterations(const json& doc, Alteration& a) {
    const std::span<const ConfigKey> keys = configKeys();
    int last = RESET_STATS_ORDER;
    for (const ConfigKey& key : keys) last = std::max(last, key.alterOrder);
    for (int order = 1; order <= last; ++order) {
        if (order == STOP_ORDER) {
            readOptional(doc, "stop", a.stop);
        } else if (order == RESET_STATS_ORDER) {
            // Presence alone asks for the reset, whatever the value says.
            a.resetProfiles = doc.contains("reset_stats");
        }
        for (const ConfigKey& key : keys) {
            if (key.alterOrder != order) continue;
            readConfigKey(doc, key, a.config);
            runKeyRule(key, a.config);
        }
    }
}

}  // namespace

// What the file asks for, read onto the current configuration; nothing when there is no file
// or when it is refused (then reported on standard error if `report`).
static std::optional<Alteration> readAlterFile(const std::string& path, bool report, bool& refused) {
    json doc;
    std::string problem;
    refused = false;
    // No file is the normal case; a half-written one is reported and tried again next time.
    switch (parseJsonFile(path, doc, problem)) {
        case ParseOutcome::CannotOpen:
            return std::nullopt;
        case ParseOutcome::Malformed:
            if (report) std::cerr << problem << "\n";
            refused = true;
            return std::nullopt;
        case ParseOutcome::Ok:
            break;
    }

    Alteration a{config, alterations.stopRequested, false};
    try {
        if (!doc.is_object()) throw InputError("the top level must be a JSON object");
        readAlterations(doc, a);
        // Switching a feature on can bring an interval into use that was never checked.
        if (std::string problem = scheduleProblem(a.config, speciesTables.multiSpecies); !problem.empty()) {
            throw InputError(problem);
        }
    } catch (const InputError& e) {
        if (report) std::cerr << inputErrorText(path, std::string(e.what()) + "; nothing was changed") << "\n";
        refused = true;
        return std::nullopt;
    }
    return a;
}

bool applyAlterations() {
    bool refused = false;
    const std::optional<Alteration> read = readAlterFile(solutionFolder + "/alter.json", true, refused);
    if (!read) return !refused;
    const Alteration& a = *read;
    config = a.config;
    alterations.stopRequested = a.stop;
    if (a.resetProfiles) {
        collisionStats.logProfile.reset();
        collisionStats.linearProfile.reset();
        for (Histogram& h : collisionStats.speciesProfiles) h.reset();
    }
    return true;
}

void warnOfStandingStop() {
    const std::string path = solutionFolder + "/alter.json";
    bool refused = false;
    // A file that would be refused stops nothing; it is reported at the first poll.
    const std::optional<Alteration> read = readAlterFile(path, false, refused);
    if (!read || !read->stop) return;
    std::cerr << "Warning: " << path << " still asks for a stop (\"stop\": true): this run will stop when it "
              << "first reads the file, at the next collision count divisible by check_alter_every ("
              << read->config.check_alter_every << "); remove the key or set it to false to run on.\n";
}

json alteredConfigValues() {
    json altered = json::object();
    for (const ConfigKey& key : configKeys()) {
        if (key.alterOrder == 0) continue;
        std::visit(
            [&](auto field) {
                if (config.*field != alterations.fromFile.*field) altered[key.name] = config.*field;
            },
            key.field);
    }
    return altered;
}

void applyAlteredConfigValues(const json& altered) {
    if (!altered.is_object()) throw InputError("key \"altered\" must be an object");
    Alteration a{config, false, false};
    readAlterations(altered, a);
    if (std::string problem = scheduleProblem(a.config, speciesTables.multiSpecies); !problem.empty()) {
        throw InputError(problem);
    }
    config = a.config;
}
