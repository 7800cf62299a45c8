#include "core/processing.h"

#include <algorithm>

#include "core/cells.h"
#include "core/collision.h"
#include "core/events.h"
#include "core/observer.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/simulation_config.h"
#include "util/random.h"

// Moves the particle into the neighbouring cell and onto the shared face exactly, so that
// rounding never leaves it on the wrong side of the face it just crossed.
static void crossFace(int32_t p, EventType type, int8_t dir) {
    const auto up = static_cast<size_t>(p);
    ParticleMotion& m = sim.motion[up];
    const CellIndices from{sim.cellX[up], sim.cellY[up], sim.cellZ[up]};
    CellIndices to = from;
    int32_t* index = &to.x;
    double* coordinate = &m.posX;
    bool upwards = m.velX > 0.0;
    if (type == BoundaryY) {
        index = &to.y;
        coordinate = &m.posY;
        upwards = m.velY > 0.0;
    } else if (type == BoundaryZ) {
        // Under gravity the velocity may have turned since the prediction; the predicted
        // direction is what was crossed.
        index = &to.z;
        coordinate = &m.posZ;
        upwards = dir == +1;
    }
    const int32_t n = grid.n;
    if (upwards) {
        *index += 1;
        if (*index == n) *index = 0;
        *coordinate = cellLower(*index);
    } else {
        *index -= 1;
        if (*index == -1) *index = n - 1;
        *coordinate = cellUpper(*index);
    }
    moveParticleToCell(p, from, to);
}

// Floor and ceiling reflect specularly, or re-emit the particle thermally when diffusive.
static void reflectAtWall(int32_t p, EventType type) {
    const auto up = static_cast<size_t>(p);
    ParticleMotion& m = sim.motion[up];
    const double mass = sim.mass[up];
    const double T = config.z_temperature;
    switch (type) {
        case Land:
            m.posZ = m.radius;
            m.velZ = -m.velZ;
            if (config.diffusive_z) {
                m.velX = sampleVelocityComponent(mass, T);
                m.velY = sampleVelocityComponent(mass, T);
                m.velZ = +sampleWallNormalSpeed(mass, T);
            }
            break;
        case Exit:
            m.posZ = config.domain_size - m.radius;
            m.velZ = -m.velZ;
            if (config.diffusive_z) {
                m.velX = sampleVelocityComponent(mass, T);
                m.velY = sampleVelocityComponent(mass, T);
                m.velZ = -sampleWallNormalSpeed(mass, T);
            }
            break;
        case MetalZ:
            m.posZ = config.metal_z - m.radius;
            m.velZ = -m.velZ;
            break;
        default:
            break;
    }
}

bool processEvent(const Event& event) {
    if (sim.simulationTime > event.time) {
        notifyEngine(EngineNotice::EventBeforeClock);
        return false;
    }
    if (!isEventCurrent(event)) return false;

    const EngineObserver& observer = engineObserver;
    // Every frame of the animation log is one instant: the whole system at the old clock.
    if (config.log_animation) advanceAllParticles();
    if (observer.beforeEvent != nullptr) observer.beforeEvent(event);
    sim.simulationTime = event.time;
    advanceParticle(event.i);
    if (event.j != -1) advanceParticle(event.j);
    if (observer.particlesAdvanced != nullptr) observer.particlesAdvanced(event);

    switch (event.type) {
        case Collision:
            performCollision(event);
            break;
        case BoundaryX:
        case BoundaryY:
        case BoundaryZ:
            crossFace(event.i, event.type, event.dir);
            break;
        case Land:
        case Exit:
        case MetalZ:
            reflectAtWall(event.i, event.type);
            break;
        default:
            notifyEngine(EngineNotice::UnhandledEventType);
            break;
    }

    sim.eventCount[static_cast<size_t>(event.i)] += 1;
    predictNextEvent(event.i);
    if (event.type == Collision) {
        // i was predicted before j's counter moved, so a new event of i with j is stale.
        sim.eventCount[static_cast<size_t>(event.j)] += 1;
        predictNextEvent(event.j);
    }
    if (observer.afterEvent != nullptr) observer.afterEvent(event);
    return true;
}

StepResult processNextEvent(Event& event) {
    if (eventQueue.empty()) return StepResult::QueueEmpty;
    event = eventQueue.top();
    eventQueue.pop();
    // The earliest event never happens, so neither does any other: nothing moves towards
    // anything any more.
    if (event.time == NEVER) return StepResult::NoFurtherEvent;
    if (sim.simulationTime > event.time) return StepResult::BeforeClock;
    return processEvent(event) ? StepResult::Processed : StepResult::Stale;
}

void startEngineFromStoredState() {
    initCells();
    assignParticlesToCells();
    std::fill(sim.eventCount.begin(), sim.eventCount.end(), 0);
    eventQueue.clear();
    for (int32_t p = 0; p < particleCount(); ++p) predictNextEvent(p);
}
