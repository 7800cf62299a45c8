"""Runs one hardgas folder to its collision budget: from its starting state, or, when the
folder holds the restart file of an unfinished run, onwards from there. A run that ends
short of its budget (stopped by SIGTERM, a time limit, alter.json) fails the job, so that
its summary.json is not taken for the finished run's; the next attempt continues it."""

import fcntl
import json
import os
import subprocess
import sys

import hardgas

folder = os.path.dirname(snakemake.output[0])
config_path = os.path.join(folder, "config.json")
last_state = os.path.join(folder, "last_state.json")


def collisions_done():
    return hardgas.read_json(last_state)["collision_count"] if os.path.exists(last_state) else 0


def set_mode(mode):
    config = hardgas.read_config(folder)
    if config["mode"] == mode:
        return
    config["mode"] = mode
    with open(config_path + ".tmp", "w") as f:
        json.dump(config, f, indent=4)
    os.replace(config_path + ".tmp", config_path)


# A sweep killed with SIGKILL leaves its runs going on without it; the next sweep waits for
# them instead of running a second process in the same folder. hardgas inherits the lock.
with open(os.path.join(folder, "run.lock"), "w") as lock:
    fcntl.flock(lock, fcntl.LOCK_EX)
    budget = hardgas.read_config(folder)["max_collision_count"]
    done = collisions_done()
    finished = done >= budget and os.path.exists(snakemake.output[0])
    if not finished:
        # A run that reached its budget but lost its summary.json (Snakemake removes the
        # output of a job it did not see finish) continues for no collision: its summary
        # averages the thermo table of the whole run again.
        set_mode("continue" if done > 0 else "init")
        with open(snakemake.log[0], "a") as log:
            status = subprocess.run([snakemake.params.hardgas, folder], stdout=log, stderr=subprocess.STDOUT,
                                    pass_fds=[lock.fileno()]).returncode
        if status != 0:
            sys.exit(f"hardgas ended with status {status}; see {snakemake.log[0]}")
        done = collisions_done()
    if done < budget:
        sys.exit(f"{folder} stopped at {done} of {budget} collisions; run the sweep again to continue it")
