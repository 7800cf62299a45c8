"""The sweep workflow against real Snakemake (and, for the cluster profile, a real one-node
Slurm started here): a sweep killed mid-grid and started again finishes only what is
missing, continuing an interrupted run from its restart file; the grid run through Slurm
gives the table a local sweep gives.

    python3 tests/workflow_test.py --root . --hardgas build/hardgas --init build/hardgas-init [SweepTest] [SlurmTest]
"""

import argparse
import csv
import glob
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = None
PROGRAMS = None  # the lines of the grid that name hardgas and hardgas-init
SKIPPED = 77  # ctest's SKIP_RETURN_CODE

# Six short runs: two packing fractions and one gravity, two seeds each.
GRID = """\
seeds: [1, 2]
restart_saves: 10
studies:
  bulk: {particles: 500, collisions_per_particle: 400, temperature: 273.15, packing_fraction: [0.1, 0.3]}
  column: {particles: 500, collisions_per_particle: 400, temperature: 273.15, domain_size: 1.2e-8, gravity: [1.0e13]}
"""
RUNS = 6


def snakemake(workdir, *options, **popen):
    command = [os.path.join(ROOT, ".venv", "bin", "python"), "-m", "snakemake", "--snakefile",
               os.path.join(ROOT, "workflows", "sweep", "Snakefile"), "--directory", workdir,
               "--configfile", os.path.join(workdir, "grid.yaml"), "--quiet", *options]
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **popen)


def finish(process, timeout=300):
    out, _ = process.communicate(timeout=timeout)
    if process.returncode != 0:
        raise AssertionError(f"{' '.join(process.args)} failed:\n{out}")
    return out


def sweep(workdir, *options):
    finish(snakemake(workdir, "--unlock"))
    return finish(snakemake(workdir, "--rerun-incomplete", *options))


def new_workdir(parent, name):
    workdir = os.path.join(parent, name)
    os.makedirs(workdir)
    with open(os.path.join(workdir, "grid.yaml"), "w") as f:
        f.write(PROGRAMS + GRID)
    return workdir


def results(workdir):
    """results.csv without the wall-clock columns, the only ones that differ between machines."""
    with open(os.path.join(workdir, "results.csv")) as f:
        return [{k: v for k, v in row.items() if not k.startswith("timing:")} for row in csv.DictReader(f)]


