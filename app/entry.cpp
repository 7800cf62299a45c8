#include "app/entry.h"

#include <iostream>

#include "app/alterations.h"
#include "app/config.h"
#include "app/initial_state.h"
#include "app/particle_config.h"
#include "app/run.h"
#include "core/cells.h"
#include "core/events.h"
#include "core/observer.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/species.h"
#include "persist/animation_log.h"
#include "persist/last_state.h"
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
}

void loadInputs() {
    loadConfig();
    loadSpecies();
    if (config.mode == "init") {
        loadInitialState();
    } else {
        std::cout << BLUE << "Loading last saved particle state..." << RESET;
        restoreLastState();
        std::cout << BLUE << " Done.\n" << RESET;
    }
    refuseUnfittingSnapshotBuffer();
}

int runProgram(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "Usage: " << argv[0] << " <solutionFolder>\n";
        return 1;
    }
    solutionFolder = argv[1];
    loadInputs();
    return runSimulation();
}
