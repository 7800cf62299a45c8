#pragma once
// How the engine tells the layers above what happened. The run layer fills in the hooks it
// needs and leaves the others empty; outputs plug in here and never into the engine.
// Plain function pointers: one predictable indirect call per hook, nothing when empty.

#include <cstdint>

#include "core/collision.h"
#include "core/events.h"

// What the engine has to say besides its events; the texts belong to the run layer.
enum class EngineNotice : uint8_t {
    ThermostatCollision,    // a species-a particle meets a species-b one under the thermostat
    ThermostatRescale,      // the thermostat rescales species a
    ThermostatSkipped,      // count: the collision, value: the energy ratio it cannot apply
    ContactRepair,          // count: collisions so far, push: the event, value: distance, value2: sum of radii
    ContactRepairDistance,  // value: the distance after moving the partner's image
    ContactRepaired,
    EventBeforeClock,       // an event that lies before the clock reached processEvent
    UnhandledEventType,
};

struct NoticeData {
    uint64_t count = 0;
    uint64_t push = 0;
    double value = 0.0;
    double value2 = 0.0;
};

struct EngineObserver {
    // The three moments of a current event: before the clock moves (with the animation log
    // on, every particle is at the old clock), after its particles are advanced to the event
    // time, and after its action and the new predictions.
    void (*beforeEvent)(const Event&) = nullptr;
    void (*particlesAdvanced)(const Event&) = nullptr;
    void (*afterEvent)(const Event&) = nullptr;
    // A collision carried out: new velocities and collisionCount are set, and neither
    // particle has been predicted again yet.
    void (*collision)(const CollisionRecord&) = nullptr;
    // Every 100 particles that a purge has predicted anew.
    void (*purgeProgress)(int32_t predicted, int32_t total) = nullptr;
    void (*notice)(EngineNotice notice, const NoticeData& data) = nullptr;
};

extern EngineObserver engineObserver;

void resetEngineObserver();

inline void notifyEngine(EngineNotice notice, const NoticeData& data = {}) {
    if (engineObserver.notice != nullptr) engineObserver.notice(notice, data);
}