class SweepTest(unittest.TestCase):
    def test_a_killed_sweep_finishes_only_what_is_missing(self):
        with tempfile.TemporaryDirectory() as tmp:
            workdir = new_workdir(tmp, "sweep")
            runs = os.path.join(workdir, "runs")
            process = snakemake(workdir, "--cores", "2", start_new_session=True)
            # Kill the whole sweep, runs included, as a crash of the machine would, once runs
            # have finished and another is past a restart save.
            deadline = time.time() + 120
            while time.time() < deadline:
                finished = glob.glob(os.path.join(runs, "*", "*", "*", "summary.json"))
                restartable = [os.path.dirname(p) for p in glob.glob(os.path.join(runs, "*", "*", "*", "last_state.json"))
                               if not os.path.exists(os.path.join(os.path.dirname(p), "summary.json"))]
                if len(finished) >= 2 and restartable:
                    break
                time.sleep(0.02)
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            self.assertTrue(len(finished) >= 2 and restartable, "no moment with finished runs and one in progress")
            self.assertLess(len(finished), RUNS)

            # What Snakemake itself took as done before the kill (a summary written a moment
            # before the kill may belong to a job that was not yet recorded as done).
            finish(snakemake(workdir, "--unlock"))
            done = [os.path.join(workdir, name) for name in self.recorded_as_done(workdir)]
            self.assertTrue(done, "Snakemake recorded no run as done")
            before = {path: os.stat(path).st_mtime_ns for path in done}
            restart_points = {folder: self.collisions(folder) for folder in restartable}

            sweep(workdir, "--cores", "2")
            for path, mtime in before.items():
                self.assertEqual(os.stat(path).st_mtime_ns, mtime, f"{path} was run again")
            for folder, count in restart_points.items():
                if count >= self.budget(folder):
                    continue  # it finished between the look and the kill
                with open(os.path.join(workdir, "logs", os.path.relpath(folder, runs), "hardgas.log")) as f:
                    self.assertIn(f"with {count} done collisions", f.read(), f"{folder} did not continue")
            rows = results(workdir)
            self.assertEqual(len(rows), RUNS)
            for row in rows:
                self.assertEqual(row["collisions done"], row["collisions"], row["run"])

    @staticmethod
    def recorded_as_done(workdir):
        """The summaries Snakemake lists as ok, leaving out those it marks incomplete (which it
        refuses to list unless told to rerun them, and then lists as ok)."""
        process = snakemake(workdir, "--summary")
        out, _ = process.communicate(timeout=300)
        incomplete = set()
        if process.returncode != 0:
            lines = out.splitlines()
            start = lines.index("Incomplete files:") + 1
            incomplete = {line.strip() for line in lines[start:] if line.strip()}
            out = finish(snakemake(workdir, "--summary", "--rerun-incomplete"))
        fields = [line.split("\t") for line in out.splitlines()]
        return [f[0] for f in fields if len(f) > 5 and f[0].endswith("summary.json") and f[5] == "ok"
                and f[0] not in incomplete]

    @staticmethod
    def collisions(folder):
        with open(os.path.join(folder, "last_state.json")) as f:
            return json.load(f)["collision_count"]

    @staticmethod
    def budget(folder):
        with open(os.path.join(folder, "config.json")) as f:
            return json.load(f)["max_collision_count"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class OneNodeSlurm:
    """munged, slurmctld and slurmd on this machine, configured in a temporary folder."""

    def __init__(self, folder):
        self.folder = folder
        self.processes = []
        self.logfiles = []
        self.env = dict(os.environ, SLURM_CONF=os.path.join(folder, "slurm.conf"))

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self):
        key = self.path("munge.key")
        subprocess.run(["mungekey", "--create", f"--keyfile={key}"], check=True)
        os.chmod(key, 0o600)
        socket_path = self.path("munge.socket")
        self.spawn(["munged", "--foreground", "--force", f"--socket={socket_path}", f"--key-file={key}",
                    f"--pid-file={self.path('munged.pid')}", f"--log-file={self.path('munged.log')}",
                    f"--seed-file={self.path('munged.seed')}"])
        self.wait(lambda: os.path.exists(socket_path), "munged")
        host = socket.gethostname().split(".")[0]
        memory = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // 2**20
        for sub in ("state", "spool"):
            os.makedirs(self.path(sub))
        with open(self.env["SLURM_CONF"], "w") as f:
            f.write(f"""ClusterName=hardgastest
SlurmctldHost={host}
SlurmctldPort={free_port()}
SlurmdPort={free_port()}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket={socket_path}
CredType=cred/munge
StateSaveLocation={self.path('state')}
SlurmdSpoolDir={self.path('spool')}
SlurmctldPidFile={self.path('slurmctld.pid')}
SlurmdPidFile={self.path('slurmd.pid')}
SlurmctldLogFile={self.path('slurmctld.log')}
SlurmdLogFile={self.path('slurmd.log')}
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
MailProg=/bin/true
NodeName={host} CPUs=2 RealMemory={memory} State=UNKNOWN
PartitionName=test Nodes={host} Default=YES MaxTime=INFINITE State=UP
""")
        self.spawn(["slurmctld", "-D", "-i"])
        self.spawn(["slurmd", "-D"])
        self.wait(lambda: subprocess.run(["sinfo", "-h", "-o", "%t"], env=self.env, capture_output=True,
                                         text=True).stdout.strip() == "idle", "an idle node in sinfo")

    def spawn(self, command):
        log = open(self.path(os.path.basename(command[0]) + ".out"), "w")
        self.logfiles.append(log)
        self.processes.append(subprocess.Popen(command, env=self.env, stdout=log, stderr=subprocess.STDOUT))

    def wait(self, ready, what, seconds=60):
        deadline = time.time() + seconds
        while not ready():
            for p in self.processes:
                if p.poll() is not None:
                    raise AssertionError(f"{p.args[0]} ended with status {p.returncode} before {what}:\n{self.logs()}")
            if time.time() > deadline:
                raise AssertionError(f"no {what} after {seconds} s:\n{self.logs()}")
            time.sleep(0.2)

    def logs(self):
        text = ""
        for name in sorted(glob.glob(self.path("*.log")) + glob.glob(self.path("*.out"))):
            with open(name, errors="replace") as f:
                text += f"--- {name}\n" + "".join(f.readlines()[-20:])
        return text

    def stop(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
        for p in reversed(self.processes):
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        for log in self.logfiles:
            log.close()


class SlurmTest(unittest.TestCase):
    def test_the_grid_through_slurm_gives_the_local_table(self):
        with tempfile.TemporaryDirectory() as tmp:
            slurm = OneNodeSlurm(os.path.join(tmp, "slurm"))
            os.makedirs(slurm.folder)
            try:
                slurm.start()
                cluster = new_workdir(tmp, "cluster")
                os.environ["SLURM_CONF"] = slurm.env["SLURM_CONF"]
                sweep(cluster, "--profile", os.path.join(ROOT, "workflows", "sweep", "slurm"))
                submitted = glob.glob(os.path.join(cluster, "logs", "slurm", "*.out"))
                self.assertEqual(len(submitted), RUNS, "every run a job of its own")
            finally:
                slurm.stop()
            local = new_workdir(tmp, "local")
            sweep(local, "--cores", "2")
            self.assertEqual(results(cluster), results(local))


def main():
    global ROOT, PROGRAMS
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True, help="the repository, with .venv")
    parser.add_argument("--hardgas", required=True)
    parser.add_argument("--init", required=True)
    options, rest = parser.parse_known_args()
    ROOT = os.path.abspath(options.root)
    PROGRAMS = f"hardgas: {os.path.abspath(options.hardgas)}\ninit: {os.path.abspath(options.init)}\n"
    if "SlurmTest" in rest:
        missing = [p for p in ("munged", "mungekey", "slurmctld", "slurmd", "sbatch", "sinfo") if shutil.which(p) is None]
        if missing:
            print(f"Skipped: the Slurm test needs {', '.join(missing)} (tools/setup.sh installs slurm-wlm and munge)")
            sys.exit(SKIPPED)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
