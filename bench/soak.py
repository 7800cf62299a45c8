#!/usr/bin/python3
"""Soak test: ten million collisions in a dense fluid and in a gas column must stay exact.

A short run hides slow damage. Rounding at each contact can leave two spheres overlapping
by a hair, a wrapped partner can be met on the wrong side of the box, energy can leak one
ulp at a time; any of these grows with the number of events, and in a dense fluid, where
every sphere is always close to several others, it ends in an overlap, a fatal contact
error or a drifting energy. This script runs two long soaks with every optional output off
(restart saves at their default interval) and checks the final state itself:

1. Dense periodic fluid at packing fraction 0.45 (periodic in x, y and z). Requirements:
   the run ends with status 0 and prints no "ERROR", every collision of the budget is done,
   no pair of spheres overlaps (|r_i - r_j| < sigma_ij (1 - 1e-12), minimum image on every
   axis) and the kinetic energy of last_state.json differs from that of particles_init.json
   by less than 1e-10 of it.

2. Gas column under gravity between thermal walls, m g L / kT = 1, packing fraction 0.1 on
   average (about 0.16 at the floor). Requirements: status 0 and no "ERROR", the whole
   budget done, no overlap (minimum image in x and y only) and every centre inside
   [R, L - R] in z within 1e-12 of the diameter. The walls exchange energy with the gas,
   so the final kinetic temperature is printed next to the wall temperature for
   information only.

Wall time and rate include loading and the final save (small next to ten million
collisions). Peak memory is the largest resident set of the simulator process. The soak
folders go to a fresh temporary folder that is deleted when every requirement holds and
kept, with its path printed, when one fails; the console output of each run is in
console.txt there. The script exits with status 1 when any requirement fails.
"""

import argparse
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "python"))

import hardgas.io as hio  # noqa: E402

DIAMETER = 3.7e-10  # m, the hardgas-init default (about a nitrogen molecule)
MASS = 4.65e-26     # kg
TEMPERATURE = 273.15

DENSE_PARTICLES = 16_000
DENSE_PACKING = 0.45
COLUMN_PARTICLES = 8_000
COLUMN_PACKING = 0.1
COLUMN_BARRIER = 1.0  # m g L / kT

OVERLAP_TOLERANCE = 1e-12  # relative to sigma: rounding of a position is a few 1e-15 of it
WALL_TOLERANCE = 1e-12     # relative to the diameter
DRIFT_LIMIT = 1e-10

# Keep the engine alone on the clock: no snapshots, no progress lines, no alter.json reads.
# Restart saves stay at their default interval, as in any long run.
QUIET = {"log_state": "false", "collision_progress_every": "4000000000000000000",
         "check_alter_every": "2147483647"}


def box_edge(particles, packing):
    return (particles * math.pi / 6.0 * DIAMETER ** 3 / packing) ** (1.0 / 3.0)


def make_folder(build, folder, particles, edge, collisions, extra):
    command = [os.path.join(build, "hardgas-init"), folder, "-n", str(particles), "-L", repr(edge),
               "-d", repr(DIAMETER), "-m", repr(MASS), "-T", repr(TEMPERATURE), "--seed", "1",
               "--max-collisions", str(collisions)] + extra
    for key, value in QUIET.items():
        command += ["--set", f"{key}={value}"]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        sys.exit(f"hardgas-init failed ({done.returncode}): {' '.join(command)}\n{done.stdout}")


def run_engine(build, folder):
    """Runs hardgas on the folder with its console output to console.txt; returns
    (exit status, wall seconds, peak resident bytes, lines holding ERROR, contact repairs)."""
    command = [os.path.join(build, "hardgas"), folder]
    console = os.path.join(folder, "console.txt")
    with open(console, "wb") as out:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
    errors, repairs = [], 0
    with open(console, "rb") as f:
        for line in f:
            text = line.decode(errors="replace")
            if "ERROR" in text:
                errors.append(text.strip())
            # A partner met one box length off is moved back and the collision goes on;
            # harmless when it works, worth knowing when it happens often.
            if "Trying to correct" in text:
                repairs += 1
    return os.waitstatus_to_exitcode(status), wall, usage.ru_maxrss * 1024, errors, repairs


