#!/usr/bin/env python3
"""Engine benchmark: collisions per second and peak memory per particle.

For each system it builds a monodisperse periodic gas with hardgas-init (cells as small as
the diameter allows), equilibrates it for a few collisions per particle, then continues it
with every optional output off: with no collisions to do (start-up and the final save
only) and with a budget of collisions, each several times, keeping the fastest. The rate is
the budget over the difference of the two wall times, so loading, cell building, the first
predictions and the final save are not counted. Peak memory is the largest resident set of
any of the runs, loading included.

--sampling switches every statistics output on at its default intervals; --thermo keeps the
thermo table at its default (a row every N collisions), which is otherwise off; --restart-saves
writes last_state.json every 500,000 collisions (its default), which also drains the
free-path and collision-velocity samples to their files.

--baseline DIR times an earlier build on the same states, the two taking turns; --case column
or mixture measures a gas column under gravity between thermal walls or a two-species gas
instead of the one-species periodic gas.

--peer DIR (repeatable) also times a public event-driven code on each system, in the same run right after hardgas,
through the peer_rate.py script beside DIR (which builds and runs the variant in DIR at run lengths that take a few
seconds each), and prints hardgas's rate over the peer's.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

SYSTEMS = [(4000, 0.1), (4000, 0.3), (32000, 0.1), (32000, 0.3), (256000, 0.1), (256000, 0.3)]
TARGETS = {(4000, 0.1): 1_000_000, (4000, 0.3): 800_000, (32000, 0.3): 600_000, (256000, 0.3): 300_000}
EQUILIBRATION_PER_PARTICLE = 3
# hardgas-init options of each kind of system: a periodic gas of one species, a gas column
# under gravity between thermal walls, and a periodic mixture of two species.
CASES = {"gas": [], "column": ["--walls", "diffusive", "-g", "8e12"],
         "mixture": ["--fraction-b", "0.5", "--diameter-b", "2.2e-10", "--mass-b", "6.64e-27"]}
# The peer's run lengths in its reduced time units, (T1, T2): a few seconds each on these machines.
PEER_RUN_LENGTHS = {(4000, 0.1): (100, 1000), (4000, 0.3): (20, 170), (4000, 0.45): (10, 80), (32000, 0.1): (20, 150),
                    (32000, 0.3): (3, 22), (32000, 0.45): (2, 12), (256000, 0.1): (3, 20), (256000, 0.3): (0.5, 2.5)}
# Every statistics output at its default intervals, with the height profiles sampled from
# the start.
SAMPLING = ["sample_scattering_angle=true", "sample_collision_angle=true", "sample_pca=true", "log_free_path=true",
            "log_collision_velocity=true", "log_velocity=true", "stats_after=0", "stats_every=10000"]


def run(binary_args):
    """Runs a command; returns (wall seconds, peak resident set in bytes)."""
    start = time.perf_counter()
    process = subprocess.Popen(binary_args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(binary_args)}\n{process.stderr.read().decode()}")
    process.stderr.close()
    return elapsed, usage.ru_maxrss * 1024


def set_config(folder, **values):
    path = os.path.join(folder, "config.json")
    with open(path) as f:
        config = json.load(f)
    config.update(values)
    with open(path, "w") as f:
        json.dump(config, f, indent=4)


def fastest(binaries, folder, args, repeat):
    """For each binary, the shortest wall time of several runs from the same saved state
    (the machine is shared; the binaries take turns), and the peak memory."""
    # The restart file and its record in resume.json go together.
    restart = [os.path.join(folder, name) for name in ("last_state.json", "resume.json")]
    for path in restart:
        shutil.copyfile(path, path + ".equilibrated")
    runs = [[] for _ in binaries]
    for _ in range(repeat):
        for k, binary in enumerate(binaries):
            for path in restart:
                shutil.copyfile(path + ".equilibrated", path)
            runs[k].append(run([binary] + args))
    return [(min(t for t, _ in r), max(m for _, m in r)) for r in runs]


def measure(builds, case, n, phi, budget, workdir, repeat, sampling, restart_saves, thermo):
    """Collisions per second of each build's hardgas, and the first build's peak memory per particle."""
    folder = os.path.join(workdir, f"n{n}_phi{phi}")
    equilibrated = EQUILIBRATION_PER_PARTICLE * n
    # hardgas-init sizes the profile cadence to its own budget, the few equilibration collisions:
    # left so, the timed runs would pass over every particle every few collisions.
    quiet = ["--set", "log_state=false", "--set", "collision_progress_every=1000000000",
             "--set", "check_alter_every=2147483647", "--set", "stats_after=2147483647"]
    if not restart_saves:
        quiet += ["--set", "save_last_state_every=2147483647"]
    if not thermo:
        quiet += ["--set", "log_thermo=false"]
    if sampling:
        quiet += [option for key in SAMPLING for option in ("--set", key)]
    subprocess.run([os.path.join(builds[0], "hardgas-init"), folder, "-n", str(n), "-p", str(phi), "--seed", "1",
                    "--max-collisions", str(equilibrated)] + CASES[case] + quiet, check=True,
                   stdout=subprocess.DEVNULL)
    binaries = [os.path.join(build, "hardgas") for build in builds]
    _, peak = run([binaries[0], folder])
    set_config(folder, mode="continue", max_collision_count=equilibrated)
    idle = fastest(binaries, folder, [folder], repeat)
    set_config(folder, max_collision_count=equilibrated + budget)
    busy = fastest(binaries, folder, [folder], repeat)
    shutil.rmtree(folder)
    rates = [budget / max(b[0] - i[0], 1e-9) for i, b in zip(idle, busy)]
    return rates, max(peak, idle[0][1], busy[0][1]) / n


def peer_rate(peer, n, phi):
    """Collisions per second of the peer code in folder `peer` on the same system, or None without run lengths."""
    lengths = PEER_RUN_LENGTHS.get((n, phi))
    if lengths is None:
        return None
    script = os.path.join(os.path.dirname(os.path.abspath(peer)), "peer_rate.py")
    done = subprocess.run([sys.executable, script, peer, str(n), str(phi), *map(str, lengths)], capture_output=True,
                          text=True, check=True)
    return int(done.stdout.split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="folder holding hardgas and hardgas-init")
    parser.add_argument("--collisions", type=int, default=0,
                        help="collisions to time per system (default: 3 million, at least 10 per particle)")
    parser.add_argument("--quick", action="store_true", help="only N = 4,000, with a small budget")
    parser.add_argument("--repeat", type=int, default=3, help="timed runs per measurement; the fastest counts")
    parser.add_argument("--restart-saves", action="store_true",
                        help="keep the restart save at its default interval (it also writes the free-path and "
                             "collision-velocity samples, which otherwise pile up in memory)")
    parser.add_argument("--system", action="append", metavar="N:PHI",
                        help="measure only this system (repeatable), for example 32000:0.3")
    parser.add_argument("--sampling", action="store_true",
                        help="with every statistics output on at its default intervals")
    parser.add_argument("--thermo", action="store_true", help="with the thermo table at its default interval")
    parser.add_argument("--peer", action="append", default=[], metavar="DIR",
                        help="also time the public code in DIR (e.g. ../shared/peers/edmd-cell) on each system")
    parser.add_argument("--baseline", metavar="DIR",
                        help="also time the hardgas in DIR (an earlier build) on the same states, taking turns, "
                             "and print the rate over its rate")
    parser.add_argument("--case", choices=sorted(CASES), default="gas",
                        help="gas: periodic, one species (default); column: gravity between thermal walls; "
                             "mixture: two species")
    args = parser.parse_args()
    systems = [s for s in SYSTEMS if s[0] == 4000] if args.quick else SYSTEMS
    if args.system:
        systems = [(int(n), float(phi)) for n, phi in (text.split(":") for text in args.system)]
    builds = [args.build] + ([args.baseline] if args.baseline else [])
    header = f" {'baseline':>14} {'ratio':>6}" if args.baseline else ""
    header += "".join(f" {os.path.basename(os.path.normpath(p)):>14} {'ratio':>6}" for p in args.peer)
    print(f"{'N':>8} {'phi':>5} {'collisions/s':>14} {'target':>10} {'peak B/particle':>16}{header}")
    with tempfile.TemporaryDirectory(prefix="hardgas-bench-") as workdir:
        for n, phi in systems:
            budget = args.collisions or (200_000 if args.quick else max(3_000_000, 10 * n))
            rates, per_particle = measure(builds, args.case, n, phi, budget, workdir, args.repeat, args.sampling,
                                          args.restart_saves, args.thermo)
            rate = rates[0]
            target = TARGETS.get((n, phi)) if args.case == "gas" else None
            target_text = f"{target:,}" if target else "-"
            columns = f" {rates[1]:>14,.0f} {rate / rates[1]:>6.2f}" if args.baseline else ""
            for peer in args.peer:
                other = peer_rate(peer, n, phi) if args.case == "gas" else None
                columns += f" {other:>14,} {rate / other:>6.2f}" if other else f" {'-':>14} {'-':>6}"
            print(f"{n:>8,} {phi:>5} {rate:>14,.0f} {target_text:>10} {per_particle:>16,.0f}{columns}", flush=True)


if __name__ == "__main__":
    main()
