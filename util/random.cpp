#include "util/random.h"

#include <cmath>
#include <locale>
#include <random>
#include <sstream>

namespace {
struct RandomState {
    std::mt19937_64 generator;
    std::normal_distribution<double> normal{0.0, 1.0};
    std::uniform_real_distribution<double> uniform{0.0, 1.0};
};
thread_local RandomState randomState;
}  // namespace

void resetRandomGenerator() { randomState = RandomState{}; }

void seedRandomGenerator(uint64_t seed) {
    randomState = RandomState{};
    randomState.generator.seed(seed);
}

// The classic locale, so that no digit grouping of the user's locale enters the text.
template <typename T>
static std::string stateText(const T& part) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << part;
    return out.str();
}

template <typename T>
static bool readStateText(const std::string& text, T& part) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    in >> part;
    if (in.fail()) return false;
    in >> std::ws;
    return in.eof();
}

RandomGeneratorState saveRandomGenerator() {
    return {stateText(randomState.generator), stateText(randomState.normal)};
}

bool restoreRandomGenerator(const RandomGeneratorState& state) {
    RandomState restored = randomState;
    if (!readStateText(state.engine, restored.generator) || !readStateText(state.normal, restored.normal)) return false;
    // Another mean or spread would scale every wall velocity.
    if (restored.normal.mean() != 0.0 || restored.normal.stddev() != 1.0) return false;
    randomState = restored;
    return true;
}

double sampleVelocityComponent(double mass, double temperature) {
    return std::sqrt(BOLTZMANN * temperature / mass) * randomState.normal(randomState.generator);
}

// Inverse-transform sample of the Rayleigh distribution sqrt(-2 ln(1-u)).
double sampleWallNormalSpeed(double mass, double temperature) {
    double u = randomState.uniform(randomState.generator);
    while (u >= 1.0) u = randomState.uniform(randomState.generator);
    return std::sqrt(BOLTZMANN * temperature / mass) * std::sqrt(-2.0 * std::log(1.0 - u));
}
