#include "core/prediction.h"

#include <cmath>
#include <vector>

#include "core/simulation_config.h"
#include "core/cells.h"
#include "core/particles.h"

PredictionState predictionState;

void resetPredictionState() { predictionState = PredictionState{}; }

// One candidate of a prediction before it becomes the event: its time and, for a face
// crossing, the direction. Only the winner is made into an Event.
struct Timed {
    double time = NEVER;
    int8_t dir = NO_DIR;
};

static inline Event candidate(int32_t p, EventType type) {
    Event e;
    e.type = type;
    e.i = p;
    e.qi = sim.eventCount[static_cast<size_t>(p)];
    return e;
}

double planeHitTime(double z, double r, double v, double a, double target) {
    double zc = z;
    if (target > z + r) {
        zc = z + r;
    } else if (z - r > target) {
        zc = z - r;
    }
    const double A = 0.5 * a;
    const double B = v;
    const double C = zc - target;
    double tPlus, tMinus;
    if (A != 0.0) {
        const double D = B * B - 4.0 * A * C;
        if (D < 0.0) return NEVER;
        // t+- = (-B +- sqrt(D)) / 2A, but never as written: when gravity changes the velocity
        // little over the step (any molecule under 9.8 m/s^2), -B + sqrt(D) cancels to a few
        // significant digits and the crossing comes late by percents. With
        // q = -(B + sign(B) sqrt(D)) / 2 the roots are q / A and C / q, both accurate.
        const double sqrtD = std::sqrt(D);
        const double q = -0.5 * (B + std::copysign(sqrtD, B));
        const double rootFar = q / A;
        const double rootNear = q != 0.0 ? C / q : 0.0;
        tPlus = B < 0.0 ? rootFar : rootNear;
        tMinus = B < 0.0 ? rootNear : rootFar;
    } else {
        tPlus = tMinus = (target - zc) / v;
    }
    if (tPlus < 0.0 && tMinus < 0.0) return NEVER;
    if (tPlus < 0.0 && tMinus > 0.0) return tMinus;
    if (tPlus > 0.0 && tMinus < 0.0) return tPlus;
    if (tPlus > 0.0 && tMinus > 0.0) return tPlus <= tMinus ? tPlus : tMinus;
    return NEVER;  // a root that is exactly zero, or no root at all (NaN)
}

// Straight-line crossing of the cell's faces along one axis. A particle on a face, or a
// rounding hair beyond it, and moving out crosses at once (step 0): a trajectory through a cell
// edge meets two faces at the same instant, and after the first crossing it lies on the second.
// Were that crossing dropped as too close, the particle would stay filed in its old cell for a
// whole box length, and the collision search around its real position would never see it.
static inline Timed linearCrossing(double pos, double vel, int32_t cell) {
    double step;
    int8_t dir;
    if (vel > 0.0) {
        dir = +1;
        step = (cellUpper(cell) - pos) / vel;
    } else if (vel < 0.0) {
        dir = -1;
        step = (pos - cellLower(cell)) / (-vel);
    } else {
        return Timed{NEVER, -1};  // no motion along this axis
    }
    return Timed{sim.simulationTime + (step >= EPSILON_TIME ? step : 0.0), dir};
}

static inline Timed boundaryXTime(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return linearCrossing(m.posX, m.velX, sim.cellX[static_cast<size_t>(p)]);
}

static inline Timed boundaryYTime(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return linearCrossing(m.posY, m.velY, sim.cellY[static_cast<size_t>(p)]);
}

