#include "util/random.h"

#include <cmath>
#include <random>

namespace {
struct RandomState {
    std::mt19937_64 generator;
    std::normal_distribution<double> normal{0.0, 1.0};
    std::uniform_real_distribution<double> uniform{0.0, 1.0};
};
thread_local RandomState randomState;
}  // namespace

void resetRandomGenerator() { randomState = RandomState{}; }

double sampleVelocityComponent(double mass, double temperature) {
    return std::sqrt(BOLTZMANN * temperature / mass) * randomState.normal(randomState.generator);
}

// Inverse-transform sample of the Rayleigh distribution sqrt(-2 ln(1-u)).
double sampleWallNormalSpeed(double mass, double temperature) {
    double u = randomState.uniform(randomState.generator);
    while (u >= 1.0) u = randomState.uniform(randomState.generator);
    return std::sqrt(BOLTZMANN * temperature / mass) * std::sqrt(-2.0 * std::log(1.0 - u));
}
