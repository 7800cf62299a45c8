#include "app/entry.h"

#include <iostream>

#include "app/alterations.h"
#include "app/config.h"
#include "app/console.h"
#include "app/initial_state.h"
#include "app/particle_config.h"
#include "core/cells.h"
#include "core/events.h"
#include "core/loop.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "persist/animation_log.h"
#include "persist/last_state.h"
#include "persist/snapshots.h"
#include "stats/collision_stats.h"
#include "stats/series.h"
#include "stats/velocity_logs.h"

void resetProgramState() {
    resetConfig();
    resetParticleStore();
    resetSpeciesTables();
    resetCellGrid();
    resetEventQueue();
    resetPredictionState();
    resetSnapshotState();
    resetCollisionStatistics();
    resetSeriesBuffers();
    resetVelocityLogs();
    resetRandomGenerator();
    resetAlterations();
    resetAnimationLog();
}

int runProgram(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "Usage: " << argv[0] << " <solutionFolder>\n";
        return 1;
    }
    solutionFolder = argv[1];
    if (!loadConfig()) return 1;
    if (!loadSpecies()) return 1;
    if (config.mode == "init") {
        if (!loadInitialState()) return 1;
    } else {
        std::cout << BLUE << "Loading last saved particle state..." << RESET;
        if (!restoreLastState()) return 1;
        std::cout << BLUE << " Done.\n" << RESET;
    }
    return runSimulation();
}
