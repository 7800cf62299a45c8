#include "stats/kinetic_theory.h"

#include <cmath>
#include <numbers>

#include "util/random.h"

double virialSeriesZ(double phi) {
    static constexpr double REDUCED_VIRIAL[] = {4.0,     10.0,   18.364768, 28.224512, 39.81514, 53.3444,
                                                68.538, 85.813, 105.775,   127.9,     152.7};
    double z = 1.0, power = 1.0;
    for (double b : REDUCED_VIRIAL) {
        power *= phi;
        z += b * power;
    }
    return z;
}

double carnahanStarlingZ(double phi) {
    return (1 + phi + phi * phi - phi * phi * phi) / ((1 - phi) * (1 - phi) * (1 - phi));
}

double contactValue(double z, double phi) { return phi > 0.0 ? (z - 1.0) / (4.0 * phi) : 1.0; }

double enskogCollisionFrequency(double numberDensity, double diameter, double temperature, double mass, double chi) {
    return 4.0 * numberDensity * diameter * diameter * std::sqrt(std::numbers::pi * BOLTZMANN * temperature / mass) *
           chi;
}

double enskogMeanFreePath(double numberDensity, double diameter, double chi) {
    return 1.0 / (std::sqrt(2.0) * std::numbers::pi * diameter * diameter * numberDensity * chi);
}
