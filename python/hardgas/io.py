"""Readers for the files that hardgas reads and writes in a solution folder.

Every binary output is a headerless run of little-endian binary64 values, cut into
records of a width that only the reader knows. A file whose size is not a whole
number of records was cut short (a full disk, a copy taken mid-write) and would
otherwise be read silently misaligned, so every reader here checks the size first
and raises OutputFileError naming the file.

    import hardgas
    snaps = hardgas.read_state("runs/gas")          # snaps.times (S,), snaps.frames (S, N, 6)
    h = hardgas.read_histogram("runs/gas/scattering_aa.json")
    paths = hardgas.read_series("runs/gas", "free/free_path.bin")

Only numpy and the standard library are needed.
"""

import json
import os
from dataclasses import dataclass

import numpy as np

from .theory import BOLTZMANN  # noqa: F401  (J/K, the value the simulator uses)

# Record widths (doubles per record) of the series whose width does not depend on the run.
SERIES_WIDTHS = {
    "collision_angle.bin": 6,
    "pca.bin": 4,
    "free/free_path.bin": 1,
    "free/free_time.bin": 1,
    "free/free_path_1_percent.bin": 1,
    "velocity/collision_velocity.bin": 1,
    "velocity/collision_velocity00.bin": 1,
    "velocity/collision_velocity11.bin": 1,
    "velocity/collision_velocity01.bin": 1,
    "velocity/particle_collision_velocity.bin": 2,
    "velocity/particle_collision_velocity0.bin": 1,
    "velocity/particle_collision_velocity1.bin": 1,
}

# Column meaning of collision_angle.bin.
COLLISION_ANGLE_COLUMNS = ("collision", "species_i", "species_j", "velocity_angle", "scattering_angle",
                           "collision_angle")

HISTOGRAM_FILES = (
    "log_profile.json", "linear_profile.json",
    "scattering_aa.json", "scattering_bb.json", "scattering_ab.json",
    "scattering_ab_loss.json", "scattering_ab_gain.json",
    "approach_aa.json", "approach_bb.json", "approach_ab.json",
)

# Files whose presence shows that a run has written something into the folder.
OUTPUT_FILES = (
    ("last_state.json", "state.bin", "state.json", "collision_angle.bin", "pca.bin",
     "species_temperature.bin", "animation_entries.json")
    + HISTOGRAM_FILES
    + tuple(name for name in SERIES_WIDTHS if "/" in name)
    + ("velocity/velocity_x.bin", "velocity/velocity_z.bin")
)


class OutputFileError(ValueError):
    """A file that cannot be read as what it should be; the message names the file."""


def _path(folder, name):
    return name if folder is None else os.path.join(folder, name)


def read_json(path):
    """Parses one JSON file; a half-written or malformed file raises OutputFileError."""
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except json.JSONDecodeError as e:
        raise OutputFileError(f"{path}: not valid JSON ({e}); was it caught while being written?") from None


def read_records(path, width, mmap=False):
    """Reads a binary file as an array of shape (records, width); with mmap, a read-only
    memory map, so that only the records used are read from disk.

    Raises OutputFileError when the size is not a whole number of records."""
    width = int(width)
    if width < 1:
        raise OutputFileError(f"{path}: record width must be at least 1, not {width}")
    size = os.path.getsize(path)
    record_bytes = 8 * width
    if size % record_bytes:
        raise OutputFileError(
            f"{path}: {size} bytes is not a whole number of {width}-double records ({record_bytes} bytes each); "
            f"the file is truncated by {size % record_bytes} bytes or was written with another record width")
    if mmap:
        if size == 0:
            # numpy cannot map an empty file.
            return np.zeros((0, width))
        return np.memmap(path, dtype="<f8", mode="r").reshape(-1, width)
    return np.fromfile(path, dtype="<f8").reshape(-1, width)


def read_series(folder, name, width=None):
    """Reads one of the sampled series by its name relative to the folder, e.g.
    "pca.bin" or "free/free_path.bin". Single-value series come back flat (k,), wider
    ones as (k, width). The width is looked up in SERIES_WIDTHS unless given."""
    if width is None:
        if name not in SERIES_WIDTHS:
            raise KeyError(f"no known record width for {name}; pass width=")
        width = SERIES_WIDTHS[name]
    records = read_records(_path(folder, name), width)
    return records[:, 0] if width == 1 else records


