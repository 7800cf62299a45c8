"""Reading the solution folders of the hardgas simulator, and the kinetic theory of hard
spheres that their results are compared with.

    import hardgas
    snaps = hardgas.read_state("runs/gas")                   # numpy arrays
    paths = hardgas.frame("runs/gas", "free/free_path.bin")  # a pandas DataFrame
    hardgas.theory.virial_z(0.3)
"""

from . import io, theory
from .frames import (COLUMNS, UNITS, frame, histogram_frame, particles_frame, snapshots_frame, species_temperature_frame,
                     thermo_frame, velocity_frame, animation_frame)
from .io import *  # noqa: F401,F403  (the readers: read_state, read_histogram, read_series, ...)
from .io import OutputFileError

__version__ = "0.1.0"
__all__ = ["io", "theory", "frame", "histogram_frame", "particles_frame", "snapshots_frame",
           "species_temperature_frame", "thermo_frame", "velocity_frame", "animation_frame", "COLUMNS", "UNITS", "OutputFileError"]
__all__ += [name for name in dir(io) if name.startswith("read_")]
