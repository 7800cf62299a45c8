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
#include "persist/snapshots.h"
#include "stats/collision_stats.h"
#include "stats/series.h"
#include "stats/thermo.h"
#include "util/error.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/json_input.h"
#include "util/random.h"

// velocity_x.bin, velocity_z.bin and the per-species velocity_x0.bin, velocity_z1.bin, ...
// (by hand: GCC 12 warns inside <regex> itself in the sanitizer build).
static bool isVelocitySampleName(const std::string& name) {
    const std::string head = "velocity_", tail = ".bin";
    if (name.size() < head.size() + 1 + tail.size() || !name.starts_with(head) || !name.ends_with(tail)) return false;
    const char axis = name[head.size()];
    const std::string species = name.substr(head.size() + 1, name.size() - head.size() - 1 - tail.size());
    return (axis == 'x' || axis == 'z') &&
           std::all_of(species.begin(), species.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The outputs that every run appends to, as paths below the solution folder: a fresh run
// starts them from nothing. Those in free/ and velocity/ are samples: kept, they would mix
// this run's statistics with an earlier run's (the per-species velocity files of an earlier
// mixture included, whatever the species of this run).
static std::vector<std::string> earlierAppendedOutputs() {
    std::vector<std::string> names = {"state.bin", "collision_angle.bin", "pca.bin"};
    if (speciesTables.multiSpecies) names.push_back("species_temperature.bin");
    names.push_back("state.json");
    names.push_back("thermo.csv");
    for (const char* name : {"free_path.bin", "free_time.bin", "free_path_1_percent.bin"}) {
        names.push_back(std::string("free/") + name);
    }
    for (const char* name : {"collision_velocity.bin", "collision_velocity00.bin", "collision_velocity11.bin",
                             "collision_velocity01.bin", "particle_collision_velocity.bin",
                             "particle_collision_velocity0.bin", "particle_collision_velocity1.bin"}) {
        names.push_back(std::string("velocity/") + name);
    }
    std::vector<std::string> velocityFiles;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(solutionFolder + "/velocity", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isVelocitySampleName(name)) velocityFiles.push_back("velocity/" + name);
    }
    std::sort(velocityFiles.begin(), velocityFiles.end());
    names.insert(names.end(), velocityFiles.begin(), velocityFiles.end());

    std::vector<std::string> present;
    for (const std::string& name : names) {
        if (std::filesystem::exists(std::filesystem::symlink_status(solutionFolder + "/" + name, ec))) {
            present.push_back(name);
        }
    }
    return present;
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

static void writeEndOfRunFiles() {
    saveLastState();
    // Snapshots still buffered at the end would otherwise never reach state.bin, leaving
    // state.json and state.bin out of step with what the run sampled.
    if (config.log_state) bufferEndOfRunSnapshot();
    if (!stateSnapshotBuffer().empty()) flushStateSnapshots();
    // Samples taken since the last flush or save interval belong to this run too, also
    // when alter.json has switched their sampling off in the meantime.
    if (config.sample_collision_angle || !seriesBuffers.collisionAngleBuffer.empty()) flushCollisionAngles();
    if (config.sample_pca) flushPca();
    if (speciesTables.multiSpecies) flushSpeciesTemperature();
    if (config.sample_scattering_angle) saveAngleHistograms();
    saveEnergyProfiles();
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
        trimStateFileToRestartPoint();
    }

    std::cout << BLUE << "Pushing events for all particles..." << RESET;
    eventQueue.reserve(static_cast<size_t>(particleCount() * 1.25) + 64);
    for (int32_t p = 0; p < particleCount(); ++p) predictNextEvent(p);
    std::cout << BLUE << " Done.\n" << RESET;
    if (config.log_thermo) startThermoInterval();
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
    }

    writeEndOfRunFiles();
    if (stopping) std::cout << RED << " Done.\n" << RESET;
    std::signal(SIGTERM, SIG_DFL);
    return 0;
}
