"""One row per run of the grid: its parameters, replica and seed, then every figure of its
summary.json with its standard error, the theory beside them and, for a gas column, the
scale height fitted to its density profile."""

import os

import numpy as np
import pandas as pd

import hardgas


def fitted_scale_height(folder):
    """H of density ~ exp(-z / H), from a least-squares line through the logarithm of the
    sampled density, each bin weighted by its count (the Poisson error of the logarithm)."""
    path = os.path.join(folder, "linear_profile.json")
    if not os.path.exists(path):
        return np.nan
    h = hardgas.read_histogram(path)
    used = h.counts > 0
    if used.sum() < 3:
        return np.nan
    density = h.counts[used] / h.widths[used]
    slope = np.polyfit(h.centers[used], np.log(density), 1, w=np.sqrt(h.counts[used]))[0]
    return -1.0 / slope if slope < 0 else np.inf


def row(name, parameters, summary_path):
    folder = os.path.dirname(summary_path)
    summary = hardgas.read_summary(folder)
    r = {"run": name}
    r.update(parameters)
    r["collisions done"] = summary["run"]["collisions"]
    r["averaged from collision"] = summary["run"]["averaged_from"]["collisions"]
    r["diameter (m)"] = summary["run"]["species"][0]["diameter_m"]
    r["mass (kg)"] = summary["run"]["species"][0]["mass_kg"]
    for column, figure in summary["means"].items():
        r[column] = figure["mean"]
        r[f"{column} standard error"] = figure.get("standard_error")
    for key, value in summary["theory"].items():
        if key == "barometric scale height per species (m)":
            r["theory: barometric scale height (m)"] = value[0]
        else:
            r[f"theory: {key}"] = value
    if parameters["study"] == "column":
        r["fitted scale height (m)"] = fitted_scale_height(folder)
    for key, value in summary["timing"].items():
        r[f"timing: {key}"] = value
    return r


runs = snakemake.params.runs
rows = [row(name, runs[name], path) for name, path in zip(runs, snakemake.input)]
pd.DataFrame(rows).to_csv(snakemake.output[0], index=False)
