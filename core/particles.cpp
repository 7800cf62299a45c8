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

// Ballistic flight under gravity along -z. The free path grows by the chord of the step,
// not by the arc length of the parabola.
void advanceSingleParticle(int32_t p) {
    ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    if (m.lastAdvanceTime == sim.simulationTime) return;
    const double dt = sim.simulationTime - m.lastAdvanceTime;
    m.lastAdvanceTime = sim.simulationTime;
    const double L = config.domain_size;
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
    sim.freePath[static_cast<size_t>(p)] += std::sqrt(f.dx * f.dx + f.dy * f.dy + f.dz * f.dz);
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
