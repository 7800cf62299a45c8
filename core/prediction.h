#pragma once
// For one particle, the earliest of: the next crossing of each face pair of its cell, the
// floor, the ceiling, the metal plane, and a collision with a neighbour. Exactly one event
// per prediction enters the queue.

#include <cstdint>

#include "core/events.h"
#include "util/vec3.h"

inline constexpr double EPSILON_TIME = 1e-40;      // a smaller step is not in the future
inline constexpr double EPSILON_DISTANCE = 1e-20;  // "has not moved since its collision"

// The pair of the most recent collision, for the re-collision guard.
struct PredictionState {
    int32_t lastCollisionI = -1;
    int32_t lastCollisionJ = -1;
};
extern PredictionState predictionState;
void resetPredictionState();

struct ProjectedState {
    int32_t index = -1;
    Vec3 position;
    Vec3 velocity;
};

void predictNextEvent(int32_t p);

Event boundaryXCandidate(int32_t p);
Event boundaryYCandidate(int32_t p);
Event boundaryZCandidate(int32_t p);
Event landCandidate(int32_t p);
Event exitCandidate(int32_t p);
Event metalZCandidate(int32_t p);
Event collisionCandidate(int32_t p);

// The state of q extrapolated to the clock, without touching what is stored.
ProjectedState projectToNow(int32_t q);
// Step after which the point of a sphere (centre z, radius r) that faces `target`, moving as
// z + v t + a t^2 / 2, reaches the target height; only strictly positive roots count.
double planeHitTime(double z, double r, double v, double a, double target);
