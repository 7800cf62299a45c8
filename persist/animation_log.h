#pragma once
// A frame-by-frame record of every processed event, for replaying a small simulation:
// the event, its particles before and after, and the whole system after it. Kept in
// memory for the whole run (O(N) per event) and written once, at the end, as
// animation_entries.json.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/events.h"
#include "util/vec3.h"

struct AnimationEntry {
    int32_t index = 0;
    uint64_t push = 0;
    double time = 0.0;
    int32_t type = 0;
    std::string name;
    int32_t id1 = -1;
    int32_t id2 = -1;
    Vec3 v1Before, v2Before, v1After, v2After;
    double freePath1 = 0.0, freePath2 = 0.0;
    double freeTime1 = 0.0, freeTime2 = 0.0;
    Vec3 p1, p2;  // at the event time, before the event's action
    int32_t direction = NO_DIR;
    int32_t cellX1Before = -1, cellY1Before = -1, cellZ1Before = -1;
    int32_t cellX1After = -1, cellY1After = -1, cellZ1After = -1;
    std::vector<Vec3> positions;   // all particles after the event
    std::vector<Vec3> velocities;  // all particles after the event
};

struct AnimationLog {
    std::vector<AnimationEntry> entries;
    uint32_t eventCount = 0;  // entries recorded in this run
    AnimationEntry pending;   // the entry of the event being processed
};

extern AnimationLog animationLog;

void resetAnimationLog();

// The three moments of one current event's processing: before the clock moves (every
// particle already brought to the old clock), after its particles are advanced to the
// event time, and after its action and the new predictions.
void beginAnimationEntry(const Event& event);
void recordAnimationPositions(const Event& event);
void completeAnimationEntry(const Event& event);

// The entry as it appears in the file: keys in ascending order.
nlohmann::json animationEntryJson(const AnimationEntry& entry);

// Writes solutionFolder + "/animation_entries.json", replacing an earlier file. Throws
// std::runtime_error("Could not open file: " + path) when it cannot be written.
void writeAnimationLog();
