#pragma once

#include "core/events.h"

// Carries out one popped event: currency check, clock, advance, effect, re-prediction.
void processEvent(const Event& event);
