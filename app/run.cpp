#include "app/run.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "app/alterations.h"
#include "app/schedule.h"
#include "app/summary.h"
#include "core/cells.h"
#include "core/check.h"
#include "core/collision.h"
#include "core/events.h"
#include "core/observer.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/processing.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "persist/animation_log.h"
#include "persist/last_state.h"
#include "persist/outputs.h"
#include "persist/resume.h"
#include "persist/snapshots.h"
#include "stats/binary_files.h"
#include "stats/collision_stats.h"
#include "stats/velocity_logs.h"
#include "stats/series.h"
#include "stats/thermo.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"
#include "util/random.h"

// The outputs that every run appends to, and state.json that counts the snapshots: a fresh
// run starts them from nothing. Those in free/ and velocity/ are samples: kept, they would
// mix this run's statistics with an earlier run's (the per-species velocity files of an
// earlier mixture included, whatever the species of this run). resume.json stays: until the
// first restart save replaces last_state.json, its record is what a continued run needs.
static std::vector<std::string> earlierAppendedOutputs() {
    std::vector<std::string> names = appendedOutputs();
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(solutionFolder + "/state.json", ec))) {
        names.emplace_back("state.json");
    }
    return names;
}

// What would make removing the file fail: a folder with something in it in its place, or a
// folder around it that this process may not change.
static bool removable(const std::string& path) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    if (std::filesystem::is_directory(status) && !std::filesystem::is_empty(path, ec)) return false;
    if (ec) return false;
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return ::access(parent.empty() ? "." : parent.c_str(), W_OK | X_OK) == 0;
}

// Every output is checked before the first is removed, so that a start refused for one of
// them leaves the earlier run's outputs whole. A file that cannot be removed is most likely
// held by another process.
static bool removeOutputsOfEarlierRun() {
    const std::vector<std::string> names = earlierAppendedOutputs();
    for (const std::string& name : names) {
        if (!removable(solutionFolder + "/" + name)) {
            std::cout << "ERROR: " << solutionFolder << "/" << name << " is locked by another process.\n";
            return false;
        }
    }
    std::vector<std::string> removedSamples;
    for (const std::string& name : names) {
        std::error_code ec;
        if (!std::filesystem::remove(solutionFolder + "/" + name, ec) || ec) {
            std::cout << "ERROR: " << solutionFolder << "/" << name << " is locked by another process.\n";
            return false;
        }
        if (name.find('/') != std::string::npos) removedSamples.push_back(name);
    }
    if (!removedSamples.empty()) {
        std::cout << "Removed the samples of an earlier run:";
        for (size_t k = 0; k < removedSamples.size(); ++k) std::cout << (k == 0 ? " " : ", ") << removedSamples[k];
        std::cout << "\n";
    }
    return true;
}

// Every output as it stands at a restart point, buffers included, so that the restart
// point's record can hold each one's length. At the end of a run the last snapshot too.
static void writeOutputsOfRestartPoint(RestartKind kind) {
    if (kind == RestartKind::EndOfRun && config.log_state) bufferEndOfRunSnapshot();
    if (!stateSnapshotBuffer().empty()) flushStateSnapshots();
    // Samples taken since the last flush belong to the series too, also when alter.json has
    // switched their sampling off in the meantime.
    if (config.sample_collision_angle || !seriesBuffers.collisionAngleBuffer.empty()) flushCollisionAngles();
    if (config.sample_pca || !seriesBuffers.pcaBuffer.empty()) flushPca();
    if (speciesTables.multiSpecies) flushSpeciesTemperature();
    if (config.sample_scattering_angle) saveAngleHistograms();
    saveEnergyProfiles();
    flushCollisionVelocities();
    if (config.log_free_path) {
        CollisionStatistics& s = collisionStats;
        appendAndClearArrayFile(s.freePathSamples, solutionFolder, "/free", "free_path.bin");
        appendAndClearArrayFile(s.freeTimeSamples, solutionFolder, "/free", "free_time.bin");
        appendAndClearArrayFile(s.bottomFreePathSamples, solutionFolder, "/free", "free_path_1_percent.bin");
        saveFreePathProfiles();
    }
}

