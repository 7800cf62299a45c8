#include "app/entry.h"

#include <iostream>

#include "app/alterations.h"
#include "app/config.h"
#include "app/initial_state.h"
#include "app/particle_config.h"
#include "app/run.h"
#include "app/schedule.h"
#include "core/cells.h"
#include "core/events.h"
#include "core/observer.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/species.h"
#include "persist/animation_log.h"
#include "persist/last_state.h"
#include "persist/resume.h"
#include "persist/snapshots.h"
#include "stats/collision_stats.h"
#include "stats/series.h"
#include "stats/thermo.h"
#include "stats/velocity_logs.h"
#include "util/file_output.h"
#include "util/format.h"
#include "util/random.h"

void resetProgramState() {
    resetConfig();
    solutionFolder = "temp";
    resetParticleStore();
    resetSpeciesTables();
    resetCellGrid();
    resetEventQueue();
    resetPredictionState();
    resetEngineObserver();
    resetSnapshotState();
    resetCollisionStatistics();
    resetSeriesBuffers();
    resetThermo();
    resetVelocityLogs();
    resetRandomGenerator();
    resetAlterations();
    resetAnimationLog();
    resetProgressState();
    resetScheduleState();
    resetResumeState();
}

// A run resumed from a periodic restart point goes on with what alter.json had changed.
static void continueWithAlteredValues() {
    const auto altered = resumeState.record.find("altered");
    if (altered == resumeState.record.end()) return;
    try {
        applyAlteredConfigValues(*altered);
    } catch (const InputError& e) {
        refuseInput(solutionFolder + "/resume.json", std::string("key \"altered\": ") + e.what());
    }
}

void loadInputs() {
    loadConfig();
    // Before the restart state: a continued run replaces the seeded state with its saved one.
    seedRandomGenerator(config.wall_seed);
    loadSpecies();
    if (config.mode == "init") {
        loadInitialState();
        alterations.fromFile = config;
    } else {
        std::cout << BLUE << "Loading last saved particle state..." << RESET;
        restoreLastState();
        std::cout << BLUE << " Done.\n" << RESET;
        // The windows as moved on or restored are config.json's as far as alter.json goes.
        alterations.fromFile = config;
        if (resumeState.found && resumeState.kind == RestartKind::Periodic) continueWithAlteredValues();
    }
    refuseUnfittingSnapshotBuffer();
}

const char* programVersion() { return HARDGAS_VERSION; }

static void printHelp(const char* program) {
    std::cout << "Usage: " << program << " <solutionFolder>\n\n"
              << "Simulates a gas of hard spheres by event-driven molecular dynamics. The folder holds\n"
              << "config.json, particles_config.json and particles_init.json (a fresh run, \"mode\": \"init\")\n"
              << "or the last_state.json of an earlier run (any other mode continues it); every output\n"
              << "is written there. Make a folder with hardgas-init; steer a running simulation with\n"
              << "alter.json in the folder. The README describes every key and file.\n\n"
              << "  -h, --help     this text\n"
              << "  --version      the version\n";
}

int runProgram(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "Usage: " << argv[0] << " <solutionFolder>\n";
        return 1;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        printHelp(argv[0]);
        return 0;
    }
    if (first == "--version") {
        std::cout << "hardgas " << programVersion() << "\n";
        return 0;
    }
    solutionFolder = argv[1];
    watchForTermination();
    loadInputs();
    return runSimulation();
}
