#pragma once
// The per-collision schedule: everything that happens every so many collisions, in one
// place and in its fixed order. Only carried-out collisions drive it; the engine calls it
// through its collision hook, before either particle is predicted again.

#include <cstdint>

#include "core/collision.h"

void afterCollision(const CollisionRecord& record);

// What the schedule leaves to the main loop: a restart save is taken once the whole event is
// done and the alteration poll of its collision has run.
struct ScheduleState {
    bool restartSaveDue = false;
};
extern ScheduleState scheduleState;
void resetScheduleState();

// Wall-clock figures for the progress line; shown only when standard output is a terminal,
// so that a log file holds the same bytes whatever the machine's speed.
struct ProgressState {
    bool onTerminal = false;
    double wallStart = 0.0;  // s, steady clock
    uint64_t collisionsAtStart = 0;
    double timeAtStart = 0.0;  // the simulation clock
};
extern ProgressState progressState;
void resetProgressState();
// At the start of the event loop.
void startProgressClock();
// Wall seconds since then.
double progressWallSeconds();
