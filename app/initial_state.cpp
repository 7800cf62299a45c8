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
    const json doc = loadJsonInput(path, "Cannot open particle state: ");
    if (!doc.is_object() || !doc.contains("particles") || !doc["particles"].is_array()) {
        throw InputRefused("Error: " + path + " missing 'particles' array.");
    }
    const json& particles = doc["particles"];
    try {
        if (particles.size() != static_cast<size_t>(config.num_molecules)) {
            throw InputError("\"particles\" holds " + std::to_string(particles.size()) +
                             " entries, but num_molecules is " + std::to_string(config.num_molecules));
        }
        for (size_t k = 0; k < particles.size(); ++k) {
            const std::string where = "particles[" + std::to_string(k) + "]";
            double position[3], velocity[3];
            readTriple(particles[k], "position", where, position);
            readTriple(particles[k], "velocity", where, velocity);
            ParticleMotion& m = sim.motion[k];
            m.posX = position[0];
            m.posY = position[1];
            m.posZ = position[2];
            m.velX = velocity[0];
            m.velY = velocity[1];
            m.velZ = velocity[2];
        }
        if (std::string problem = positionProblem("position", PositionSource::FreshStart); !problem.empty()) throw InputError(problem);
        if (std::string problem = velocityProblem("velocity"); !problem.empty()) throw InputError(problem);
    } catch (const InputError& e) {
        refuseInput(path, e.what());
    }
    std::cout << BLUE << " Done.\n" << RESET;
}
