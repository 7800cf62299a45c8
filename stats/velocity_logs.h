#pragma once
// Velocity logs under the folder "velocity": snapshots of the x and z velocities of all
// particles (velocity_x.bin, velocity_z.bin, N doubles per sample, and per species), and
// the normal velocities of every collision, kept in memory until the restart save.

#include <vector>

#include "core/collision.h"

struct VelocityLogs {
    std::vector<double> collisionVelocitySamples;            // approach speed
    std::vector<double> collisionVelocity00Samples;          // approach speed, two species-0
    std::vector<double> collisionVelocity11Samples;          // approach speed, two species-1
    std::vector<double> collisionVelocity01Samples;          // approach speed, unlike pair
    std::vector<double> particleCollisionVelocitySamples;    // lo, then -hi, per collision
    std::vector<double> particleCollisionVelocity0Samples;   // per species-0 particle
    std::vector<double> particleCollisionVelocity1Samples;   // per particle of another species
};

extern VelocityLogs velocityLogs;

void resetVelocityLogs();

// The stored (not advanced) velX and velZ of every particle, overall and per species.
void writeVelocitySamples();
void recordCollisionVelocities(const CollisionRecord& record);
// Appends the seven lists to their files (all seven exist afterwards) and empties them.
// Throws std::runtime_error("Failed to open file: " + path); lists before the failing one
// are written and emptied, the others keep their values.
void flushCollisionVelocities();
