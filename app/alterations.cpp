#include "app/alterations.h"

#include <algorithm>
#include <iostream>
#include <span>
#include <string>

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

bool applyAlterations() {
    const std::string path = solutionFolder + "/alter.json";
    json doc;
    std::string problem;
    // No file is the normal case; a half-written one is reported and tried again next time.
    switch (parseJsonFile(path, doc, problem)) {
        case ParseOutcome::CannotOpen:
            return true;
        case ParseOutcome::Malformed:
            std::cerr << problem << "\n";
            return false;
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
        std::cerr << inputErrorText(path, std::string(e.what()) + "; nothing was changed") << "\n";
        return false;
    }

    config = a.config;
    alterations.stopRequested = a.stop;
    if (a.resetProfiles) {
        collisionStats.logProfile.reset();
        collisionStats.linearProfile.reset();
    }
    return true;
}
