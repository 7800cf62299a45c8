#include "app/entry.h"

#include <iostream>

#include "app/config.h"
#include "app/console.h"
#include "app/initial_state.h"
#include "app/particle_config.h"
#include "core/loop.h"
#include "persist/last_state.h"

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
