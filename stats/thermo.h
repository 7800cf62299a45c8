#pragma once
// The thermo table, thermo.csv: one row every thermo_every collisions with the state of the
// gas at that moment (temperatures, energies, momentum) and what happened over the interval
// since the previous row (pressure from the collisional virial, the momentum and heat the
// walls took, the collision rate of every pair of species).

#include <cstdint>
#include <string>
#include <vector>

#include "core/collision.h"
#include "core/events.h"

struct ThermoState {
    // The interval since the last row.
    double intervalStartTime = 0.0;
    uint64_t intervalStartCollisions = 0;
    double intervalStartTemperature = 0.0;
    double virial = 0.0;            // sum of r_ij . dp_i over the collisions
    double wallMomentum[3] = {};    // floor, ceiling, metal plane: momentum each took, into it
    double wallHeat[2] = {};        // floor, ceiling: energy the gas gave each
    std::vector<uint64_t> pairCollisions;  // numSpecies x numSpecies, counted at [min][max]
    // Where the rows that the summary averages begin: the byte offset in thermo.csv, and the
    // collision count and clock there. Read back from the file rather than kept in memory, so
    // that a run continued after a kill averages exactly the rows an unbroken run does.
    uint64_t meansFromOffset = 0;
    uint64_t meansFromCollisions = 0;
    double meansFromTime = 0.0;
    // The particle of the wall event in progress, as it reached the wall.
    double wallVelZ = 0.0;
    double wallKinetic = 0.0;
};

extern ThermoState thermo;

void resetThermo();

// The first interval starts at the clock of the run's start.
void startThermoInterval();
void recordThermoCollision(const CollisionRecord& record);
// A floor, ceiling or metal-plane event: before its handler runs (particles advanced to it)
// and after.
void recordWallContactBefore(const Event& event);
void recordWallContactAfter(const Event& event);

// The header line, and one row for the clock (which also starts the next interval).
std::string thermoHeader();
std::vector<double> thermoRow();
// Appends a row to path, after the header when the file is new or empty.
void appendThermoRow(const std::string& path);

// The temperature of the gas at the clock, as the table's T column counts it.
double gasTemperature();

// The averaged rows begin after what path holds now, at the clock.
void startThermoMeans(const std::string& path);

// Mean of one column over the averaged rows of path, as written there, with its standard
// error from the means of up to 20 consecutive blocks (which outlast the correlation time of
// a row or two); the error is NaN with fewer than 4 rows.
struct ColumnMean {
    std::string name;
    double mean = 0.0;
    double standardError = 0.0;
};
std::vector<ColumnMean> thermoRunMeans(const std::string& path);
