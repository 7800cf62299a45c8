#pragma once
// Elastic collision of two hard spheres, with the optional species-a thermostat.

#include <cstdint>

#include "core/events.h"
#include "util/vec3.h"

// What one carried-out collision hands to the per-collision schedule.
struct CollisionRecord {
    uint32_t number = 0;  // low 32 bits of collisionCount after this collision
    double time = 0.0;
    int32_t i = -1, j = -1;
    Vec3 velIBefore, velJBefore;
    Vec3 velIAfter, velJAfter;
    double freePathI = 0.0, freePathJ = 0.0;
    double freeTimeI = 0.0, freeTimeJ = 0.0;
    Vec3 contactI, contactJ;  // positions used for the contact, images applied
    bool gainFlag = false;
    double approachSpeed = 0.0;  // (v_i - v_j) . n before, n from i to j
    double normalVelI = 0.0;
    double normalVelJ = 0.0;
    bool truePathI = false, truePathJ = false;
};

// Mean kinetic energy of one particle at 273.15 K, 3/2 k_B T, in joules.
inline constexpr double THERMOSTAT_PARTICLE_ENERGY = 5.65686411525e-21;

void performCollision(const Event& event);
void resolveOverlap(int32_t i, int32_t j, Vec3 shiftI, Vec3 shiftJ);
