#include "core/collision.h"

#include <cmath>

#include "core/observer.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "util/error.h"

static inline Vec3 positionOf(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return Vec3{m.posX, m.posY, m.posZ};
}

static inline Vec3 velocityOf(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return Vec3{m.velX, m.velY, m.velZ};
}

static inline Vec3 imageOf(int32_t p, Vec3 shift) {
    const double L = config.domain_size;
    const Vec3 r = positionOf(p);
    return Vec3{r.x + shift.x * L, r.y + shift.y * L, r.z + shift.z * L};
}

static inline double norm(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

static inline double wrapIntoDomain(double c, double L) {
    c = std::fmod(c, L);
    if (c < 0.0) c += L;
    return c;
}

// Rounding can let two spheres overlap by a hair at their contact time; push them apart
// along the line of centres, each by half the overlap, whatever their masses.
void resolveOverlap(int32_t i, int32_t j, Vec3 shiftI, Vec3 shiftJ) {
    const Vec3 pi = imageOf(i, shiftI);
    const Vec3 pj = imageOf(j, shiftJ);
    const Vec3 d{pj.x - pi.x, pj.y - pi.y, pj.z - pi.z};
    const double sigma = sim.motion[static_cast<size_t>(i)].radius + sim.motion[static_cast<size_t>(j)].radius;
    const double d2 = d.x * d.x + d.y * d.y + d.z * d.z;
    if (!(sigma * sigma > d2)) return;
    double dist = std::sqrt(d2);
    if (dist < EPSILON_DISTANCE) dist = EPSILON_DISTANCE;
    const double delta = 0.5 * (sigma - dist);
    const Vec3 n{d.x / dist, d.y / dist, d.z / dist};
    const double L = config.domain_size;
    ParticleMotion& a = sim.motion[static_cast<size_t>(i)];
    ParticleMotion& b = sim.motion[static_cast<size_t>(j)];
    a.posX = wrapIntoDomain(a.posX - delta * n.x, L);
    a.posY = wrapIntoDomain(a.posY - delta * n.y, L);
    a.posZ = wrapIntoDomain(a.posZ - delta * n.z, L);
    b.posX = wrapIntoDomain(b.posX + delta * n.x, L);
    b.posY = wrapIntoDomain(b.posY + delta * n.y, L);
    b.posZ = wrapIntoDomain(b.posZ + delta * n.z, L);
}

static inline double contactError(double dist, int32_t i, int32_t j) {
    return std::fabs((dist - sim.motion[static_cast<size_t>(i)].radius) - sim.motion[static_cast<size_t>(j)].radius);
}

// A partner wrapped to the other side of the domain after the prediction is one domain
// length off along one axis; move its image back along the axis of the largest gap.
static void repairWrappedContact(const Event& event, const Vec3& pi, Vec3& pj, Vec3& d, double& dist) {
    notifyEngine(EngineNotice::ContactRepair,
                 {sim.collisionCount, event.push, dist,
                  sim.motion[static_cast<size_t>(event.i)].radius + sim.motion[static_cast<size_t>(event.j)].radius});
    const double L = config.domain_size;
    const double ax = std::fabs(pi.x - pj.x), ay = std::fabs(pi.y - pj.y), az = std::fabs(pi.z - pj.z);
    double& c = (ax >= ay && ax >= az) ? pj.x : (ay >= az ? pj.y : pj.z);
    c = c > L / 2 ? c - L : c + L;
    d = Vec3{pj.x - pi.x, pj.y - pi.y, pj.z - pi.z};
    dist = norm(d);
    notifyEngine(EngineNotice::ContactRepairDistance, {0, 0, dist, 0.0});
    if (contactError(dist, event.i, event.j) > 1e-13) fatalError("Failed to correct. Stopped");
    notifyEngine(EngineNotice::ContactRepaired);
}

// Species 0 is held at a total kinetic energy of E = 3/2 k_B (273.15 K) per particle: the
// other species-0 particles absorb the energy change of the one that met a species-1 one.
static void rescaleSpeciesA(int32_t k, double speedBefore) {
    notifyEngine(EngineNotice::ThermostatRescale);
    const double speedAfter = norm(velocityOf(k));
    const double E = THERMOSTAT_PARTICLE_ENERGY * speciesTables.speciesCount[0];
    const double mk = sim.mass[static_cast<size_t>(k)];
    const double ratio = (E - 0.5 * mk * speedAfter * speedAfter) / (E - 0.5 * mk * speedBefore * speedBefore);
    if (!(ratio >= 0.0) || !std::isfinite(ratio)) {
        // Too few species-a particles to absorb the change: scaling by sqrt(ratio) would
        // turn every species-a velocity into NaN.
        notifyEngine(EngineNotice::ThermostatSkipped, {sim.collisionCount + 1, 0, ratio, 0.0});
        return;
    }
    const double f = std::sqrt(ratio);
    for (int32_t p : speciesTables.speciesMembers[0]) {
        if (p == k) continue;
        // Brought to the clock first: the stored velocity is valid from the particle's last
        // advance, and scaling it there would rewrite the path it has already flown,
        // moving it out of its cell or into another sphere.
        advanceParticle(p);
        ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
        m.velX *= f;
        m.velY *= f;
        m.velZ *= f;
        sim.eventCount[static_cast<size_t>(p)] += 1;
        predictNextEvent(p);
    }
}

void performCollision(const Event& event) {
    const int32_t i = event.i;
    const int32_t j = event.j;
    const auto ui = static_cast<size_t>(i);
    const auto uj = static_cast<size_t>(j);

    int32_t thermostatted = -1;
    double speedBefore = 0.0;
    if (config.thermostatted_a && speciesTables.numSpecies == 2) {
        notifyEngine(EngineNotice::ThermostatCollision);
        if (sim.species[ui] == 0 && sim.species[uj] == 1) {
            thermostatted = i;
        } else if (sim.species[ui] == 1 && sim.species[uj] == 0) {
            thermostatted = j;
        }
        if (thermostatted >= 0) speedBefore = norm(velocityOf(thermostatted));
    }

    const Vec3 shiftI = toVec3(event.shiftI);
    const Vec3 shiftJ = toVec3(event.shiftJ);
    resolveOverlap(i, j, shiftI, shiftJ);

    CollisionRecord record;
    record.velIBefore = velocityOf(i);
    record.velJBefore = velocityOf(j);
    record.freePathI = sim.freePath[ui];
    record.freePathJ = sim.freePath[uj];
    record.freeTimeI = sim.freeTime[ui];
    record.freeTimeJ = sim.freeTime[uj];
    record.truePathI = sim.truePath[ui] != 0;
    record.truePathJ = sim.truePath[uj] != 0;
    sim.truePath[ui] = sim.truePath[uj] = 1;
    sim.freePath[ui] = sim.freePath[uj] = 0.0;
    sim.freeTime[ui] = sim.freeTime[uj] = 0.0;
    predictionState.lastCollisionI = i;
    predictionState.lastCollisionJ = j;

    const Vec3 pi = imageOf(i, shiftI);
    Vec3 pj = imageOf(j, shiftJ);
    Vec3 d{pj.x - pi.x, pj.y - pi.y, pj.z - pi.z};
    double dist = norm(d);
    if (contactError(dist, i, j) > 1e-13) repairWrappedContact(event, pi, pj, d, dist);
    record.contactI = pi;
    record.contactJ = pj;
    if (dist < EPSILON_DISTANCE) fatalError("\n less than EPSILON_DISTANCE \n");

    // Elastic exchange of momentum along the unit normal n (from i to j):
    // v_i' = v_i - 2 m_j u / (m_i + m_j) n,  v_j' = v_j + 2 m_i u / (m_i + m_j) n,  u = (v_i - v_j).n
    const Vec3 n{d.x / dist, d.y / dist, d.z / dist};
    ParticleMotion& a = sim.motion[ui];
    ParticleMotion& b = sim.motion[uj];
    const double mi = sim.mass[ui];
    const double mj = sim.mass[uj];
    record.normalVelI = a.velX * n.x + a.velY * n.y + a.velZ * n.z;
    record.normalVelJ = b.velX * n.x + b.velY * n.y + b.velZ * n.z;
    const double u = (a.velX - b.velX) * n.x + (a.velY - b.velY) * n.y + (a.velZ - b.velZ) * n.z;
    record.approachSpeed = u;
    const double J = 2.0 * u / (mi + mj);
    a.velX -= J * mj * n.x;
    a.velY -= J * mj * n.y;
    a.velZ -= J * mj * n.z;
    b.velX += J * mi * n.x;
    b.velY += J * mi * n.y;
    b.velZ += J * mi * n.z;

    if (thermostatted >= 0) rescaleSpeciesA(thermostatted, speedBefore);

    sim.collisionCount += 1;
    record.number = static_cast<uint32_t>(sim.collisionCount);
    record.time = sim.simulationTime;
    record.i = i;
    record.j = j;
    record.velIAfter = velocityOf(i);
    record.velJAfter = velocityOf(j);
    if (engineObserver.collision != nullptr) engineObserver.collision(record);
}