// Under gravity a particle moving up may reach the upper face, or turn below it and fall
// back through the lower face.
static Timed boundaryZTime(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    const int32_t cz = sim.cellZ[static_cast<size_t>(p)];
    const double g = config.g;
    if (g == 0.0) return linearCrossing(m.posZ, m.velZ, cz);

    const double zmin = cellLower(cz);
    const double zmax = cellUpper(cz);
    double step;
    int8_t dir;
    if (m.posZ <= zmin && (m.velZ < 0.0 || (m.velZ == 0.0 && g > 0.0))) {
        step = 0.0;  // on or below its lower face and leaving through it: at once, as for x
        dir = -1;
    } else if (m.posZ >= zmax && (m.velZ > 0.0 || (m.velZ == 0.0 && g < 0.0))) {
        step = 0.0;
        dir = +1;
    } else if (m.velZ < 0.0) {
        step = planeHitTime(m.posZ, 0.0, m.velZ, -g, zmin);
        dir = -1;
    } else {
        const double tUp = planeHitTime(m.posZ, 0.0, m.velZ, -g, zmax);
        const double z0 = m.posZ > zmin ? m.posZ : m.posZ + EPSILON_DISTANCE;
        double tDown;
        if (z0 > zmin) {
            tDown = planeHitTime(z0, 0.0, m.velZ, -g, zmin);
        } else {
            // The particle sits on its lower face, typically just after crossing it upwards,
            // and the nudge above vanished in rounding: the roots are 0 and the moment it
            // falls back through the face. Dropping the zero root must not drop that one,
            // or the particle would fall into the cell below unnoticed.
            const double D = m.velZ * m.velZ + 2.0 * g * (z0 - zmin);
            const double fallBack = D >= 0.0 ? (m.velZ + std::sqrt(D)) / g : NEVER;
            tDown = fallBack > 0.0 ? fallBack : NEVER;
        }
        step = tUp <= tDown ? tUp : tDown;
        dir = step == tUp ? +1 : -1;
    }
    return Timed{sim.simulationTime + step, dir};
}

static inline Event asEvent(int32_t p, EventType type, Timed t) {
    Event e = candidate(p, type);
    e.time = t.time;
    e.dir = t.dir;
    return e;
}

Event boundaryXCandidate(int32_t p) { return asEvent(p, BoundaryX, boundaryXTime(p)); }
Event boundaryYCandidate(int32_t p) { return asEvent(p, BoundaryY, boundaryYTime(p)); }
Event boundaryZCandidate(int32_t p) { return asEvent(p, BoundaryZ, boundaryZTime(p)); }

// A sphere touching a wall (or a rounding hair beyond it) has the wall within its extent, and
// planeHitTime would aim its centre at the wall instead of its surface. Moving into the wall it
// would then be held there until the centre arrived, gaining m g r from gravity meanwhile: it
// bounces at once instead. Thrown back against gravity, the touching point returns to the wall
// after 2 |v| / a; moving away otherwise, it never does. A sphere at rest on the wall is left to
// planeHitTime, so that it does not bounce at one instant for ever.
static inline double touchingWallStep(double velocityInto, double accelerationInto) {
    if (velocityInto > 0.0) return 0.0;
    return accelerationInto > 0.0 ? -2.0 * velocityInto / accelerationInto : NEVER;
}

static inline double landTime(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    const double g = config.g;
    const bool touching = m.posZ <= m.radius && m.velZ != 0.0;
    return sim.simulationTime +
           (touching ? touchingWallStep(-m.velZ, g) : planeHitTime(m.posZ, m.radius, m.velZ, -g, 0.0));
}

static inline double exitTime(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    const double g = config.g;
    const double L = config.domain_size;
    const bool touching = m.posZ >= L - m.radius && m.velZ != 0.0;
    return sim.simulationTime +
           (touching ? touchingWallStep(m.velZ, -g) : planeHitTime(m.posZ, m.radius, m.velZ, -g, L));
}

// Species a may pass the plane from above and cut it on the way down, so only a sphere whose
// top lies on the plane within rounding counts as touching it from below.
static inline double metalZTime(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    if (m.velZ < 0.0) return NEVER;  // moving down, it cannot meet the plane above it
    const double contact = config.metal_z - m.radius;
    const bool touching = m.velZ > 0.0 && m.posZ >= contact && m.posZ - contact <= 1e-12 * config.domain_size;
    return sim.simulationTime + (touching ? 0.0 : planeHitTime(m.posZ, m.radius, m.velZ, -config.g, config.metal_z));
}

