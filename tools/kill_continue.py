#!/usr/bin/env python3
"""Kill a run at random moments, continue it each time, and check that it ends with exactly
the outputs of a run that was never stopped.

From one restart point (a first run to a short budget), copies of the folder go on to the
same final budget:
  straight  in one run (and again with angle windows inside the stretch: "windowed");
  killed    with SIGKILL at random moments (--kills of them), continued after each;
  stopped   ended at intermediate budgets that fall on restart saves, continued after each.
  full      run with a limit on the size of any file it writes (as a full disk would stop
            it), raised after each failure, and continued after each.
Every file of the four must be byte-identical, leaving out summary.json's "timing" and,
after stops, resume.json (its record says that the last stretch began at a stop). A write
that fails must end the run with status 1 and one line naming the file.

    tools/kill_continue.py --hardgas build/hardgas --case gas --kills 50 --seed 7

Status 0 when every case matches; otherwise the differing files are listed.
"""

import argparse
import hashlib
import json
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The angle windows run to beyond the final budget: each stretch that a stop begins moves them
# on by the collisions done, which then changes nothing.
EVERYTHING_ON = {
    "log_state": True, "log_free_path": True, "log_velocity": True, "log_collision_velocity": True,
    "log_thermo": True, "sample_pca": True, "sample_scattering_angle": True, "sample_collision_angle": True,
    "sample_collision_angle_after": 0, "sample_collision_angle_until": 10**12,
    "sample_scattering_angle_after": 0, "sample_scattering_angle_until": 10**12,
    "stats_after": 0, "log_animation": False,
}

# Budgets in collisions: the restart point, the final budget, the restart save interval (the
# stops fall on its multiples), and the cadences that make every output move between saves.
CASES = {
    "gas": {"example": "dilute-gas", "start": 6000, "final": 60000, "save": 6000,
            "keys": {**EVERYTHING_ON, "save_particles_state_every": 3000, "flush_state_buffer_every": 9000,
                     "stats_every": 500, "flush_stats_every": 4000, "save_scattering_angle_every": 5000,
                     "flush_collision_angle_buffer_every": 7000, "flush_pca_buffer_every": 5000,
                     "thermo_every": 1100, "bottom_free_path_divisor": 4}},
    "column": {"example": "gas-column", "start": 10000, "final": 100000, "save": 10000,
               "keys": {**EVERYTHING_ON, "save_particles_state_every": 5000, "flush_state_buffer_every": 15000,
                        "stats_every": 1000, "flush_stats_every": 7000, "save_scattering_angle_every": 8000,
                        "flush_collision_angle_buffer_every": 9000, "flush_pca_buffer_every": 6000,
                        "thermo_every": 2300}},
    "mixture": {"example": "mixture-metal-plane", "start": 5000, "final": 50000, "save": 5000,
                "keys": {**EVERYTHING_ON, "save_particles_state_every": 2500, "flush_state_buffer_every": 7500,
                         "stats_every": 500, "flush_stats_every": 3500, "species_stats_after": 0,
                         "species_stats_every": 700, "flush_species_stats_every": 4500,
                         "save_scattering_angle_every": 4000, "flush_collision_angle_buffer_every": 4500,
                         "flush_pca_buffer_every": 3000, "thermo_every": 900}},
}


def set_keys(folder, values):
    path = os.path.join(folder, "config.json")
    with open(path) as f:
        config = json.load(f)
    config.update(values)
    with open(path, "w") as f:
        json.dump(config, f, indent=4)


def run(hardgas, folder):
    done = subprocess.run([hardgas, folder], capture_output=True, timeout=900)
    if done.returncode != 0:
        raise AssertionError(f"{folder}: status {done.returncode}\n{done.stdout.decode(errors='replace')[-2000:]}"
                             f"\n{done.stderr.decode(errors='replace')}")
    return done.stdout.decode(errors="replace")


