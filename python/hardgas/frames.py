"""The outputs of a solution folder as pandas DataFrames, one row per record, with the unit
of every column in `frame.attrs["units"]` (and in UNITS). pandas is imported only here, so
that the readers of hardgas.io need nothing but numpy.

    import hardgas
    angles = hardgas.frame("runs/gas", "collision_angle.bin")
    angles.groupby(["species_i", "species_j"])["scattering_angle"].mean()
"""

import os

import numpy as np

from . import io

# Columns of each record, in file order, with their units ("" when dimensionless, "count"
# for collision counts and indices).
COLUMNS = {
    "collision_angle.bin": (("collision", "count"), ("species_i", ""), ("species_j", ""), ("velocity_angle", "rad"),
                            ("scattering_angle", "rad"), ("collision_angle", "rad")),
    "pca.bin": (("collision", "count"), ("x", "m"), ("y", "m"), ("z", "m")),
    "free/free_path.bin": (("free_path", "m"),),
    "free/free_time.bin": (("free_time", "s"),),
    "free/free_path_1_percent.bin": (("free_path", "m"),),
    "velocity/particle_collision_velocity.bin": (("lower_index_speed", "m/s"), ("minus_higher_index_speed", "m/s")),
}
for _name in io.SERIES_WIDTHS:
    if _name.startswith("velocity/collision_velocity") or _name.startswith("velocity/particle_collision_velocity"):
        COLUMNS.setdefault(_name, (("speed", "m/s"),))

UNITS = {name: dict(columns) for name, columns in COLUMNS.items()}


def _frame(data, columns):
    import pandas as pd

    df = pd.DataFrame(np.asarray(data).reshape(len(data), -1), columns=[c for c, _ in columns])
    df.attrs["units"] = dict(columns)
    return df


def frame(folder, name):
    """One sampled series (a name of COLUMNS, relative to the folder) as a DataFrame."""
    if name not in COLUMNS:
        raise KeyError(f"no known columns for {name}; known: {', '.join(sorted(COLUMNS))}")
    records = io.read_series(folder, name).reshape(-1, len(COLUMNS[name]))
    return _frame(records, COLUMNS[name])


def particles_frame(folder):
    """particles_config.json: diameter (m), mass (kg), species, one row per particle."""
    p = io.read_particles(folder)
    return _frame(np.column_stack([p.diameter, p.mass, p.species]),
                  (("diameter", "m"), ("mass", "kg"), ("species", "")))


def snapshots_frame(folder):
    """state.bin in long form: one row per particle and snapshot, with the snapshot's time."""
    snaps = io.read_state(folder)
    states, n = snaps.frames.shape[:2]
    data = np.column_stack([np.repeat(snaps.times, n), np.tile(np.arange(n), states), snaps.frames.reshape(-1, 6)])
    return _frame(data, (("time", "s"), ("particle", "count"), ("x", "m"), ("y", "m"), ("z", "m"), ("vx", "m/s"),
                         ("vy", "m/s"), ("vz", "m/s")))


def histogram_frame(path, unit=""):
    """A histogram or height profile: bin edges, centre, width, count and summed value."""
    h = io.read_histogram(path)
    df = _frame(np.column_stack([h.edges[:-1], h.edges[1:], h.centers, h.widths, h.counts, h.values]),
                (("lower", unit), ("upper", unit), ("center", unit), ("width", unit), ("count", "count"),
                 ("value", "")))
    df.attrs["num_instances"] = h.num_instances
    return df


def species_temperature_frame(folder):
    """species_temperature.bin: the collision count and the temperature of each species."""
    records = io.read_species_temperature(folder)
    columns = (("collision", "count"),) + tuple((f"temperature_{s}", "K") for s in range(records.shape[1] - 1))
    return _frame(records, columns)


def thermo_frame(folder):
    """thermo.csv: one row every thermo_every collisions. The column names are those of the file's header without
    their units, which go to attrs["units"] ("T (3N-3 degrees of freedom) [K]" becomes "T", unit "K")."""
    import re

    import pandas as pd

    df = pd.read_csv(os.path.join(folder, "thermo.csv"))
    units, names = {}, []
    for column in df.columns:
        match = re.fullmatch(r"(.*?)(?: \((.*)\))?(?: \[(.*)\])?", column)
        name = match.group(1)
        names.append(name)
        units[name] = match.group(3) or ""
    df.columns = names
    df.attrs["units"] = units
    return df


def velocity_frame(folder, axis, species=None):
    """velocity/velocity_<axis>.bin in long form: one row per sample and particle (of the species, when given),
    the velocity component in m/s."""
    samples = io.read_velocity(folder, axis, species)
    particles = samples.shape[1] if samples.ndim == 2 else 0
    data = np.column_stack([np.repeat(np.arange(len(samples)), particles), np.tile(np.arange(particles), len(samples)),
                            samples.reshape(-1)])
    return _frame(data, (("sample", "count"), ("particle", "count"), (f"v{axis}", "m/s")))


def animation_frame(folder):
    """animation_entries.json: one row per processed event, its keys as columns."""
    import pandas as pd

    return pd.DataFrame(io.read_animation(folder))