Event landCandidate(int32_t p) { return asEvent(p, Land, Timed{landTime(p), NO_DIR}); }
Event exitCandidate(int32_t p) { return asEvent(p, Exit, Timed{exitTime(p), NO_DIR}); }
Event metalZCandidate(int32_t p) { return asEvent(p, MetalZ, Timed{metalZTime(p), NO_DIR}); }

ProjectedState projectToNow(int32_t q) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(q)];
    const FreeFlight f = freeFlight(m, sim.simulationTime - m.lastAdvanceTime, config.g);
    ProjectedState s;
    s.index = q;
    s.position = Vec3{m.posX + f.dx, m.posY + f.dy, m.posZ + f.dz};
    s.velocity = Vec3{m.velX, m.velY, m.velZ + f.dvz};
    return s;
}

// Right after i and j collide their relative velocity points apart, but rounding can make
// the pair look like it approaches by a hair; until one of them has moved, refuse the pair.
static inline bool isFreshlyCollidedPair(int32_t p, int32_t q) {
    const PredictionState& s = predictionState;
    const bool samePair = (p == s.lastCollisionI && q == s.lastCollisionJ) ||
                          (p == s.lastCollisionJ && q == s.lastCollisionI);
    return samePair && sim.freePath[static_cast<size_t>(p)] < EPSILON_DISTANCE &&
           sim.freePath[static_cast<size_t>(q)] < EPSILON_DISTANCE;
}

// Relative motion is straight even under gravity (both particles fall alike), so contact
// is the root of |dr + dv t| = sigma: a t^2 + 2 b t + (dr.dr - sigma^2) = 0, b = dr.dv.
// The smaller positive root is taken; for a pair that already overlaps and approaches,
// only the larger one (when they would separate) is positive.
static inline double contactStep(double rx, double ry, double rz, double vx, double vy, double vz, double sigma) {
    const double b = rx * vx + ry * vy + rz * vz;
    if (b >= 0.0) return NEVER;  // not approaching
    const double a = vx * vx + vy * vy + vz * vz;
    const double D = (2.0 * b) * (2.0 * b) - 4.0 * a * ((rx * rx + ry * ry + rz * rz) - sigma * sigma);
    if (D < 0.0) return NEVER;
    const double sqrtD = std::sqrt(D);
    // t1 <= t2, since a > 0 once b < 0: the larger root is needed only when the smaller is
    // not in the future.
    const double t1 = (-2.0 * b - sqrtD) / (2.0 * a);
    if (t1 > EPSILON_TIME) return t1;
    const double t2 = (-2.0 * b + sqrtD) / (2.0 * a);
    return t2 > EPSILON_TIME ? t2 : NEVER;
}

// The neighbours of one prediction, listed before any of them is examined: their cells and
// motion records lie scattered through memory, and asking for all of them at once lets the
// processor fetch them in parallel instead of one after the other. Kept between
// predictions, so that the search does not allocate.
struct NeighborList {
    struct Candidate {
        int32_t particle;
        int32_t cell;  // its bit in the Neighborhood
    };
    Neighborhood around;
    Vec3 shift[27];  // the image shift of each occupied cell, in lengths
    std::vector<Candidate> candidates = std::vector<Candidate>(64);  // in search order
    size_t count = 0;
};
static NeighborList neighborList;

static void listNeighbors(int32_t p) {
    NeighborList& list = neighborList;
    const Neighborhood& h = list.around = neighborhoodOf(sim.cellX[static_cast<size_t>(p)], sim.cellY[static_cast<size_t>(p)],
                                                         sim.cellZ[static_cast<size_t>(p)]);
    for (uint32_t bits = h.occupied; bits != 0; bits &= bits - 1) __builtin_prefetch(&h.cell(std::countr_zero(bits)));
    size_t count = 0;
    for (uint32_t bits = h.occupied; bits != 0; bits &= bits - 1) {
        const int k = std::countr_zero(bits);
        const Cell& cell = h.cell(k);
        list.shift[k] = h.shift(k);
        // Room is made once per cell, so that the loop over its occupants does not check.
        if (count + static_cast<size_t>(cell.count) > list.candidates.size()) {
            list.candidates.resize(2 * (count + static_cast<size_t>(cell.count)));
        }
        NeighborList::Candidate* out = list.candidates.data();
        for (int32_t slot = 0; slot < cell.count; ++slot) {
            const int32_t q = cellParticle(cell, slot);
            __builtin_prefetch(&sim.motion[static_cast<size_t>(q)]);
            out[count] = NeighborList::Candidate{q, k};
            count += q != p ? 1 : 0;
        }
    }
    list.count = count;
}

