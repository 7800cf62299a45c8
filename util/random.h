#pragma once
// The thermal walls are the only consumers of random numbers. The generator starts from the
// seed of config.json (the standard default unless given), so two runs on the same inputs
// are identical and replicas given different seeds are not; a continued run restores the
// state its predecessor saved, so that it draws the numbers an unbroken run would have drawn
// instead of repeating the first run's.

#include <cstdint>
#include <string>

inline constexpr double BOLTZMANN = 1.380649e-23;  // J/K

// One Maxwell-Boltzmann velocity component.
double sampleVelocityComponent(double mass, double temperature);
// Normal speed of a particle leaving a thermal wall (flux-weighted half-Maxwellian), >= 0.
double sampleWallNormalSpeed(double mass, double temperature);
// Restores the generator to its default seed, as at program start.
void resetRandomGenerator();
// Starts the generator afresh from a seed (nothing drawn yet, no deviate cached).
void seedRandomGenerator(uint64_t seed);

// The generator's complete state as the standard library writes it: the engine, and the
// normal distribution, which caches the second deviate of each pair it draws. Its numbers
// are written to their last bit, so a restored generator continues bit for bit.
struct RandomGeneratorState {
    std::string engine;
    std::string normal;
};
RandomGeneratorState saveRandomGenerator();
// Returns false and changes nothing for text that is not a state of this generator.
bool restoreRandomGenerator(const RandomGeneratorState& state);
