"""Tests of the hardgas Python package and tools/hardgas-plot against a real run of the built
simulator.

    python3 tests/tools_test.py --hardgas build/hardgas --init build/hardgas-init [unittest arguments, e.g. ReaderTest]
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "python"))

import numpy as np  # noqa: E402

import hardgas.io as hio  # noqa: E402

PLOT = os.path.join(ROOT, "tools", "hardgas-plot")
OPTIONS = argparse.Namespace(hardgas=None, init=None)

SMALL_RUN = dict(particles=60, collisions=2000, stats_every=50, species_stats_every=50)


def run_hardgas(folder):
    done = subprocess.run([OPTIONS.hardgas, folder], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                          timeout=600)
    if done.returncode != 0:
        raise AssertionError(f"hardgas {folder} ended with status {done.returncode}: {done.stderr}")


def make_small_run(folder):
    """Two species between thermal walls under gravity, with every output switched on, at
    intervals that do not divide each other so that the end-of-run writes matter."""
    settings = {
        "collision_progress_every": 1000, "save_last_state_every": 500,
        "save_particles_state_every": 70, "flush_state_buffer_every": 300,
        "stats_after": 0, "stats_every": SMALL_RUN["stats_every"], "flush_stats_every": 500,
        "species_stats_every": SMALL_RUN["species_stats_every"], "flush_species_stats_every": 700,
        "sample_scattering_angle": True, "save_scattering_angle_every": 500,
        "sample_collision_angle": True, "flush_collision_angle_buffer_every": 700,
        "sample_pca": True, "flush_pca_buffer_every": 700,
        "log_free_path": True, "log_collision_velocity": True, "log_velocity": True,
    }
    command = [OPTIONS.init, folder, "-n", str(SMALL_RUN["particles"]), "-p", "0.05", "--fraction-b", "0.5",
               "--diameter-b", "4.4e-10", "--mass-b", "6.6e-26", "--walls", "diffusive", "-g", "1e12",
               "--max-collisions", str(SMALL_RUN["collisions"])]
    for key, value in settings.items():
        command += ["--set", f"{key}={json.dumps(value)}"]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=60)
    run_hardgas(folder)


def png_size(path):
    """Width and height from the IHDR chunk, after checking the PNG signature."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


class SmallRunCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="hardgas-tools-")
        cls.folder = os.path.join(cls.tmp, "run")
        make_small_run(cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)


