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

// The engine as a run that starts from the stored particle state builds it: every particle in
// the cell its position gives, in particle order; event counters at zero; an empty queue
// with one fresh event per particle, pushed in particle order (the push counter goes on).
// A continued run starts this way, and a running one starts over this way at each restart
// save, so that continuing from that save and not stopping are the same computation.
void startEngineFromStoredState();
