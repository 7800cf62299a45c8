"""Golden test: the three examples (shortened) and a steered, continued run under gravity
between thermal walls with the animation log, each hashed file by file (SHA-256) and
compared with tests/golden_hashes.json. Console output is hashed too.

A change that alters a trajectory, a file or a console line must update the stored
values in the same commit and say why:

    python3 tests/golden_test.py --hardgas build/hardgas --init build/hardgas-init [--update]
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STORED = os.path.join(ROOT, "tests", "golden_hashes.json")

# Intervals shortened so that every periodic write happens a few times.
EXAMPLES = {
    "dilute-gas": {"max_collision_count": 60000, "save_last_state_every": 20000, "save_particles_state_every": 7000,
                   "flush_state_buffer_every": 30000, "save_scattering_angle_every": 20000,
                   "flush_collision_angle_buffer_every": 20000, "flush_stats_every": 20000,
                   "sample_collision_angle_until": 40000, "collision_progress_every": 10000},
    "gas-column": {"max_collision_count": 120000, "stats_after": 40000, "flush_stats_every": 30000,
                   "save_particles_state_every": 25000, "save_last_state_every": 50000,
                   "collision_progress_every": 20000},
    "mixture-metal-plane": {"max_collision_count": 40000, "stats_after": 10000, "flush_stats_every": 15000,
                            "flush_species_stats_every": 15000, "save_scattering_angle_every": 15000,
                            "save_last_state_every": 15000, "collision_progress_every": 10000},
}

# Snapshots at hardgas-init's cadence for a 200-collision budget (every 2); an angle window that the
# continued run shifts.
STEERED_SETTINGS = {
    "log_animation": True, "check_alter_every": 50, "collision_progress_every": 100, "save_last_state_every": 70,
    "flush_state_buffer_every": 90, "stats_after": 0, "stats_every": 10,
    "flush_stats_every": 60, "log_free_path": True, "log_collision_velocity": True, "log_velocity": True,
    "sample_pca": True, "flush_pca_buffer_every": 40, "sample_scattering_angle": True,
    "sample_scattering_angle_after": 50, "sample_scattering_angle_until": 150, "save_scattering_angle_every": 80,
}
# Appended outputs of an earlier run, which a fresh run must start again from nothing.
STALE_OUTPUTS = ("state.bin", "state.json", "collision_angle.bin", "pca.bin", "species_temperature.bin")
# Read at the first poll: collision angles switched on, profile cadence changed, profiles reset.
STEERED_ALTER = {"sample_collision_angle": True, "flush_collision_angle_buffer_every": 45, "stats_every": 7,
                 "reset_stats": True, "sample_pca_until": 150}


def run(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=600)
    if done.returncode != 0:
        raise AssertionError(f"{command} ended with status {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done


def set_keys(folder, values):
    path = os.path.join(folder, "config.json")
    with open(path) as f:
        config = json.load(f)
    config.update(values)
    with open(path, "w") as f:
        json.dump(config, f, indent=4)


def hash_folder(folder, console):
    hashes = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                content = f.read()
            if name == "summary.json":  # its wall-clock figures differ from run to run by design
                summary = json.loads(content)
                summary.pop("timing")
                content = json.dumps(summary, sort_keys=True).encode()
            hashes[os.path.relpath(path, folder)] = hashlib.sha256(content).hexdigest()
    for stream, text in console.items():
        hashes[stream] = hashlib.sha256(text).hexdigest()
    return dict(sorted(hashes.items()))


def example_case(options, tmp, name):
    # The folder is named relative to the working directory, so that console lines that
    # name it do not depend on where the test runs.
    shutil.copytree(os.path.join(ROOT, "examples", name), os.path.join(tmp, name),
                    ignore=shutil.ignore_patterns("README.md"))
    set_keys(os.path.join(tmp, name), EXAMPLES[name])
    done = run([options.hardgas, name], tmp)
    return hash_folder(os.path.join(tmp, name), {"stdout": done.stdout, "stderr": done.stderr})


def steered_case(options, tmp):
    name = "steered"
    folder = os.path.join(tmp, name)
    command = [options.init, name, "-n", "30", "-p", "0.03", "--fraction-b", "0.4", "--diameter-b", "4.4e-10",
               "--mass-b", "6.6e-26", "--walls", "diffusive", "--wall-temperature", "300", "-g", "2e12",
               "--seed", "7", "--max-collisions", "200",
               # the grid it was first hashed with, so that hardgas-init's choice of cells for
               # speed leaves the trajectories of this case alone
               "--set", "cells_per_dimension=7"]
    for key, value in STEERED_SETTINGS.items():
        command += ["--set", f"{key}={json.dumps(value)}"]
    run(command, tmp)
    for stale in STALE_OUTPUTS:
        with open(os.path.join(folder, stale), "w") as f:
            f.write("from an earlier run")
    with open(os.path.join(folder, "alter.json"), "w") as f:
        json.dump(STEERED_ALTER, f)
    first = run([options.hardgas, name], tmp)
    os.remove(os.path.join(folder, "alter.json"))
    set_keys(folder, {"mode": "continue", "max_collision_count": 330})
    second = run([options.hardgas, name], tmp)
    return hash_folder(folder, {"stdout": first.stdout + second.stdout, "stderr": first.stderr + second.stderr})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--hardgas", required=True)
    parser.add_argument("--init", required=True)
    parser.add_argument("--update", action="store_true", help="store the hashes of this build")
    options = parser.parse_args()
    options.hardgas = os.path.abspath(options.hardgas)
    options.init = os.path.abspath(options.init)

    tmp = tempfile.mkdtemp(prefix="hardgas-golden-")
    try:
        found = {name: example_case(options, tmp, name) for name in EXAMPLES}
        found["steered"] = steered_case(options, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    if options.update:
        with open(STORED, "w") as f:
            json.dump(found, f, indent=2, sort_keys=True)
            f.write("\n")
        print(f"stored {sum(len(h) for h in found.values())} hashes in {STORED}")
        return 0

    with open(STORED) as f:
        stored = json.load(f)
    differences = []
    for case in sorted(set(stored) | set(found)):
        old, new = stored.get(case, {}), found.get(case, {})
        for key in sorted(set(old) | set(new)):
            if old.get(key) != new.get(key):
                differences.append(f"{case}/{key}: stored {old.get(key, 'nothing')}, got {new.get(key, 'nothing')}")
    for line in differences:
        print(line)
    if differences:
        print(f"{len(differences)} outputs differ from tests/golden_hashes.json")
        return 1
    print(f"all {sum(len(h) for h in found.values())} hashes match")
    return 0


if __name__ == "__main__":
    sys.exit(main())
