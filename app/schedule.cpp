#include "app/schedule.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <unistd.h>
#include <iostream>

#include "core/events.h"
#include "core/particles.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "persist/snapshots.h"
#include "stats/collision_stats.h"
#include "stats/series.h"
#include "stats/thermo.h"
#include "stats/velocity_logs.h"
#include "util/file_output.h"
#include "util/format.h"

ProgressState progressState;
ScheduleState scheduleState;

void resetScheduleState() { scheduleState = ScheduleState{}; }

void resetProgressState() { progressState = ProgressState{}; }

static double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void startProgressClock() {
    progressState.onTerminal = isatty(STDOUT_FILENO) == 1;
    progressState.wallStart = wallSeconds();
    progressState.collisionsAtStart = sim.collisionCount;
    progressState.timeAtStart = sim.simulationTime;
}

double progressWallSeconds() { return wallSeconds() - progressState.wallStart; }

static std::string durationText(double seconds) {
    char text[32];
    if (seconds < 120) {
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    } else if (seconds < 7200) {
        std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
    } else {
        std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
    }
    return text;
}

// Collisions per wall second over this run, the simulated time and the time left to the budget.
static void writeRunRate(uint64_t c) {
    const double elapsed = progressWallSeconds();
    const double done = static_cast<double>(c - progressState.collisionsAtStart);
    if (!(elapsed > 0.0) || done <= 0.0) return;
    const double rate = done / elapsed;
    const double left = static_cast<double>(config.max_collision_count - std::min(c, config.max_collision_count)) / rate;
    char text[96];
    std::snprintf(text, sizeof text, "  %.3g collisions/s  t = %.4g s  ", rate, sim.simulationTime);
    std::cout << GRAY << text << durationText(left) << " left" << RESET << std::flush;
}

static bool inWindow(uint64_t c, uint64_t after, uint64_t until) { return after < c && c <= until; }

// The order of the steps is part of what the outputs mean, so it is kept exactly.
void afterCollision(const CollisionRecord& record) {
    const uint64_t c = sim.collisionCount;
    const SimulationConfig& cfg = config;
    const bool multiSpecies = speciesTables.multiSpecies;

    if (cfg.log_velocity && c % static_cast<uint64_t>(particleCount()) == 0) writeVelocitySamples();
    if (cfg.log_free_path) recordFreePaths(record);
    if (cfg.log_collision_velocity) recordCollisionVelocities(record);
    if (cfg.sample_scattering_angle) {
        if (inWindow(c, cfg.sample_scattering_angle_after, cfg.sample_scattering_angle_until)) {
            sampleScatteringAngles(record);
        }
        if (c % cfg.save_scattering_angle_every == 0) saveAngleHistograms();
    }
    if (cfg.sample_collision_angle) {
        if (inWindow(c, cfg.sample_collision_angle_after, cfg.sample_collision_angle_until)) {
            sampleCollisionAngle(record);
        }
        if (c % cfg.flush_collision_angle_buffer_every == 0) flushCollisionAngles();
    }
    if (cfg.sample_pca) {
        if (inWindow(c, cfg.sample_pca_after, cfg.sample_pca_until)) samplePca(record);
        if (c % cfg.flush_pca_buffer_every == 0) flushPca();
    }

    if (c % static_cast<uint64_t>(cfg.save_last_state_every) == 0) scheduleState.restartSaveDue = true;

    if (multiSpecies) {
        if (c > static_cast<uint64_t>(std::max(cfg.species_stats_after, 0)) &&
            c % static_cast<uint64_t>(cfg.species_stats_every) == 0) {
            sampleSpeciesTemperature();
        }
        if (c % static_cast<uint64_t>(cfg.flush_species_stats_every) == 0) flushSpeciesTemperature();
    }

    if (c % cfg.collision_progress_every == 0) {
        std::cout << eraseLine << GRAY << "Collisions done: " << YELLOW << formatThousands(c) << RESET
                  << std::flush;
        if (multiSpecies && seriesBuffers.speciesSampleCount > 0) writeTemperatureFigure();
        if (progressState.onTerminal) writeRunRate(c);
    }

    if (cfg.log_state) {
        if (c % cfg.save_particles_state_every == 0) bufferStateSnapshot();
        if (c % static_cast<uint64_t>(cfg.flush_state_buffer_every) == 0) flushStateSnapshots();
    }

    if (c > static_cast<uint64_t>(std::max(cfg.stats_after, 0))) {
        if (c % static_cast<uint64_t>(cfg.stats_every) == 0) sampleEnergyProfiles();
        if (c % static_cast<uint64_t>(cfg.flush_stats_every) == 0) saveEnergyProfiles();
    }

    if (cfg.log_thermo) {
        recordThermoCollision(record);
        if (c % cfg.thermo_every == 0) appendThermoRow(solutionFolder + "/thermo.csv");
    }

    if (static_cast<double>(eventQueue.size()) > static_cast<double>(particleCount()) * cfg.purge_queue_above) {
        std::cout << RED << "\nPurging queue:\n" << RESET;
        purgeQueue();
        std::cout << RED << "\nDone.\n" << RESET;
    }
}
