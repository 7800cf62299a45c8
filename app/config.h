#pragma once
// Loading and checking the run parameters of config.json.

#include <cstdint>
#include <string>

#include "core/simulation_config.h"

// Reads solutionFolder + "/config.json", sizes the particle arrays and builds the
// accumulators. Throws InputRefused for a file the run cannot use, and FatalError for
// non-zero gravity without z walls, which ends the run like a physics failure.
void loadConfig();

// loadConfig without its console lines.
void readConfigFile(const std::string& path);

// The memory that num_molecules particles on a grid of cells_per_dimension^3 cells need,
// in bytes (particle arrays, event queue, cell lists): a lower bound, for refusing absurd
// sizes before anything is allocated.
double estimatedRunMemory(int64_t numMolecules, int64_t cellsPerDimension);

// An empty string when the per-collision schedule can run as configured: every collision
// interval that the run will use is at least 1 (the schedule divides by them), and the
// snapshots held between two flushes fit in memory. Otherwise the complaint about the
// first problem.
std::string scheduleProblem(const SimulationConfig& c, bool multiSpecies);

// Snapshots are written no more often than they are taken: a flush interval below the
// snapshot interval is raised to it (compared as unsigned values).
void raiseStateFlushToSnapshotInterval(SimulationConfig& c);