static void saveRestartPointWithOutputs(RestartKind kind) {
    writeOutputsOfRestartPoint(kind);
    saveRestartPoint(kind, {{"altered", alteredConfigValues()}});
}

// After a periodic restart save the run starts over from what it wrote, as a run continued
// from it does: the two then go on as one computation.
static void takePeriodicRestartPoint() {
    scheduleState.restartSaveDue = false;
    saveRestartPointWithOutputs(RestartKind::Periodic);
    startEngineFromStoredState();
}

static void writeEndOfRunFiles() {
    saveRestartPointWithOutputs(RestartKind::EndOfRun);
    if (config.log_animation) writeAnimationLog();
    writeRunSummary();
#ifndef NDEBUG
    if (std::string problem = checkSystem(); !problem.empty()) fatalError("Inconsistent system: " + problem);
#endif
}

// Overlapping spheres would be pushed apart by their first collision as if by a force no
// physics asks for. Checked before the folder is touched, so that a refused start leaves
// every file of the earlier run as it was.
static void refuseOverlappingStart() {
    const std::string problem = findOverlap();
    if (problem.empty()) return;
    refuseInput(solutionFolder + (config.mode == "init" ? "/particles_init.json" : "/last_state.json"), problem);
}

// The thermostat takes 3/2 k (273.15 K) per species-a particle as species a's whole kinetic
// energy, and stored studies rely on that rule. Started elsewhere, species a keeps its own
// energy for a while or falls to that value through a transient of thousands of kelvin,
// soonest when species b dominates: a result the user must know to expect.
static void warnOfThermostatMismatch() {
    if (!config.thermostatted_a || speciesTables.numSpecies != 2) return;
    const std::vector<int32_t>& members = speciesTables.speciesMembers[0];
    if (members.empty()) return;
    double energy = 0.0;
    for (int32_t p : members) {
        const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
        energy += 0.5 * sim.mass[static_cast<size_t>(p)] * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ);
    }
    const double mean = energy / static_cast<double>(members.size());
    const double offset = mean / THERMOSTAT_PARTICLE_ENERGY - 1.0;
    if (std::abs(offset) <= 0.01) return;
    std::ostringstream text;
    text << "Warning: species a starts with a mean kinetic energy of " << std::setprecision(3) << mean
         << " J per particle (3/2 k x " << std::fixed << std::setprecision(1) << mean / (1.5 * BOLTZMANN) << " K), "
         << std::abs(offset) * 100.0 << " % " << (offset > 0 ? "above" : "below")
         << " the 3/2 k x 273.15 K per particle that the species-a thermostat takes as species a's energy: "
         << "species a may keep its own energy for a long time, or fall to that value through a transient of "
         << "thousands of kelvin, depending on the mixture (see Species in the README).\n";
    std::cerr << text.str();
}

// The texts of what the engine reports besides its events.
static void printEngineNotice(EngineNotice notice, const NoticeData& d) {
    switch (notice) {
        case EngineNotice::ThermostatCollision:
            std::cout << "thermostatted\n";
            break;
        case EngineNotice::ThermostatRescale:
            std::cout << "should not be here\n";
            break;
        case EngineNotice::ThermostatSkipped:
            std::cout << "Thermostat skipped at collision " << d.count << ": energy ratio " << d.value
                      << " cannot be rescaled\n";
            break;
        case EngineNotice::ContactRepair:
            std::cout << " \nDifference at CollisionCount: " << d.count << "  push_index: " << d.push << "\n";
            std::cout << "dist: " << d.value << " sumR: " << d.value2 << "\n";
            std::cout << "Trying to correct, if it is a wrapping rounding error.\n";
            break;
        case EngineNotice::ContactRepairDistance:
            std::cout << "Corrected dist: " << d.value << "\n";
            break;
        case EngineNotice::ContactRepaired:
            std::cout << "Corrected.\n";
            break;
        case EngineNotice::EventBeforeClock:
            std::cout << "Floating error\n";
            break;
        case EngineNotice::UnhandledEventType:
            std::cerr << "Unhandled event type\n";
            break;
    }
}

static void printPurgeProgress(int32_t predicted, int32_t total) {
    std::cout << eraseLine << GREEN << "  event " << formatThousands(static_cast<uint64_t>(predicted)) << " of "
              << formatThousands(static_cast<uint64_t>(total));
}

