#include "core/check.h"

#include <cmath>
#include <vector>

#include "core/cells.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/simulation_config.h"
#include "util/format.h"

static std::string particleText(int32_t p) { return "particle " + std::to_string(p); }

// Every digit that tells the value apart: the problems found here are often a hair's breadth wide.
static std::string metres(double value) { return shortestNumber(value) + " m"; }

static std::string checkCellMembership() {
    const int32_t n = particleCount();
    std::vector<int32_t> seen(static_cast<size_t>(n), 0);
    for (size_t c = 0; c < grid.cells.size(); ++c) {
        const Cell& cell = grid.cells[c];
        for (int32_t slot = 0; slot < cell.count; ++slot) {
            const int32_t p = cellParticle(cell, slot);
            if (p < 0 || p >= n) return "cell " + std::to_string(c) + " lists the unknown particle " + std::to_string(p);
            const auto up = static_cast<size_t>(p);
            seen[up] += 1;
            if (cellIndex(sim.cellX[up], sim.cellY[up], sim.cellZ[up]) != static_cast<int32_t>(c) ||
                sim.cellSlot[up] != slot) {
                return particleText(p) + " is listed in cell " + std::to_string(c) + " slot " + std::to_string(slot) +
                       " but records another cell or slot";
            }
        }
    }
    for (int32_t p = 0; p < n; ++p) {
        if (seen[static_cast<size_t>(p)] != 1) {
            return particleText(p) + " appears in " + std::to_string(seen[static_cast<size_t>(p)]) + " cell lists";
        }
    }
    return "";
}

static std::string checkParticleInItsCell(int32_t p, const ProjectedState& s) {
    const auto up = static_cast<size_t>(p);
    const double tolerance = 1e-9 * grid.cellSize;
    const double coordinates[3] = {s.position.x, s.position.y, s.position.z};
    const int32_t cells[3] = {sim.cellX[up], sim.cellY[up], sim.cellZ[up]};
    const double L = config.domain_size;
    auto inside = [&](double c, int32_t cell) {
        return c >= cellLower(cell) - tolerance && c <= cellUpper(cell) + tolerance;
    };
    for (int axis = 0; axis < 3; ++axis) {
        // A particle exactly at x = L moving up belongs to cell 0: the same point as x = 0.
        const double c = coordinates[axis];
        if (!inside(c, cells[axis]) && !inside(c - L, cells[axis]) && !inside(c + L, cells[axis])) {
            return particleText(p) + " at " + "xyz"[axis] + " = " + metres(coordinates[axis]) +
                   " lies outside its cell " + std::to_string(cells[axis]);
        }
    }
    return "";
}

static std::string checkNoOverlap(int32_t p, const ProjectedState& s) {
    const double L = config.domain_size;
    std::string problem;
    forEachNeighborCell(sim.cellX[static_cast<size_t>(p)], sim.cellY[static_cast<size_t>(p)],
                        sim.cellZ[static_cast<size_t>(p)], [&](const Cell& cell, ImageShift ghost) {
                            for (int32_t slot = 0; slot < cell.count && problem.empty(); ++slot) {
                                const int32_t q = cellParticle(cell, slot);
                                if (q == p) continue;
                                const ProjectedState o = projectToNow(q);
                                const double dx = o.position.x + ghost.x * L - s.position.x;
                                const double dy = o.position.y + ghost.y * L - s.position.y;
                                const double dz = o.position.z + ghost.z * L - s.position.z;
                                const double sigma = sim.motion[static_cast<size_t>(p)].radius +
                                                     sim.motion[static_cast<size_t>(q)].radius;
                                const double dist = std::sqrt(dx * dx + dy * dy + dz * dz);
                                if (dist < sigma * (1.0 - 1e-9)) {
                                    problem = particleText(p) + " and particle " + std::to_string(q) +
                                              " overlap: distance " + metres(dist) + ", contact " + metres(sigma);
                                }
                            }
                        });
    return problem;
}

std::string findOverlap() {
    for (int32_t p = 0; p < particleCount(); ++p) {
        if (std::string problem = checkNoOverlap(p, projectToNow(p)); !problem.empty()) return problem;
    }
    return "";
}

std::string checkSystem() {
    if (std::string problem = checkCellMembership(); !problem.empty()) return problem;
    for (int32_t p = 0; p < particleCount(); ++p) {
        const auto up = static_cast<size_t>(p);
        const ParticleMotion& m = sim.motion[up];
        if (!std::isfinite(m.posX) || !std::isfinite(m.posY) || !std::isfinite(m.posZ) || !std::isfinite(m.velX) ||
            !std::isfinite(m.velY) || !std::isfinite(m.velZ)) {
            return particleText(p) + " has a non-finite position or velocity";
        }
        if (m.lastAdvanceTime > sim.simulationTime) return particleText(p) + " is ahead of the clock";
        if (sim.eventCount[up] < 0) return particleText(p) + " has a negative event counter";
        const ProjectedState s = projectToNow(p);
        if (std::string problem = checkParticleInItsCell(p, s); !problem.empty()) return problem;
        if (std::string problem = checkNoOverlap(p, s); !problem.empty()) return problem;
    }
    return "";
}

static std::string particleAt(int32_t k, const char* arrayName, char axis, double value) {
    return "particle " + std::to_string(k) + " (" + arrayName + " coordinate " + axis + " = " + metres(value) + ")";
}

std::string positionProblem(const char* arrayName, PositionSource source) {
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
                return particleAt(k, arrayName, "xyz"[axis], coordinates[axis]) + " lies outside the domain [0 m, " +
                       metres(L) + "]";
            }
        }
        // A sphere reaching into a wall would be reflected from inside it.
        if (config.reflective_z && (m.posZ < m.radius - slack || m.posZ > L - m.radius + slack)) {
            return particleAt(k, arrayName, 'z', m.posZ) + " reaches into the floor or the ceiling: its radius is " +
                   metres(m.radius);
        }
        if (source == PositionSource::FreshStart && config.has_metal_z && sim.species[static_cast<size_t>(k)] == 0 &&
            std::abs(m.posZ - config.metal_z) < m.radius - slack) {
            return particleAt(k, arrayName, 'z', m.posZ) + " of species a cuts the metal plane at z = " +
                   metres(config.metal_z) + ": its radius is " + metres(m.radius);
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
                       shortestNumber(components[axis]) + " m/s) is faster than light";
            }
        }
    }
    return "";
}
