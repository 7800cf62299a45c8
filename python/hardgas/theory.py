"""What kinetic theory expects of a gas of hard spheres in equilibrium: the formulas that
the figures and summaries of hardgas are drawn beside. SI units throughout.

    from hardgas import theory
    phi = theory.packing_fraction(n / L**3, d)
    theory.enskog_collision_frequency(n / L**3, d, T, m, theory.carnahan_starling_contact(phi))
"""

import math

import numpy as np

BOLTZMANN = 1.380649e-23  # J/K, the value the simulator uses

# Reduced virial coefficients b_k = B_k / b^(k-1), b = 2 pi d^3 / 3, as the series in the
# packing fraction: Z = 1 + sum_k VIRIAL[k] phi^(k-1). B2 to B4 are exact; B5 to B12 are the
# Monte Carlo values of Clisby & McCoy (2006) and Schultz & Kofke (2014). Summed to B12 the
# series is good to about 1e-4 in Z up to phi = 0.3 and to about 1e-3 at phi = 0.45.
VIRIAL = {2: 4.0, 3: 10.0, 4: 18.364768, 5: 28.224512, 6: 39.81514, 7: 53.3444, 8: 68.538, 9: 85.813,
          10: 105.775, 11: 127.9, 12: 152.7}


def packing_fraction(number_density, diameter):
    """Share of the volume the spheres fill."""
    return number_density * math.pi * diameter ** 3 / 6


def virial_z(phi):
    """Compressibility factor p / (n k T) from the virial series."""
    return 1.0 + sum(b * phi ** (k - 1) for k, b in VIRIAL.items())


def carnahan_starling_z(phi):
    return (1 + phi + phi ** 2 - phi ** 3) / (1 - phi) ** 3


def carnahan_starling_contact(phi):
    """Pair correlation at contact, the Enskog factor chi."""
    return (1 - phi / 2) / (1 - phi) ** 3


def virial_contact(phi):
    """The contact value that makes Z = 1 + 4 phi chi hold for the virial series."""
    return (virial_z(phi) - 1) / (4 * phi) if phi > 0 else 1.0


def enskog_collision_frequency(number_density, diameter, temperature, mass, contact):
    """Collisions per particle and second: 4 n d^2 sqrt(pi k T / m) chi."""
    return 4 * number_density * diameter ** 2 * math.sqrt(math.pi * BOLTZMANN * temperature / mass) * contact


def enskog_mean_free_path(number_density, diameter, contact):
    """1 / (sqrt(2) pi d^2 n chi)."""
    return 1 / (math.sqrt(2) * math.pi * diameter ** 2 * number_density * contact)


def scale_height(temperature, mass, g):
    """Height over which an isothermal ideal gas under gravity thins by e: k T / (m g)."""
    return BOLTZMANN * temperature / (mass * g)


def barometric_cdf(z, lo, hi, a):
    """Share of a column with density proportional to exp(-a z) on [lo, hi] that lies below z."""
    z = np.clip(z, lo, hi)
    if abs(a * (hi - lo)) < 1e-12:
        return (z - lo) / (hi - lo)
    return np.expm1(-a * (z - lo)) / np.expm1(-a * (hi - lo))


def velocity_component_pdf(v, sigma):
    """Maxwell's distribution of one velocity component, sigma = sqrt(k T / m)."""
    return np.exp(-0.5 * (v / sigma) ** 2) / (sigma * math.sqrt(2 * math.pi))


def kinetic_temperature(velocities, mass):
    """T from 3/2 k T = mean kinetic energy of the motion relative to the mean velocity;
    velocities of shape (N, 3)."""
    velocities = np.asarray(velocities, dtype=float)
    if len(velocities) == 0:
        return float("nan")
    peculiar = velocities - velocities.mean(axis=0)
    return mass * float((peculiar ** 2).sum(axis=1).mean()) / (3.0 * BOLTZMANN)