struct CollisionFound {
    double time = NEVER;
    int32_t partner = -1;
    ImageShift shift;  // the partner's image
};

// Each neighbour projected to the clock and tested for contact, without copying it;
// compiled twice so that a run without gravity carries none of the gravity terms.
template <bool WithGravity>
static CollisionFound scanForCollision(int32_t p) {
    listNeighbors(p);
    const NeighborList& list = neighborList;
    const ParticleMotion P = sim.motion[static_cast<size_t>(p)];
    const double now = sim.simulationTime;
    const double g = WithGravity ? config.g : 0.0;
    CollisionFound found;
    int32_t bestCell = -1;
    for (size_t k = 0; k < list.count; ++k) {
        const NeighborList::Candidate c = list.candidates[k];
        const Vec3 ghost = list.shift[c.cell];
        const ParticleMotion& Q = sim.motion[static_cast<size_t>(c.particle)];
        const FreeFlight f = freeFlight<WithGravity>(Q, now - Q.lastAdvanceTime, g);
        const double step = contactStep((Q.posX + f.dx + ghost.x) - P.posX, (Q.posY + f.dy + ghost.y) - P.posY,
                                        (Q.posZ + f.dz + ghost.z) - P.posZ, Q.velX - P.velX, Q.velY - P.velY,
                                        (Q.velZ + f.dvz) - P.velZ, P.radius + Q.radius);
        if (step == NEVER || isFreshlyCollidedPair(p, c.particle)) continue;
        const double t = now + step;
        if (found.time > t) {
            found.time = t;
            found.partner = c.particle;
            bestCell = c.cell;
        }
    }
    if (bestCell >= 0) found.shift = list.around.ghost(bestCell);
    return found;
}

static inline CollisionFound collisionTime(int32_t p) {
    return config.g != 0.0 ? scanForCollision<true>(p) : scanForCollision<false>(p);
}

static inline Event collisionEvent(int32_t p, const CollisionFound& found) {
    Event e = asEvent(p, Collision, Timed{found.time, NO_DIR});
    e.j = found.partner;
    if (found.partner >= 0) e.qj = sim.eventCount[static_cast<size_t>(found.partner)];
    e.shiftJ = found.shift;
    return e;
}

Event collisionCandidate(int32_t p) { return collisionEvent(p, collisionTime(p)); }

void predictNextEvent(int32_t p) {
    advanceParticle(p);
    // Switched off unless the configuration has them: time NEVER.
    const double land = config.reflective_z ? landTime(p) : NEVER;
    const double exit = config.reflective_z ? exitTime(p) : NEVER;
    const double metal = (config.has_metal_z && sim.species[static_cast<size_t>(p)] == 0) ? metalZTime(p) : NEVER;
    const Timed bx = boundaryXTime(p);
    const Timed by = boundaryYTime(p);
    const Timed bz = boundaryZTime(p);
    const CollisionFound collision = collisionTime(p);
    // On equal times the first of this order wins.
    const Timed order[] = {{land, NO_DIR}, {exit, NO_DIR}, bx, by, bz, {collision.time, NO_DIR}, {metal, NO_DIR}};
    constexpr EventType types[] = {Land, Exit, BoundaryX, BoundaryY, BoundaryZ, Collision, MetalZ};
    int chosen = 0;
    for (int c = 1; c < 7; ++c) {
        if (order[c].time < order[chosen].time) chosen = c;
    }
    pushEvent(types[chosen] == Collision ? collisionEvent(p, collision) : asEvent(p, types[chosen], order[chosen]));
}