class ReaderTest(SmallRunCase):
    def test_snapshots_agree_with_state_json_and_the_restart_file(self):
        meta = hio.read_state_json(self.folder)
        snaps = hio.read_state(self.folder)
        n = SMALL_RUN["particles"]
        self.assertEqual(meta["num_molecules"], n)
        self.assertGreater(meta["states_saved"], 1)
        self.assertEqual(len(snaps), meta["states_saved"])
        self.assertEqual(snaps.frames.shape, (meta["states_saved"], n, 6))
        self.assertEqual(os.path.getsize(os.path.join(self.folder, "state.bin")), 8 * len(snaps) * (1 + 6 * n))
        self.assertTrue(np.all(np.diff(snaps.times) >= 0))
        # The end of a run takes its last snapshot and its restart state at the same instant.
        last = hio.read_last_state(self.folder)
        self.assertEqual(last.collision_count, SMALL_RUN["collisions"])
        self.assertEqual(snaps.times[-1], last.runtime)
        np.testing.assert_array_equal(snaps.frames[-1, :, :3], last.position)
        np.testing.assert_array_equal(snaps.frames[-1, :, 3:], last.velocity)
        mapped = hio.read_state(self.folder, mmap=True)
        np.testing.assert_array_equal(mapped.times, snaps.times)
        np.testing.assert_array_equal(mapped.frames, snaps.frames)

    def test_per_collision_series_hold_one_record_per_collision(self):
        c = SMALL_RUN["collisions"]
        angles = hio.read_collision_angles(self.folder)
        self.assertEqual(angles.shape, (c, 6))
        np.testing.assert_array_equal(angles[:, 0], np.arange(1, c + 1))
        self.assertTrue(set(np.unique(angles[:, 1:3])) <= {0.0, 1.0})
        self.assertTrue(np.all((angles[:, 5] >= np.pi / 2) & (angles[:, 5] <= np.pi)))
        pca = hio.read_pca(self.folder)
        self.assertEqual(pca.shape, (c, 4))
        np.testing.assert_array_equal(pca[:, 0], np.arange(1, c + 1))

        velocities = hio.read_collision_velocities(self.folder)
        self.assertEqual(velocities["collision_velocity"].shape, (c,))
        self.assertTrue(np.all(velocities["collision_velocity"] > 0))
        self.assertEqual(velocities["particle_collision_velocity"].shape, (c, 2))
        self.assertEqual(sum(len(velocities[f"collision_velocity{p}"]) for p in ("00", "11", "01")), c)
        self.assertEqual(len(velocities["particle_collision_velocity0"]) +
                         len(velocities["particle_collision_velocity1"]), 2 * c)

    def test_sampled_series_have_the_configured_number_of_records(self):
        c, n = SMALL_RUN["collisions"], SMALL_RUN["particles"]
        temps = hio.read_species_temperature(self.folder)
        every = SMALL_RUN["species_stats_every"]
        self.assertEqual(temps.shape, (c // every, 3))
        np.testing.assert_array_equal(temps[:, 0], np.arange(every, c + 1, every))
        self.assertTrue(np.all(temps[:, 1:] > 0))

        particles = hio.read_particles(self.folder)
        vx = hio.read_velocity(self.folder, "x")
        self.assertEqual(vx.shape, (c // n, n))
        for s in (0, 1):
            vz = hio.read_velocity(self.folder, "z", species=s)
            self.assertEqual(vz.shape, (c // n, particles.count(s)))
        np.testing.assert_array_equal(hio.read_velocity(self.folder, "x", species=1), vx[:, particles.species == 1])

        paths = hio.read_free_paths(self.folder)
        self.assertEqual(len(paths["free_path"]), len(paths["free_time"]))
        self.assertGreater(len(paths["free_path"]), c)
        self.assertTrue(np.all(paths["free_path"] > 0))

    def test_histograms_count_every_sample(self):
        c, n = SMALL_RUN["collisions"], SMALL_RUN["particles"]
        totals = {p: hio.read_histogram(os.path.join(self.folder, f"scattering_{p}.json")).total
                  for p in ("aa", "bb", "ab")}
        self.assertEqual(sum(totals.values()), c)
        self.assertEqual(hio.read_histogram(os.path.join(self.folder, "scattering_ab_loss.json")).total, totals["ab"])
        profile = hio.read_histogram(os.path.join(self.folder, "linear_profile.json"))
        passes = c // SMALL_RUN["stats_every"]
        self.assertEqual(profile.num_instances, passes)
        self.assertEqual(profile.total, passes * n)
        self.assertEqual(len(profile.edges), len(profile.counts) + 1)


class TruncationTest(SmallRunCase):
    def copy_of_run(self):
        folder = tempfile.mkdtemp(dir=self.tmp)
        shutil.copytree(self.folder, folder, dirs_exist_ok=True)
        return folder

    @staticmethod
    def cut(path, nbytes):
        os.truncate(path, os.path.getsize(path) - nbytes)

    def test_a_partial_record_is_reported_with_the_file_name(self):
        folder = self.copy_of_run()
        for name, reader in (("collision_angle.bin", hio.read_collision_angles),
                             ("species_temperature.bin", hio.read_species_temperature),
                             ("velocity/velocity_x.bin", lambda f: hio.read_velocity(f, "x")),
                             ("velocity/particle_collision_velocity.bin", hio.read_collision_velocities),
                             ("state.bin", hio.read_state),
                             ("state.bin", lambda f: hio.read_state(f, mmap=True))):
            with self.subTest(name=name):
                self.cut(os.path.join(folder, name), 8)
                with self.assertRaises(hio.OutputFileError) as caught:
                    reader(folder)
                self.assertIn(os.path.join(folder, name), str(caught.exception))
                self.assertIn("truncated", str(caught.exception))

    def test_short_state_bin_and_inconsistent_histogram_are_reported(self):
        folder = self.copy_of_run()
        self.cut(os.path.join(folder, "state.bin"), 8 * (1 + 6 * SMALL_RUN["particles"]))
        with self.assertRaises(hio.OutputFileError) as caught:
            hio.read_state(folder)
        self.assertIn("states_saved", str(caught.exception))
        path = os.path.join(folder, "approach_aa.json")
        with open(path) as f:
            doc = json.load(f)
        doc["counts"].pop()
        with open(path, "w") as f:
            json.dump(doc, f)
        with self.assertRaises(hio.OutputFileError) as caught:
            hio.read_histogram(path)
        self.assertIn(path, str(caught.exception))


class PlotTest(SmallRunCase):
    EXPECTED = {"linear_profile.png", "log_profile.png", "angles.png", "collision_angle.png", "velocity.png",
                "collision_velocity.png", "free_path.png", "height_profiles_per_species.png", "species_temperature.png",
                "snapshot.png"}

    def plot(self, *args):
        return subprocess.run([PLOT, *args], capture_output=True, text=True, timeout=300)

    def test_writes_a_png_for_every_output(self):
        out = os.path.join(self.tmp, "figures")
        done = self.plot(self.folder, "--out", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(set(os.listdir(out)), self.EXPECTED)
        # Without --out the figures go to plots/ inside the run.
        self.assertEqual(self.plot(self.folder).returncode, 0)
        self.assertEqual(set(os.listdir(os.path.join(self.folder, "plots"))), self.EXPECTED)
        for name in self.EXPECTED:
            path = os.path.join(out, name)
            width, height = png_size(path)
            self.assertGreaterEqual(min(width, height), 300, name)
            self.assertGreater(os.path.getsize(path), 5000, name)
        self.assertIn(f"collisions      {SMALL_RUN['collisions']:,}", done.stdout)
        self.assertIn("particles       60 (species a: 30, species b: 30)", done.stdout)
        self.assertIn(os.path.abspath(out), done.stdout)

    def test_a_folder_without_outputs_fails_clearly(self):
        empty = tempfile.mkdtemp(dir=self.tmp)
        for folder in (empty, os.path.join(self.tmp, "missing")):
            with self.subTest(folder=folder):
                done = self.plot(folder)
                self.assertEqual(done.returncode, 1)
                self.assertIn(folder, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(folder, "plots")))
        self.assertIn("no output", self.plot(empty).stderr)

    def test_a_truncated_file_fails_the_run_but_not_the_other_figures(self):
        folder = os.path.join(self.tmp, "truncated")
        shutil.copytree(self.folder, folder)
        path = os.path.join(folder, "velocity", "velocity_x.bin")
        os.truncate(path, os.path.getsize(path) - 8)
        done = self.plot(folder)
        self.assertEqual(done.returncode, 1)
        self.assertIn(path, done.stderr)
        written = set(os.listdir(os.path.join(folder, "plots")))
        self.assertNotIn("velocity.png", written)
        self.assertIn("snapshot.png", written)


class ExportTest(unittest.TestCase):
    """state.bin through hardgas-export, read back with the library that owns each format. A dense periodic gas
    with a snapshot every 5 collisions, so that no particle flies half the box between two."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="hardgas-export-")
        cls.folder = os.path.join(cls.tmp, "run")
        subprocess.run([OPTIONS.init, cls.folder, "-n", "108", "-p", "0.3", "--fraction-b", "0.5", "--max-collisions",
                        "3000", "--set", "save_particles_state_every=5"], check=True, stdout=subprocess.DEVNULL)
        run_hardgas(cls.folder)
        cls.snaps = hio.read_state(cls.folder)
        cls.box = hio.read_config(cls.folder)["domain_size"]
        cls.species = hio.read_particles(cls.folder).species

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def export(self, fmt, *options):
        out = os.path.join(self.tmp, f"out.{fmt}")
        done = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "hardgas-export"), self.folder, "--format",
                               fmt, "--out", out, *options], capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")  # no warning about the image counters
        return out

    def test_extxyz_reads_back_with_ase(self):
        from ase.io import read
        frames = read(self.export("extxyz", "--frames", "10:20"), index=":")
        self.assertEqual(len(frames), 10)
        for k, atoms in enumerate(frames):
            # ASE writes eight decimals: 1e-8 Angstrom, 1e-8 m/s
            np.testing.assert_allclose(atoms.positions * 1e-10, self.snaps.frames[10 + k, :, :3], rtol=0, atol=1e-18)
            np.testing.assert_array_equal(atoms.arrays["species_index"], self.species)
            np.testing.assert_allclose(atoms.arrays["velocity"], self.snaps.frames[10 + k, :, 3:], rtol=0, atol=1e-8)
            self.assertEqual(atoms.info["time"], self.snaps.times[10 + k])

    def test_gsd_reads_back_with_gsd_and_its_images_unwrap_the_flights(self):
        import gsd.hoomd
        with gsd.hoomd.open(self.export("gsd"), "rb") as trajectory:
            self.assertEqual(len(trajectory), len(self.snaps))
            unwrapped = []
            for k, frame in enumerate(trajectory):
                self.assertEqual(list(frame.particles.typeid), list(self.species))
                wrapped = frame.particles.position.astype(float) * 1e-9 + self.box / 2
                np.testing.assert_allclose(wrapped, self.snaps.frames[k, :, :3], rtol=0, atol=1e-6 * self.box)
                unwrapped.append(wrapped + frame.particles.image * self.box)
        # Unwrapped, no particle jumps farther between two snapshots than its speed carries it; wrapped, some do.
        unwrapped = np.array(unwrapped)
        step = np.linalg.norm(np.diff(unwrapped, axis=0), axis=2)
        reach = np.linalg.norm(self.snaps.frames[:, :, 3:], axis=2).max() * np.diff(self.snaps.times)[:, None]
        self.assertTrue((step <= reach + 1e-6 * self.box).all())
        self.assertTrue((np.linalg.norm(np.diff(self.snaps.frames[:, :, :3], axis=0), axis=2) > self.box / 2).any())

    def test_lammps_dump_holds_unwrapped_positions_and_their_images(self):
        with open(self.export("lammps", "--unwrap")) as f:
            lines = f.read().splitlines()
        n = len(self.species)
        self.assertEqual(lines[:4], ["ITEM: TIMESTEP", "0", "ITEM: TIME", repr(self.snaps.times[0])])
        last = np.array([line.split() for line in lines[-n:]], dtype=float)
        self.assertEqual(lines[-n - 1], "ITEM: ATOMS id type radius x y z ix iy iz vx vy vz")
        np.testing.assert_allclose(last[:, 3:6] - last[:, 6:9] * self.box, self.snaps.frames[-1, :, :3], rtol=0,
                                   atol=1e-12 * self.box)
        np.testing.assert_array_equal(last[:, 1], self.species + 1)

class PackageTest(SmallRunCase):
    """The package installed the way the README says, with no network, into a virtual environment that sees
    Debian's numpy and pandas, and used from outside the source tree."""

    def test_installed_package_reads_the_run_into_frames_with_units(self):
        venv = os.path.join(self.tmp, "venv")
        subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True, timeout=120)
        source = os.path.join(self.tmp, "source")  # pip builds in the tree; keep the checkout clean
        shutil.copytree(os.path.join(ROOT, "python"), source)
        python = os.path.join(venv, "bin", "python")
        subprocess.run([python, "-m", "pip", "install", "-q", "--no-index", "--no-build-isolation", source], check=True,
                       timeout=300, stdout=subprocess.DEVNULL)
        script = (
            "import json, sys, numpy as np, hardgas\n"
            "f = sys.argv[1]\n"
            "a = hardgas.frame(f, 'collision_angle.bin')\n"
            "s = hardgas.snapshots_frame(f)\n"
            "snaps = hardgas.read_state(f)\n"
            "ok = [np.array_equal(a.to_numpy(), hardgas.read_collision_angles(f)),\n"
            "      np.array_equal(s[['x', 'y', 'z', 'vx', 'vy', 'vz']].to_numpy(), snaps.frames.reshape(-1, 6)),\n"
            "      np.array_equal(s['time'].to_numpy()[::snaps.frames.shape[1]], snaps.times)]\n"
            "v = hardgas.velocity_frame(f, 'x')\n"
            "ok.append(bool(np.array_equal(v['vx'].to_numpy(), hardgas.read_velocity(f, 'x').reshape(-1))))\n"
            "t = hardgas.thermo_frame(f)\n"
            "run = hardgas.read_summary(f)['run']  # a thermo row every N collisions\n"
            "ok.append(bool(len(t) == run['collisions'] // run['particles'] and t['collisions'].iloc[0] == run['particles']))\n"
            "print(json.dumps({'file': hardgas.__file__, 'ok': ok, 'units': a.attrs['units'],\n"
            "                  'columns': list(hardgas.particles_frame(f).columns), 'T': t.attrs['units']['T']}))\n")
        done = subprocess.run([python, "-c", script, self.folder], cwd=self.tmp, capture_output=True, text=True,
                              timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        result = json.loads(done.stdout)
        self.assertTrue(result["file"].startswith(venv), result["file"])
        self.assertEqual(result["ok"], [True, True, True, True, True])
        self.assertEqual(result["T"], "K")
        self.assertEqual(result["units"]["scattering_angle"], "rad")
        self.assertEqual(result["columns"], ["diameter", "mass", "species"])
        version = subprocess.run([python, "-c", "import hardgas; print(hardgas.__version__)"], cwd=self.tmp,
                                 capture_output=True, text=True, check=True).stdout
        program = subprocess.run([OPTIONS.hardgas, "--version"], capture_output=True, text=True, check=True).stdout
        self.assertEqual(program, "hardgas " + version, "the package and the program carry one version")


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--hardgas", required=True)
    parser.add_argument("--init", required=True)
    options, rest = parser.parse_known_args()
    vars(OPTIONS).update(vars(options))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
