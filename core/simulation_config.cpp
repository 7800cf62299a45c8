#include "core/simulation_config.h"

SimulationConfig config;

void resetConfig() { config = SimulationConfig{}; }
