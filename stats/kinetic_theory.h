#pragma once
// What kinetic theory expects of hard spheres in equilibrium, for the summary to set beside
// the measured figures. SI units.

// Reduced virial coefficients: Z = 1 + sum_k b_k phi^(k-1) for k = 2 ... 12 (B2 to B4 exact,
// B5 to B12 from Clisby & McCoy 2006 and Schultz & Kofke 2014); good to about 1e-4 in Z up to
// phi = 0.3.
double virialSeriesZ(double phi);
double carnahanStarlingZ(double phi);
// The pair correlation at contact that makes Z = 1 + 4 phi chi hold.
double contactValue(double z, double phi);
// Collisions per particle and second, 4 n d^2 sqrt(pi k T / m) chi, and the mean free path
// 1 / (sqrt(2) pi d^2 n chi), of one species.
double enskogCollisionFrequency(double numberDensity, double diameter, double temperature, double mass, double chi);
double enskogMeanFreePath(double numberDensity, double diameter, double chi);
