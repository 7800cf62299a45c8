#pragma once
// Every future happening is an Event in one time-ordered heap. Obsolete events are not
// searched for: they are recognised by the per-particle event counters when they surface.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/cells.h"
#include "util/large_vector.h"
#include "util/vec3.h"

enum EventType : uint8_t {
    Collision = 0,
    BoundaryX = 1,
    BoundaryY = 2,
    BoundaryZ = 3,
    Land = 4,    // bottom of the sphere reaches the floor
    Exit = 5,    // top of the sphere reaches the ceiling
    MetalZ = 6,  // top of the sphere reaches the metal plane from below
};

inline constexpr int32_t NO_DIR = -5;
inline constexpr double NEVER = std::numeric_limits<double>::infinity();

// Display names, trailing blanks included.
const char* eventTypeName(int32_t type);

struct Event {
    double time = NEVER;
    uint64_t push = 0;
    int32_t i = -1;
    int32_t j = -1;
    int32_t qi = 0;   // eventCount[i] at prediction
    int32_t qj = -1;  // eventCount[j] at prediction
    EventType type = Collision;
    int8_t dir = NO_DIR;  // +1 towards the higher cell index, -1 towards the lower
    ImageShift shiftI;
    ImageShift shiftJ;
};

// A binary heap with the earliest event on top. The heap itself holds only (time, slot)
// keys, so that sifting moves 16 bytes instead of whole events; the events wait in a pool.
// The order of events with equal times is whatever the standard heap algorithms give on
// the keys, exactly as for a heap of whole events with the same comparator.
struct EventKey {
    double time;
    uint32_t slot;
};

struct EventLater {
    bool operator()(const EventKey& a, const EventKey& b) const { return a.time > b.time; }
};

struct EventQueue {
    LargeVector<EventKey> heap;
    LargeVector<Event> pool;
    LargeVector<uint32_t> freeSlots;
    uint64_t pushCount = 0;  // never reset, so push indices are unique within a run

    bool empty() const { return heap.empty(); }
    size_t size() const { return heap.size(); }
    const Event& top() const { return pool[heap.front().slot]; }
    void push(const Event& event);
    void pop();
    void clear();
    void reserve(size_t events);
};

extern EventQueue eventQueue;

void resetEventQueue();

void pushEvent(Event event);

// The currency rule: true when the event is still valid. A stale collision whose partner is
// still current gives that partner a new prediction, since its pending event was this one.
bool isEventCurrent(const Event& event);

// Rebuilds the queue from scratch with one fresh event per particle.
void purgeQueue();
