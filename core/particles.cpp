#include "core/particles.h"

#include <cmath>

#include "core/simulation_config.h"

ParticleStore sim;

void resetParticleStore() { sim = ParticleStore{}; }

void resizeParticleStore(int32_t n) {
    const auto count = static_cast<size_t>(n);
    sim.motion.assign(count, ParticleMotion{});
    sim.mass.assign(count, 0.0);
    sim.freePath.assign(count, 0.0);
    sim.freeTime.assign(count, 0.0);
    sim.truePath.assign(count, 0);
    sim.species.assign(count, 0);
    sim.eventCount.assign(count, 0);
    sim.cellX.assign(count, 0);
    sim.cellY.assign(count, 0);
    sim.cellZ.assign(count, 0);
    sim.cellSlot.assign(count, -1);
}

static inline void wrapOnce(double& c, double L) {
    if (c < 0.0) {
        c += L;
    } else if (c > L) {
        c -= L;
    }
}

// The length of the parabola flown in dt from vertical speed w0, with horizontal speed h:
// the integral of sqrt(h^2 + w^2) over the flight, w = w0 - g t, which is (F(w0) - F(w1)) / g
// with F(w) = (w s + h^2 asinh(w / h)) / 2, s = sqrt(h^2 + w^2). Taken as written the difference
// keeps no digit for a molecule, whose speed changes by 1e-9 of itself over a step, so both of
// its terms are rewritten as products with g dt:
//   w0 s0 - w1 s1 = g dt (s0 + w1 (w0 + w1) / (s0 + s1)),
//   asinh(w0 / h) - asinh(w1 / h) = asinh(g dt (w0 + w1) / (w0 s1 + w1 s0))  (w0, w1 of one sign),
// and when the flight passes its apex the two asinh terms add instead of cancelling.
double parabolaLength(double h, double w0, double g, double dt) {
    const double d = g * dt;
    const double w1 = w0 - d;
    const double s0 = std::sqrt(h * h + w0 * w0);
    const double s1 = std::sqrt(h * h + w1 * w1);
    if (s0 + s1 == 0.0) return 0.0;
    const double speedTerm = d * (s0 + w1 * (w0 + w1) / (s0 + s1));
    double angleTerm = 0.0;  // h^2 asinh(w / h) vanishes with h
    if (h * h > 0.0) {
        const double angle = w0 * w1 > 0.0 ? std::asinh(d * (w0 + w1) / (w0 * s1 + w1 * s0))
                                           : std::asinh(w0 / h) - std::asinh(w1 / h);
        angleTerm = h * h * angle;
    }
    return 0.5 * (speedTerm + angleTerm) / g;
}

// Ballistic flight under gravity along -z. The free path grows by the length of the path
// flown, so that it does not depend on how often the particle is advanced on the way.
void advanceSingleParticle(int32_t p) {
    ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    if (m.lastAdvanceTime == sim.simulationTime) return;
    const double dt = sim.simulationTime - m.lastAdvanceTime;
    m.lastAdvanceTime = sim.simulationTime;
    const double L = config.domain_size;
    const double w0 = m.velZ;
    const FreeFlight f = freeFlight(m, dt, config.g);
    m.posX += f.dx;
    m.posY += f.dy;
    m.posZ += f.dz;
    m.velZ += f.dvz;
    wrapOnce(m.posX, L);
    wrapOnce(m.posY, L);
    if (config.reflective_z) {
        // Rounding can carry a sphere a hair through the floor or ceiling.
        if (m.posZ < m.radius) m.posZ = m.radius;
        if (m.posZ > L - m.radius) m.posZ = L - m.radius;
    } else {
        wrapOnce(m.posZ, L);
    }
    sim.freePath[static_cast<size_t>(p)] +=
        config.g != 0.0 ? parabolaLength(std::sqrt(m.velX * m.velX + m.velY * m.velY), w0, config.g, dt)
                        : std::sqrt(f.dx * f.dx + f.dy * f.dy + f.dz * f.dz);
    sim.freeTime[static_cast<size_t>(p)] += dt;
}

void advanceParticle(int32_t p) {
    if (config.log_animation) {
        advanceAllParticles();
    } else {
        advanceSingleParticle(p);
    }
}

void advanceAllParticles() {
    const int32_t n = particleCount();
    for (int32_t p = 0; p < n; ++p) advanceSingleParticle(p);
}