// The thermo table needs the velocity of a particle on either side of a wall contact.
static bool observesWalls() { return config.log_thermo && (config.reflective_z || config.has_metal_z); }

static void particlesAdvanced(const Event& event) {
    if (config.log_animation) recordAnimationPositions(event);
    if (observesWalls()) recordWallContactBefore(event);
}

static void afterEvent(const Event& event) {
    if (config.log_animation) completeAnimationEntry(event);
    if (observesWalls()) recordWallContactAfter(event);
}

void connectOutputs() {
    EngineObserver& o = engineObserver;
    o = EngineObserver{};
    o.collision = afterCollision;
    o.purgeProgress = printPurgeProgress;
    o.notice = printEngineNotice;
    if (config.log_animation) o.beforeEvent = beginAnimationEntry;
    // Left empty otherwise: a periodic box without the animation log pays nothing per event.
    if (config.log_animation || observesWalls()) {
        o.particlesAdvanced = particlesAdvanced;
        o.afterEvent = afterEvent;
    }
}

void prepareEngine() {
    connectOutputs();
    std::cout << BLUE << "Initializing cells structure..." << RESET;
    initCells();
    std::cout << BLUE << " Done.\n" << RESET;
    assignParticlesToCells();
    refuseOverlappingStart();
}

// A batch system sends SIGTERM a while before it kills a job: the run then ends after the
// event in progress and writes its end-of-run files, as a stop through alter.json does, so
// that the restart file holds where it stopped. Only a flag is set in the handler.
// Installed before the inputs are read, so that a warning during loading ends the run at its
// first event rather than killing it.
static volatile std::sig_atomic_t terminationRequested = 0;

static void requestTermination(int) { terminationRequested = 1; }

void watchForTermination() {
    terminationRequested = 0;
    std::signal(SIGTERM, requestTermination);
}

int runSimulation() {
    prepareEngine();
    warnOfThermostatMismatch();
    warnOfStandingStop();
    if (config.mode == "init") {
        if (!removeOutputsOfEarlierRun()) return 1;
    } else {
        restoreOutputsToRestartPointOrTrim();
    }

    std::cout << BLUE << "Pushing events for all particles..." << RESET;
    eventQueue.reserve(static_cast<size_t>(particleCount() * 1.25) + 64);
    startEngineFromStoredState();
    std::cout << BLUE << " Done.\n" << RESET;
    // A restart point's record carries the thermo interval and the averaged stretch on.
    if (!resumeState.found) {
        startThermoMeans(solutionFolder + "/thermo.csv");
        if (config.log_thermo) startThermoInterval();
    }
    startProgressClock();

    if (sim.simulationTime > 0) {
        std::cout << RED << "Starting at RUNTIME: " << sim.simulationTime << " with " << sim.collisionCount
                  << " done collisions.\n"
                  << RESET;
    }

    bool stopping = false;
    while (sim.collisionCount < config.max_collision_count) {
        if (terminationRequested) {
            std::cout << RED << "\nStopping on SIGTERM..." << RESET;
            stopping = true;
            break;
        }
        Event event;
        const StepResult step = processNextEvent(event);
        if (step == StepResult::QueueEmpty) break;
        if (step == StepResult::NoFurtherEvent) {
            std::cout << RED << "\nNo further event can happen (every particle's next event lies at infinite "
                      << "time); ending the run.\n"
                      << RESET;
            break;
        }
        if (step == StepResult::BeforeClock) {
            std::cout << "Stale zero\n";
            continue;
        }
        // A stale collision popped while the count sits on a multiple polls once more;
        // applying the same file twice changes nothing but a profile reset.
        if (event.type == Collision && sim.collisionCount % static_cast<uint64_t>(config.check_alter_every) == 0) {
            applyAlterations();
            if (alterations.stopRequested) {
                std::cout << RED << "\nStopping..." << RESET;
                stopping = true;
                break;
            }
        }
        // The end of the run saves anyway.
        if (scheduleState.restartSaveDue && sim.collisionCount < config.max_collision_count) takePeriodicRestartPoint();
    }

    writeEndOfRunFiles();
    if (stopping) std::cout << RED << " Done.\n" << RESET;
    std::signal(SIGTERM, SIG_DFL);
    return 0;
}