def closest_pairs(position, diameter, edge, periodic_z):
    """Smallest |r_i - r_j| / sigma_ij over all pairs (sigma_ij = (d_i + d_j) / 2), with the
    minimum image along x, y and, if periodic_z, z; the number of pairs closer than sigma_ij
    by any amount, rounding included; and the sorted list of pairs (i, j), i < j, closer
    than sigma_ij (1 - OVERLAP_TOLERANCE).

    Cells at least twice the largest diameter wide, padded to the fullest cell so that each
    of the 27 neighbour offsets is one array operation. A pair in cells that are not
    neighbours is at least two diameters apart, so the minimum is exact whenever it is
    below 2; above that it is reported as inf."""
    n_particles = len(position)
    cutoff = 2.0 * diameter.max()
    per_axis = int(edge // cutoff)
    if per_axis < 3:  # neighbour offsets would repeat cells: one cell holds everyone
        per_axis = 1
    width = edge / per_axis
    coords = np.clip((position // width).astype(np.int64), 0, per_axis - 1)
    cell = (coords[:, 0] * per_axis + coords[:, 1]) * per_axis + coords[:, 2]
    num_cells = per_axis ** 3
    counts = np.bincount(cell, minlength=num_cells)
    order = np.argsort(cell, kind="stable")
    start = np.concatenate(([0], np.cumsum(counts)[:-1]))
    slot = np.arange(n_particles) - start[cell[order]]
    table = np.full((num_cells, counts.max()), -1, dtype=np.int64)
    table[cell[order], slot] = order

    cx, cy, cz = np.unravel_index(np.arange(num_cells), (per_axis,) * 3)
    offsets = [(0, 0, 0)] if per_axis == 1 else [(a, b, c) for a in (-1, 0, 1) for b in (-1, 0, 1) for c in (-1, 0, 1)]
    periodic = np.array([True, True, periodic_z])
    best = math.inf
    touching = 0
    overlapping = []
    for ox, oy, oz in offsets:
        nz = cz + oz
        inside = np.ones(num_cells, dtype=bool) if periodic_z else (nz >= 0) & (nz < per_axis)
        neighbour = ((cx + ox) % per_axis * per_axis + (cy + oy) % per_axis) * per_axis + nz % per_axis
        i = table[inside][:, :, None]
        j = table[neighbour[inside]][:, None, :]
        valid = (i >= 0) & (j >= 0) & (i < j)
        i, j = np.broadcast_arrays(i, j)
        i, j = i[valid], j[valid]
        if i.size == 0:
            continue
        d = position[j] - position[i]
        d[:, periodic] -= edge * np.round(d[:, periodic] / edge)
        ratio = np.sqrt((d * d).sum(axis=1)) / (0.5 * (diameter[i] + diameter[j]))
        best = min(best, float(ratio.min()))
        touching += int(np.count_nonzero(ratio < 1.0))
        close = ratio < 1.0 - OVERLAP_TOLERANCE
        overlapping.extend(zip(i[close].tolist(), j[close].tolist()))
    return (best if best < 2.0 else math.inf), touching, sorted(set(overlapping))


def kinetic_energy(mass, velocity):
    return math.fsum(0.5 * mass * (velocity * velocity).sum(axis=1))


class Report:
    """Rows of (figure, value, requirement, verdict); remembers the failures."""

    def __init__(self, title):
        self.title = title
        self.rows = []
        self.failures = []

    def info(self, figure, value):
        self.rows.append((figure, value, "", ""))

    def check(self, figure, value, requirement, ok):
        self.rows.append((figure, value, requirement, "ok" if ok else "FAILED"))
        if not ok:
            self.failures.append(f"{figure}: {value} (required {requirement})")

    def print(self):
        print(f"\n{self.title}")
        widths = [max(len(row[k]) for row in self.rows + [("figure", "value", "requirement", "")]) for k in range(3)]
        header = ("figure", "value", "requirement", "")
        for row in [header] + self.rows:
            print("  " + "  ".join(text.ljust(w) for text, w in zip(row[:3], widths)) + "  " + row[3])


def ratio_text(ratio):
    if math.isinf(ratio):
        return ">= 2 (no pair within two diameters)"
    return f"{ratio:.15f} (1 {'+' if ratio >= 1 else '-'} {abs(ratio - 1):.3e})"


def soak(build, folder, title, particles, edge, collisions, extra, periodic_z):
    """Makes the folder, runs the engine and checks what every soak has in common; returns
    the report, the final state (None when there is none to read), the diameters and the
    box edge the engine used."""
    make_folder(build, folder, particles, edge, collisions, extra)
    edge = float(hio.read_config(folder)["domain_size"])
    diameter = hio.read_particles(folder).diameter
    status, wall, peak, errors, repairs = run_engine(build, folder)
    report = Report(title)
    report.check("exit status", str(status), "0", status == 0)
    report.check("console lines with ERROR", str(len(errors)) + (f": {errors[0]}" if errors else ""), "0",
                 not errors)
    report.info("wall time", f"{wall:.1f} s")
    report.info("peak resident memory", f"{peak / 2 ** 20:.1f} MiB ({peak / particles:,.0f} B per particle)")
    report.info("wrapped-contact repairs", str(repairs))
    if not os.path.exists(os.path.join(folder, "last_state.json")):
        report.check("last_state.json", "missing", "written", False)
        return report, None, diameter, edge
    state = hio.read_last_state(folder)
    done = state.collision_count
    report.check("collisions done", f"{done:,}", f"{collisions:,}", done == collisions)
    report.info("rate", f"{done / wall:,.0f} collisions/s")
    report.info("simulated time", f"{state.runtime:.4e} s")
    ratio, touching, overlaps = closest_pairs(state.position, diameter, edge, periodic_z)
    report.info("min distance / sigma", ratio_text(ratio))
    report.info("pairs with d < sigma (rounding included)", str(touching))
    shown = ", ".join(f"{i}-{j}" for i, j in overlaps[:5]) + (" ..." if len(overlaps) > 5 else "")
    report.check(f"overlapping pairs (d < sigma (1 - {OVERLAP_TOLERANCE:g}))",
                 str(len(overlaps)) + (f": {shown}" if overlaps else ""), "0", not overlaps)
    return report, state, diameter, edge


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="folder holding hardgas and hardgas-init")
    parser.add_argument("--collisions", type=int, default=10_000_000, help="collisions per soak")
    parser.add_argument("--quick", action="store_true", help="1,000,000 collisions per soak")
    parser.add_argument("--keep", action="store_true", help="keep the soak folders even when every requirement holds")
    args = parser.parse_args()
    collisions = 1_000_000 if args.quick else args.collisions
    if collisions < 1:
        parser.error("--collisions must be at least 1 (hardgas-init reads 0 as its default budget)")
    workdir = tempfile.mkdtemp(prefix="hardgas-soak-")
    reports = []

    edge = box_edge(DENSE_PARTICLES, DENSE_PACKING)
    folder = os.path.join(workdir, "dense-fluid")
    title = (f"Dense periodic fluid: N = {DENSE_PARTICLES:,}, packing fraction {DENSE_PACKING}, "
             f"{collisions:,} collisions")
    print(f"running {title} ...", flush=True)
    report, state, _, _ = soak(args.build, folder, title, DENSE_PARTICLES, edge, collisions, [], periodic_z=True)
    if state is not None:
        mass = hio.read_particles(folder).mass
        _, velocity = hio.read_initial_state(folder)
        start, end = kinetic_energy(mass, velocity), kinetic_energy(mass, state.velocity)
        drift = abs(end - start) / start
        report.check("relative kinetic energy drift", f"{drift:.3e}", f"< {DRIFT_LIMIT:g}", drift < DRIFT_LIMIT)
    reports.append(report)

    edge = box_edge(COLUMN_PARTICLES, COLUMN_PACKING)
    g = COLUMN_BARRIER * hio.BOLTZMANN * TEMPERATURE / (MASS * edge)
    folder = os.path.join(workdir, "gas-column")
    title = (f"Gas column between thermal walls: N = {COLUMN_PARTICLES:,}, mean packing fraction {COLUMN_PACKING}, "
             f"g = {g:.4g} m/s^2 (m g L / kT = {COLUMN_BARRIER:g}), {collisions:,} collisions")
    print(f"running {title} ...", flush=True)
    report, state, diameter, edge = soak(args.build, folder, title, COLUMN_PARTICLES, edge, collisions,
                                   ["--walls", "diffusive", "-g", repr(g)], periodic_z=False)
    if state is not None:
        radius, z = diameter / 2.0, state.position[:, 2]
        tolerance = WALL_TOLERANCE * diameter
        outside = int(np.count_nonzero((z < radius - tolerance) | (z > edge - radius + tolerance)))
        report.check(f"centres outside [R, L - R] in z (tolerance {WALL_TOLERANCE:g} d)", str(outside), "0",
                     outside == 0)
        mass = hio.read_particles(folder).mass
        temperature = 2.0 * kinetic_energy(mass, state.velocity) / (3.0 * len(mass) * hio.BOLTZMANN)
        report.info("kinetic temperature / wall temperature",
                    f"{temperature:.2f} K / {TEMPERATURE} K ({temperature / TEMPERATURE - 1:+.2%})")
    reports.append(report)

    for report in reports:
        report.print()
    failures = [f"{r.title.split(':')[0]}: {f}" for r in reports for f in r.failures]
    print()
    if failures:
        print("SOAK FAILED")
        for failure in failures:
            print(f"  {failure}")
        print(f"The soak folders, with the console output of each run in console.txt, are kept in {workdir}")
        return 1
    print("Every requirement holds.")
    if args.keep:
        print(f"The soak folders are in {workdir}")
    else:
        shutil.rmtree(workdir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
