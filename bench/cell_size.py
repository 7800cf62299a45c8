#!/usr/bin/env python3
"""Collision rate against cell size: for each packing fraction, the engine benchmark's rate
with cells_per_dimension set so that a cell is about f diameters wide, for several f >= 1.
The fastest f per packing fraction is what hardgas-init's choice of cells rests on.

    python3 bench/cell_size.py --build build [--particles 32000] [--phi 0.1 ...] [--widths 1 1.2 ...]
"""

import argparse
import math
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engine_bench  # noqa: E402

DIAMETER = 3.7e-10  # hardgas-init's default


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--particles", type=int, default=32000)
    parser.add_argument("--phi", type=float, nargs="+", default=[0.01, 0.05, 0.1, 0.2, 0.3, 0.45])
    parser.add_argument("--widths", type=float, nargs="+", default=[1.0, 1.2, 1.4, 1.7, 2.0, 2.5])
    parser.add_argument("--collisions-per-particle", type=float, default=20)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    n = args.particles
    budget = int(args.collisions_per_particle * n)
    print(f"N = {n:,}, {budget:,} collisions per timed run, fastest of {args.repeat}; rate in collisions/s")
    with tempfile.TemporaryDirectory() as work:
        for phi in args.phi:
            box = (n * math.pi * DIAMETER ** 3 / (6 * phi)) ** (1 / 3)
            rates = {}
            for width in args.widths:
                cells = max(1, math.floor(box / (width * DIAMETER)))
                if cells in rates or box / cells < DIAMETER:
                    continue
                rate, _ = engine_bench.measure(args.build, n, phi, budget, work, args.repeat, False, False, False,
                                               extra=[f"cells_per_dimension={cells}"])
                rates[cells] = rate
                print(f"phi {phi:<5} cells {cells:>4} width {box / cells / DIAMETER:5.2f} d  {rate:12,.0f}", flush=True)
            best = max(rates, key=rates.get)
            print(f"phi {phi:<5} fastest: width {box / best / DIAMETER:.2f} d", flush=True)


if __name__ == "__main__":
    main()