# ---- inputs -------------------------------------------------------------------------------

def read_config(folder):
    return read_json(_path(folder, "config.json"))


@dataclass
class Particles:
    """Per-particle constants from particles_config.json, in particle order."""
    diameter: np.ndarray
    mass: np.ndarray
    species: np.ndarray

    @property
    def num_species(self):
        return int(self.species.max()) + 1 if self.species.size else 0

    def count(self, s):
        return int(np.count_nonzero(self.species == s))


def read_particles(folder):
    path = _path(folder, "particles_config.json")
    doc = read_json(path)
    try:
        entries = doc["particles"]
        return Particles(
            diameter=np.array([e["diameter"] for e in entries], dtype=float),
            mass=np.array([e["mass"] for e in entries], dtype=float),
            species=np.array([e["species"] for e in entries], dtype=int),
        )
    except (KeyError, TypeError) as e:
        raise OutputFileError(f"{path}: expected {{\"particles\": [{{diameter, mass, species}}, ...]}} ({e!r})") from None


def read_initial_state(folder):
    """particles_init.json as two arrays of shape (N, 3): positions, velocities."""
    path = _path(folder, "particles_init.json")
    entries = read_json(path)["particles"]
    return (np.array([e["position"] for e in entries], dtype=float),
            np.array([e["velocity"] for e in entries], dtype=float))


# ---- snapshots and restart state ----------------------------------------------------------

@dataclass
class Snapshots:
    times: np.ndarray   # (states,)
    frames: np.ndarray  # (states, N, 6): x, y, z, vx, vy, vz

    def __len__(self):
        return len(self.times)


def read_state_json(folder):
    return read_json(_path(folder, "state.json"))


def read_state(folder, mmap=False):
    """state.bin cut by state.json. Raises OutputFileError when state.bin holds fewer
    snapshots than "states_saved" says or ends in a partial record; whole records beyond
    the count (a flush whose state.json could not be rewritten) are left out. With mmap,
    frames is a read-only memory map of the file, for files larger than memory."""
    meta = read_state_json(folder)
    n = int(meta["num_molecules"])
    saved = int(meta["states_saved"])
    path = _path(folder, "state.bin")
    width = 1 + 6 * n
    records = read_records(path, width, mmap)
    if len(records) < saved:
        raise OutputFileError(
            f"{path}: holds {len(records)} snapshots of {n} particles, but state.json says states_saved = {saved}; "
            "the file is truncated")
    records = records[:saved]
    return Snapshots(times=records[:, 0].copy(), frames=records[:, 1:].reshape(saved, n, 6))


@dataclass
class LastState:
    collision_count: int
    runtime: float
    position: np.ndarray   # (N, 3)
    velocity: np.ndarray   # (N, 3)
    free_path: np.ndarray
    free_time: np.ndarray
    true_path: np.ndarray  # bool


def read_last_state(folder):
    path = _path(folder, "last_state.json")
    doc = read_json(path)
    try:
        arrays = {k: np.asarray(doc[k], dtype=float) for k in ("posX", "posY", "posZ", "velX", "velY", "velZ",
                                                              "freePath", "freeTime")}
        lengths = {len(a) for a in arrays.values()} | {len(doc["truePath"])}
        if len(lengths) != 1:
            raise OutputFileError(f"{path}: the per-particle arrays differ in length {sorted(lengths)}")
        return LastState(
            collision_count=int(doc["collision_count"]),
            runtime=float(doc["runtime"]),
            position=np.column_stack([arrays["posX"], arrays["posY"], arrays["posZ"]]),
            velocity=np.column_stack([arrays["velX"], arrays["velY"], arrays["velZ"]]),
            free_path=arrays["freePath"],
            free_time=arrays["freeTime"],
            true_path=np.asarray(doc["truePath"], dtype=bool),
        )
    except KeyError as e:
        raise OutputFileError(f"{path}: missing key {e}") from None


