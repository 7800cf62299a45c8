#pragma once
// Sampled series: fixed-width records of doubles buffered in memory and appended to
// their binary files at the flush intervals.
//   collision_angle.bin      6 per record: c, species i, species j, velocity angle,
//                            scattering angle, collision angle
//   pca.bin                  4 per record: c, x, y, z of the contact point
//   species_temperature.bin  numSpecies + 1 per record: c, T of species 0, 1, ...

#include <cstdint>
#include <vector>

#include "core/collision.h"

struct SeriesBuffers {
    // Records stored back to back: the file layout, ready to be written in one go.
    std::vector<double> collisionAngleBuffer;
    std::vector<double> pcaBuffer;
    std::vector<double> speciesTemperatureBuffer;
    uint64_t speciesSampleCount = 0;  // species-temperature samples taken in this run
};

extern SeriesBuffers seriesBuffers;

void resetSeriesBuffers();

// Throws std::runtime_error for coincident contact positions or a zero relative velocity.
void sampleCollisionAngle(const CollisionRecord& record);
void samplePca(const CollisionRecord& record);
void sampleSpeciesTemperature();

// Each appends its buffer to its file (created when missing) and empties it. Throws
// std::runtime_error("Failed to open file: " + path), keeping the buffer.
void flushCollisionAngles();
void flushPca();
void flushSpeciesTemperature();

// " dT: " (T0 - T1) or, between thermal walls, " T: " (T0 + T1) / 2, averaged over every
// sample so far; written behind the progress line.
void writeTemperatureFigure();
