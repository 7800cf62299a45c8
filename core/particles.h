#pragma once
// Per-particle state and the clock it is current against. Particles fly ballistically
// between events and are brought up to the clock lazily, only when something needs them.

#include <cstdint>
#include <vector>

#include "util/large_vector.h"

// What the collision search reads of every neighbour it examines, packed into one
// cache line: a prediction looks at tens of neighbours, and with one array per field
// each of them would cost eight cache misses instead of one.
struct alignas(64) ParticleMotion {
    double posX = 0.0, posY = 0.0, posZ = 0.0;  // valid at lastAdvanceTime
    double velX = 0.0, velY = 0.0, velZ = 0.0;  // valid at lastAdvanceTime
    double lastAdvanceTime = 0.0;
    double radius = 0.0;
};

struct ParticleStore {
    LargeVector<ParticleMotion> motion;
    LargeVector<double> mass;
    LargeVector<double> freePath;  // length of the path flown since the last collision
    LargeVector<double> freeTime;  // time flown since the last collision
    LargeVector<uint8_t> truePath;  // the current free flight began at a collision
    LargeVector<int32_t> species;
    LargeVector<int32_t> eventCount;  // bumps invalidate every pending event of the particle
    LargeVector<int32_t> cellX, cellY, cellZ, cellSlot;

    double simulationTime = 0.0;
    uint64_t collisionCount = 0;
};

extern ParticleStore sim;

inline int32_t particleCount() { return static_cast<int32_t>(sim.motion.size()); }

// Where a free flight of dt takes a particle, under gravity g along -z: the one formula that
// advancing, projecting and predicting share, so that a prediction sees each particle
// exactly where the advance will later put it. Without gravity the z terms of g vanish
// at compile time.
struct FreeFlight {
    double dx, dy, dz, dvz;
};

template <bool WithGravity = true>
inline FreeFlight freeFlight(const ParticleMotion& m, double dt, double g) {
    FreeFlight f{m.velX * dt, m.velY * dt, m.velZ * dt, 0.0};
    if constexpr (WithGravity) {
        f.dz -= 0.5 * g * dt * dt;
        f.dvz = -g * dt;
    }
    return f;
}

// Length of the path flown in dt under gravity g from vertical speed w0, horizontal speed h.
double parabolaLength(double h, double w0, double g, double dt);

void resetParticleStore();
void resizeParticleStore(int32_t n);

// Brings p to the clock; while the animation log is on, brings every particle instead,
// so that each recorded frame is one instant.
void advanceParticle(int32_t p);
void advanceAllParticles();
// Only particle p, whatever the animation log needs; for passes over all particles.
void advanceSingleParticle(int32_t p);
