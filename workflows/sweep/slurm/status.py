#!/usr/bin/env python3
"""Cluster status for Snakemake 7: prints running, success or failure for a Slurm job id,
so that a job that failed or was cancelled is seen as such. Asks the accounting database
(sacct) first and the controller (scontrol), which knows only recent jobs, second."""

import subprocess
import sys

RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "REQUEUED", "RESIZING", "SUSPENDED", "STAGE_OUT", "SIGNALING"}


def sacct_state(job):
    done = subprocess.run(["sacct", "-j", job, "-X", "-n", "-P", "-o", "State"], capture_output=True, text=True)
    lines = done.stdout.split()
    return lines[0].split()[0] if done.returncode == 0 and lines else None


def scontrol_state(job):
    done = subprocess.run(["scontrol", "show", "job", "-o", job], capture_output=True, text=True)
    for field in done.stdout.split():
        if field.startswith("JobState="):
            return field.split("=", 1)[1]
    # A controller that does not answer says nothing about the job: ask again later.
    return None if "Invalid job id" in done.stderr else "PENDING"


job = sys.argv[1]
state = sacct_state(job) or scontrol_state(job)
if state is None:
    print(f"Slurm knows no job {job}", file=sys.stderr)
    print("failure")
elif state in RUNNING:
    print("running")
elif state == "COMPLETED":
    print("success")
else:
    print("failure")