# ---- histograms and profiles --------------------------------------------------------------

@dataclass
class Histogram:
    edges: np.ndarray
    centers: np.ndarray
    widths: np.ndarray
    counts: np.ndarray
    values: np.ndarray
    num_instances: int

    @property
    def total(self):
        return int(self.counts.sum())

    def density(self):
        """Probability density per unit of the binned quantity (zeros when empty)."""
        total = self.counts.sum()
        return self.counts / (total * self.widths) if total else np.zeros_like(self.widths)


def read_histogram(path):
    doc = read_json(path)
    try:
        h = Histogram(
            edges=np.asarray(doc["edges"], dtype=float),
            centers=np.asarray(doc["centers"], dtype=float),
            widths=np.asarray(doc["widths"], dtype=float),
            counts=np.asarray(doc["counts"], dtype=np.int64),
            values=np.asarray(doc["values"], dtype=float),
            num_instances=int(doc["num_instances"]),
        )
    except KeyError as e:
        raise OutputFileError(f"{path}: missing key {e}") from None
    n = len(h.centers)
    if len(h.edges) != n + 1 or not len(h.widths) == len(h.counts) == len(h.values) == n:
        raise OutputFileError(
            f"{path}: inconsistent lengths (edges {len(h.edges)}, centers {n}, widths {len(h.widths)}, "
            f"counts {len(h.counts)}, values {len(h.values)}); expected n + 1 edges and n of the others")
    return h


# ---- sampled series -----------------------------------------------------------------------

def read_collision_angles(folder):
    """collision_angle.bin as (k, 6); columns in COLLISION_ANGLE_COLUMNS."""
    return read_series(folder, "collision_angle.bin")


def read_pca(folder):
    """pca.bin as (k, 4): collision count, x, y, z of the contact point."""
    return read_series(folder, "pca.bin")


def read_species_temperature(folder, num_species=None):
    """species_temperature.bin as (k, 1 + num_species): collision count, T of each species.
    The species count comes from particles_config.json unless given."""
    if num_species is None:
        num_species = read_particles(folder).num_species
    return read_records(_path(folder, "species_temperature.bin"), 1 + num_species)


def read_velocity(folder, axis, species=None):
    """velocity/velocity_<axis>.bin (or the file of one species) as (samples, particles).
    The sample width is N, or the species' particle count, from particles_config.json."""
    if axis not in ("x", "z"):
        raise ValueError("axis must be 'x' or 'z'")
    particles = read_particles(folder)
    suffix = "" if species is None else str(int(species))
    width = len(particles.species) if species is None else particles.count(int(species))
    name = f"velocity/velocity_{axis}{suffix}.bin"
    if width == 0:
        return np.zeros((0, 0))
    return read_records(_path(folder, name), width)


def read_free_paths(folder):
    """The three free-path lists under free/ that exist, by file stem:
    free_path, free_time, free_path_1_percent."""
    out = {}
    for name in ("free/free_path.bin", "free/free_time.bin", "free/free_path_1_percent.bin"):
        if os.path.exists(_path(folder, name)):
            out[os.path.basename(name)[:-4]] = read_series(folder, name)
    return out


def read_collision_velocities(folder):
    """The collision-velocity files under velocity/ that exist, by file stem
    (particle_collision_velocity comes as (k, 2): lo, -hi)."""
    out = {}
    for name in SERIES_WIDTHS:
        if name.startswith("velocity/") and os.path.exists(_path(folder, name)):
            out[os.path.basename(name)[:-4]] = read_series(folder, name)
    return out


def read_animation(folder):
    """animation_entries.json: a list with one dict per processed event."""
    return read_json(_path(folder, "animation_entries.json"))


def read_summary(folder):
    """summary.json as a dict: "run", "means" (column -> mean, standard_error), "theory", "timing"."""
    return read_json(_path(folder, "summary.json"))


def existing_outputs(folder):
    """The output files of OUTPUT_FILES present in the folder, in that order."""
    return [name for name in OUTPUT_FILES if os.path.isfile(_path(folder, name))]
