#include "app/initial_state.h"

#include <cmath>
#include <iostream>

#include "app/config.h"
#include "app/console.h"
#include "app/json_input.h"
#include "core/particles.h"

static std::string particleAt(int32_t k, const char* arrayName, char axis, double value) {
    return "particle " + std::to_string(k) + " (" + arrayName + " coordinate " + axis + " = " + std::to_string(value) +
           ")";
}

std::string positionProblem(const char* arrayName) {
    const double L = config.domain_size;
    // A particle that has just crossed the periodic edge sits on the far face of the last
    // cell, n * (L / n), which rounding can put a hair beyond L; such a saved state is fine.
    // So is a sphere resting on the floor, whose centre rounding may put a hair below R.
    const double slack = 1e-12 * L;
    for (int32_t k = 0; k < particleCount(); ++k) {
        const ParticleMotion& m = sim.motion[static_cast<size_t>(k)];
        const double coordinates[3] = {m.posX, m.posY, m.posZ};
        for (int axis = 0; axis < 3; ++axis) {
            if (!(coordinates[axis] >= -slack && coordinates[axis] <= L + slack)) {
                return particleAt(k, arrayName, "xyz"[axis], coordinates[axis]) + " lies outside the domain [0, " +
                       std::to_string(L) + "]";
            }
        }
        // A sphere reaching into a wall would be reflected from inside it.
        if (config.reflective_z && (m.posZ < m.radius - slack || m.posZ > L - m.radius + slack)) {
            return particleAt(k, arrayName, 'z', m.posZ) + " reaches into the floor or the ceiling: its radius is " +
                   std::to_string(m.radius);
        }
        if (config.has_metal_z && sim.species[static_cast<size_t>(k)] == 0 &&
            std::abs(m.posZ - config.metal_z) < m.radius - slack) {
            return particleAt(k, arrayName, 'z', m.posZ) + " of species a cuts the metal plane at z = " +
                   std::to_string(config.metal_z) + ": its radius is " + std::to_string(m.radius);
        }
    }
    return "";
}

std::string velocityProblem(const char* arrayName) {
    // Newtonian hard spheres in SI units never come near it; a value beyond it is a unit
    // mistake, and far beyond it the collision arithmetic overflows into infinities that
    // the restart file cannot even hold.
    constexpr double SPEED_OF_LIGHT = 299792458.0;
    for (int32_t k = 0; k < particleCount(); ++k) {
        const ParticleMotion& m = sim.motion[static_cast<size_t>(k)];
        const double components[3] = {m.velX, m.velY, m.velZ};
        for (int axis = 0; axis < 3; ++axis) {
            if (std::abs(components[axis]) > SPEED_OF_LIGHT) {
                return "particle " + std::to_string(k) + " (" + arrayName + " component " + "xyz"[axis] + " = " +
                       std::to_string(components[axis]) + " m/s) is faster than light";
            }
        }
    }
    return "";
}

static void readTriple(const json& entry, const std::string& key, const std::string& where, double out[3]) {
    const json& value = requireKey(entry, key, where + "." + key);
    if (!value.is_array() || value.size() < 3) {
        throw InputError("key \"" + where + "." + key + "\" must be an array of 3 numbers");
    }
    for (size_t a = 0; a < 3; ++a) out[a] = asDouble(value[a], where + "." + key + "[" + std::to_string(a) + "]");
}

bool loadInitialState() {
    std::cout << BLUE << "Loading particles_init.json...";
    const std::string path = solutionFolder + "/particles_init.json";
    json doc;
    if (!loadJsonInput(path, "Cannot open particle state: ", doc)) return false;
    if (!doc.is_object() || !doc.contains("particles") || !doc["particles"].is_array()) {
        std::cerr << "Error: " << path << " missing 'particles' array.\n";
        return false;
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
        if (std::string problem = positionProblem("position"); !problem.empty()) throw InputError(problem);
        if (std::string problem = velocityProblem("velocity"); !problem.empty()) throw InputError(problem);
    } catch (const InputError& e) {
        reportInputError(path, e.what());
        return false;
    }
    std::cout << BLUE << " Done.\n" << RESET;
    return true;
}
