#pragma once
// Carrying out events: the body of the main loop.

#include "core/events.h"

// Carries out one popped event: currency check, clock, advance, effect, re-prediction.
// false: the event was stale or lay before the clock, and nothing happened.
bool processEvent(const Event& event);

enum class StepResult {
    Processed,       // a current event was carried out
    Stale,           // a stale event was dropped (its surviving partner may be predicted anew)
    BeforeClock,     // the earliest event lay before the clock and was dropped
    NoFurtherEvent,  // the earliest event lies at infinite time: nothing will ever happen
    QueueEmpty,
};

// One pass of the main loop: pops the earliest event into `event` and carries it out.
StepResult processNextEvent(Event& event);
