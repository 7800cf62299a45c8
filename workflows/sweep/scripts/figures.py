"""The grid's figures from results.csv: the collision rate and Z of the periodic box against
the packing fraction beside Enskog's rate and the virial series, and the fitted scale height
of the gas column against gravity beside an ideal gas's k T / (m g) (the spheres' own volume
thins the dense bottom of a column less: its fitted height lies a few per cent above)."""

import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

from hardgas import theory

results = pd.read_csv(snakemake.input[0])
outputs = {os.path.basename(path): path for path in snakemake.output}
RATE = "collisions per particle and second"


def replicas(ax, frame, x, y, label):
    """Each replica as a point, with its standard error where the summary gives one."""
    error = frame.get(f"{y} standard error")
    if error is not None and not error.notna().any():
        error = None
    ax.errorbar(frame[x], frame[y], yerr=error, fmt="o", ms=4, capsize=2, label=label)


if "bulk.png" in outputs:
    bulk = results[results["study"] == "bulk"]
    phi = np.linspace(0.0, bulk["packing_fraction"].max() * 1.1, 200)
    fig, (rate_ax, z_ax) = plt.subplots(1, 2, figsize=(10, 4))

    replicas(rate_ax, bulk, "packing_fraction", RATE, "hardgas (each replica)")
    # Enskog's rate at the runs' own temperature, mass and diameter: theirs differ by replica.
    diameter = bulk["diameter (m)"].iloc[0]
    mass = bulk["mass (kg)"].iloc[0]
    temperature = bulk["theory: temperature used (K)"].mean()
    density = phi * 6 / (math.pi * diameter ** 3)
    enskog = [theory.enskog_collision_frequency(n, diameter, temperature, mass, theory.virial_contact(p))
              for n, p in zip(density, phi)]
    rate_ax.plot(phi, enskog, "k-", label="Enskog, contact value of the virial series")
    rate_ax.set(xlabel="packing fraction", ylabel="collisions per particle and second (1/s)")
    rate_ax.legend()

    replicas(z_ax, bulk, "packing_fraction", "Z", "hardgas (each replica)")
    z_ax.plot(phi, [theory.virial_z(p) for p in phi], "k-", label="virial series to B12")
    z_ax.plot(phi, [theory.carnahan_starling_z(p) for p in phi], "k:", label="Carnahan-Starling")
    z_ax.set(xlabel="packing fraction", ylabel="Z = p / (n k T)")
    z_ax.legend()
    fig.tight_layout()
    fig.savefig(outputs["bulk.png"], dpi=120)

if "column.png" in outputs:
    column = results[results["study"] == "column"]
    fig, ax = plt.subplots(figsize=(5, 4))
    ax.plot(column["gravity"], column["fitted scale height (m)"] * 1e9, "o", ms=4,
            label="fitted to the density profile (each replica)")
    g = np.geomspace(column["gravity"].min() / 1.2, column["gravity"].max() * 1.2, 100)
    mass = column["mass (kg)"].iloc[0]
    for temperature in sorted(column["temperature"].unique()):
        ax.plot(g, theory.scale_height(temperature, mass, g) * 1e9, "k-", label=f"k T / (m g), T = {temperature:g} K")
    ax.set(xscale="log", yscale="log", xlabel="g (m/s²)", ylabel="scale height (nm)")
    ax.legend()
    fig.tight_layout()
    fig.savefig(outputs["column.png"], dpi=120)
