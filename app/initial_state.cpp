#include "app/initial_state.h"

#include <iostream>

#include "core/check.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"

static void readTriple(const json& entry, const std::string& key, const std::string& where, double out[3]) {
    const json& value = requireKey(entry, key, where + "." + key);
    if (!value.is_array() || value.size() < 3) {
        throw InputError("key \"" + where + "." + key + "\" must be an array of 3 numbers");
    }
    for (size_t a = 0; a < 3; ++a) out[a] = asDouble(value[a], where + "." + key + "[" + std::to_string(a) + "]");
}

void loadInitialState() {
    std::cout << BLUE << "Loading particles_init.json...";
    const std::string path = solutionFolder + "/particles_init.json";
    // The entries are stored as they are read: a tree of every entry took several hundred
    // bytes per particle at once. The first that cannot be used is reported after the read.
    std::string problem;
    ArrayStream stream{{"particles"}, [&](size_t, size_t k, const json& entry) {
                           if (k >= static_cast<size_t>(particleCount()) || !problem.empty()) return;
                           try {
                               const std::string where = "particles[" + std::to_string(k) + "]";
                               double position[3], velocity[3];
                               readTriple(entry, "position", where, position);
                               readTriple(entry, "velocity", where, velocity);
                               ParticleMotion& m = sim.motion[k];
                               m.posX = position[0];
                               m.posY = position[1];
                               m.posZ = position[2];
                               m.velX = velocity[0];
                               m.velY = velocity[1];
                               m.velZ = velocity[2];
                           } catch (const InputError& e) {
                               problem = e.what();
                           }
                       }};
    const json doc = loadJsonInput(path, "Cannot open particle state: ",
                                   [&](int depth, json::parse_event_t event, json& parsed) { return stream(depth, event, parsed); });
    if (!doc.is_object() || !doc.contains("particles") || !doc["particles"].is_array()) {
        throw InputRefused("Error: " + path + " missing 'particles' array.");
    }
    try {
        if (stream.counts[0] != static_cast<size_t>(config.num_molecules)) {
            throw InputError("\"particles\" holds " + std::to_string(stream.counts[0]) +
                             " entries, but num_molecules is " + std::to_string(config.num_molecules));
        }
        if (!problem.empty()) throw InputError(problem);
        if (std::string problem = positionProblem("position", PositionSource::FreshStart); !problem.empty()) throw InputError(problem);
        if (std::string problem = velocityProblem("velocity"); !problem.empty()) throw InputError(problem);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    std::cout << BLUE << " Done.\n" << RESET;
}
