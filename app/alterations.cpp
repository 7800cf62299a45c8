#include "app/alterations.h"

#include <iostream>
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

// The keys in the order in which they take effect. Everything is read into a copy first,
// so that a bad value anywhere leaves the run exactly as it was.
void readAlterations(const json& doc, Alteration& a) {
    SimulationConfig& c = a.config;
    readOptional(doc, "save_last_state_every", c.save_last_state_every);
    readOptional(doc, "stats_after", c.stats_after);
    readOptional(doc, "stats_every", c.stats_every);
    readOptional(doc, "species_stats_after", c.species_stats_after);
    readOptional(doc, "species_stats_every", c.species_stats_every);
    readOptional(doc, "flush_species_stats_every", c.flush_species_stats_every);
    readOptional(doc, "flush_stats_every", c.flush_stats_every);
    readOptional(doc, "log_state", c.log_state);
    readOptional(doc, "save_particles_state_every", c.save_particles_state_every);
    readOptional(doc, "flush_state_buffer_every", c.flush_state_buffer_every);
    raiseStateFlushToSnapshotInterval(c);
    readOptional(doc, "stop", a.stop);
    // Presence alone asks for the reset, whatever the value says.
    a.resetProfiles = doc.contains("reset_stats");
    readOptional(doc, "purge_queue_above", c.purge_queue_above);
    readOptional(doc, "sample_pca_after", c.sample_pca_after);
    readOptional(doc, "sample_pca_until", c.sample_pca_until);
    readOptional(doc, "flush_pca_buffer_every", c.flush_pca_buffer_every);
    readOptional(doc, "sample_collision_angle", c.sample_collision_angle);
    readOptional(doc, "sample_collision_angle_after", c.sample_collision_angle_after);
    readOptional(doc, "sample_collision_angle_until", c.sample_collision_angle_until);
    readOptional(doc, "flush_collision_angle_buffer_every", c.flush_collision_angle_buffer_every);
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
