#pragma once
// The thermal walls are the only consumers of random numbers. The generator keeps its
// default seed and is never reseeded, so two runs on the same inputs are identical.

inline constexpr double BOLTZMANN = 1.380649e-23;  // J/K

// One Maxwell-Boltzmann velocity component.
double sampleVelocityComponent(double mass, double temperature);
// Normal speed of a particle leaving a thermal wall (flux-weighted half-Maxwellian), >= 0.
double sampleWallNormalSpeed(double mass, double temperature);
// Restores the generator to its default seed, as at program start.
void resetRandomGenerator();