def run_and_kill(hardgas, folder, delay):
    """SIGKILL after delay seconds; True when the run ended by itself first."""
    process = subprocess.Popen([hardgas, folder], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        process.wait(timeout=delay)
    except subprocess.TimeoutExpired:
        process.send_signal(signal.SIGKILL)
        process.wait()
        return False
    if process.returncode != 0:
        raise AssertionError(f"{folder}: status {process.returncode}: {process.stderr.read().decode(errors='replace')}")
    return True


def run_with_file_limit(hardgas, folder, limit):
    """Every file the run writes may grow to `limit` bytes; a write beyond fails as on a full
    disk. Returns the status after checking what a failure says."""
    def limit_files():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    done = subprocess.run([hardgas, folder], capture_output=True, timeout=900, preexec_fn=limit_files)
    errors = [line for line in done.stderr.decode(errors="replace").splitlines() if line.lower().startswith("error")]
    if done.returncode not in (0, 1) or (done.returncode == 1 and (len(errors) != 1 or folder not in errors[0])):
        raise AssertionError(f"{folder} with files limited to {limit} bytes: status {done.returncode}, {errors}")
    return done.returncode


def folder_contents(folder, skip_resume):
    contents = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            relative = os.path.relpath(path, folder)
            if relative == "resume.json" and skip_resume:
                continue
            with open(path, "rb") as f:
                data = f.read()
            if relative == "summary.json":
                summary = json.loads(data)
                summary.pop("timing")
                data = json.dumps(summary, sort_keys=True).encode()
            contents[relative] = hashlib.sha256(data).hexdigest()
    return contents


def differences(reference, other):
    names = sorted(set(reference) | set(other))
    return [name for name in names if reference.get(name) != other.get(name)]


def check_case(hardgas, name, kills, rng, work):
    case = CASES[name]
    base = os.path.join(work, name)
    shutil.copytree(os.path.join(ROOT, "examples", case["example"]), base)
    set_keys(base, {**case["keys"], "save_last_state_every": case["save"], "max_collision_count": case["start"],
                    "mode": "init"})
    run(hardgas, base)
    set_keys(base, {"mode": "continue", "max_collision_count": case["final"]})

    # Kills and failed writes resume the stretch they interrupt, with its angle windows and what
    # alter.json changed as they were: windows inside the stretch show whether they were moved
    # on again, and an alter.json polled seldom whether its values hold between a resumption
    # and the next poll.
    steered = os.path.join(work, f"{name}-steered")
    shutil.copytree(base, steered)
    span = case["final"] - case["start"]
    set_keys(steered, {f"sample_{kind}_angle_{end}": int(case["start"] + fraction * span)
                       for kind in ("collision", "scattering") for end, fraction in (("after", 0.3), ("until", 0.7))})
    set_keys(steered, {"check_alter_every": case["save"] * 3 + case["save"] // 2})
    with open(os.path.join(steered, "alter.json"), "w") as f:
        json.dump({"stats_every": case["keys"]["stats_every"] // 2 + 1}, f)

    straight, windowed, killed, stopped, full = (os.path.join(work, f"{name}-{kind}")
                                                 for kind in ("straight", "windowed", "killed", "stopped", "full"))
    for copy, start in ((straight, base), (stopped, base), (windowed, steered), (killed, steered), (full, steered)):
        shutil.copytree(start, copy)

    run(hardgas, straight)
    started = time.monotonic()
    run(hardgas, windowed)
    duration = time.monotonic() - started

    # Each kill falls at a random moment of what is left of the run; a run that ends before its
    # kill starts the killed copy over, so that every kill counted lies in its history.
    done_kills = 0
    while done_kills < kills:
        with open(os.path.join(killed, "last_state.json")) as f:
            count = json.load(f)["collision_count"]
        left = max((case["final"] - count) / (case["final"] - case["start"]), 0.05)
        if run_and_kill(hardgas, killed, rng.uniform(0.02, 0.9) * duration * left):
            shutil.rmtree(killed)
            shutil.copytree(steered, killed)
            done_kills = 0
            continue
        done_kills += 1
    run(hardgas, killed)

    saves = case["final"] // case["save"]
    stops = sorted(rng.sample(range(case["start"] // case["save"] + 1, saves), k=min(3, saves - 2)))
    for stop in stops:
        set_keys(stopped, {"max_collision_count": stop * case["save"]})
        run(hardgas, stopped)
    set_keys(stopped, {"max_collision_count": case["final"]})
    run(hardgas, stopped)

    # Limits from a tenth to nine tenths of the largest output of the straight run, rising.
    largest = max(os.path.getsize(os.path.join(base_dir, name)) for base_dir, _, names in os.walk(windowed)
                  for name in names)
    limits = sorted(int(largest * rng.uniform(0.1, 0.9)) for _ in range(3))
    failures = sum(run_with_file_limit(hardgas, full, limit) for limit in limits)
    run(hardgas, full)

    reference = folder_contents(straight, skip_resume=False)
    problems = []
    for label, folder, against, skip_resume in (("killed", killed, windowed, False), ("stopped", stopped, straight, True),
                                                ("full", full, windowed, False)):
        differing = differences(folder_contents(against, skip_resume), folder_contents(folder, skip_resume))
        if differing:
            problems.append(f"{name}, {label}: {', '.join(differing)}")
    print(f"{name}: {done_kills} kills, stops at {[s * case['save'] for s in stops]}, {failures} failed writes, "
          f"{len(reference)} files: {'same' if not problems else 'DIFFERENT'}", flush=True)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--hardgas", default=os.path.join(ROOT, "build", "hardgas"))
    parser.add_argument("--case", choices=sorted(CASES), action="append", help="all three when not given")
    parser.add_argument("--kills", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true", help="keep the folders and print where they are")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="hardgas-kill-")
    problems = []
    try:
        for name in args.case or sorted(CASES):
            problems += check_case(os.path.abspath(args.hardgas), name, args.kills, rng, work)
    finally:
        if args.keep:
            print(f"folders in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print(f"differs: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
