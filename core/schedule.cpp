#include "core/schedule.h"

#include <iostream>

#include "app/config.h"
#include "app/console.h"
#include "core/events.h"
#include "core/particles.h"
#include "persist/last_state.h"
#include "persist/snapshots.h"

void afterCollision(const CollisionRecord& /*record*/) {
    const uint64_t c = sim.collisionCount;
    const SimulationConfig& cfg = config;

    if (c % static_cast<uint64_t>(cfg.save_last_state_every) == 0) saveLastState();

    if (c % cfg.collision_progress_every == 0) {
        std::cout << eraseLine << GRAY << "Collisions done: " << YELLOW << formatThousands(c) << RESET
                  << std::flush;
    }

    if (cfg.log_state) {
        if (c % cfg.save_particles_state_every == 0) bufferStateSnapshot();
        if (c % static_cast<uint64_t>(cfg.flush_state_buffer_every) == 0) flushStateSnapshots();
    }

    if (static_cast<double>(eventQueue.size()) > static_cast<double>(particleCount()) * cfg.purge_queue_above) {
        purgeQueue();
    }
}
