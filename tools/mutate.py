#!/usr/bin/env python3
"""Mutation testing: plants one small fault at a time in the simulator's C++ code, rebuilds
and runs the release test suite, and reports which faults the suite catches.

    python3 tools/mutate.py --build DIR [--only ID,ID] [--list] [--jobs 2] [--json OUT]

A mutant names no file: its `find` text is looked for in every *.cpp and *.h under the
source folders, so that the table outlives files being moved or split. It must occur
exactly once; otherwise the mutant is "not applicable" and the count is shown, because
guessing which occurrence was meant would test something else than the table says.
A mutant is "killed" when the suite fails, "survived" when it passes. The edited file is
always put back, also on Ctrl-C, and every source is checked against its original content
at the end. Per-mutant build and test output is kept in DIR/mutants/ID.log.
"""
import argparse, json, signal, subprocess, sys, time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_DIRS = ("app", "core", "stats", "persist", "util")
SUITE_TIMEOUT = 1500  # s: a mutant that makes a run loop forever counts as killed

# (id, what the fault does, find, replace). Snippets are formulas, comparisons, key names
# and record layouts: text that a reorganisation moves but does not rewrite.
MUTANTS = {
    "core": [
        ("core-contact-receding", "flipped approach test: only receding pairs get a contact time",
         "if (b >= 0.0) return NEVER;", "if (b <= 0.0) return NEVER;"),
        ("core-tie-break", "on equal event times the last candidate wins instead of the first",
         "if (order[c].time < order[chosen].time) chosen = c;", "if (order[c].time <= order[chosen].time) chosen = c;"),
        ("core-recollision-guard", "re-collision guard refuses a pair once it has moved instead of before",
         "return samePair && sim.freePath[static_cast<size_t>(p)] < EPSILON_DISTANCE",
         "return samePair && sim.freePath[static_cast<size_t>(p)] > EPSILON_DISTANCE"),
        ("core-plane-later-root", "flipped comparison: a plane contact takes the later of two roots",
         "return tPlus <= tMinus ? tPlus : tMinus;", "return tPlus >= tMinus ? tPlus : tMinus;"),
        ("core-ceiling-height", "wrong wall position: the ceiling is met one radius too low",
         ": planeHitTime(m.posZ, m.radius, m.velZ, -g, L));", ": planeHitTime(m.posZ, m.radius, m.velZ, -g, L - m.radius));"),
        ("core-metal-direction", "flipped comparison: only particles moving down look for the metal plane",
         "if (m.velZ < 0.0) return NEVER;", "if (m.velZ > 0.0) return NEVER;"),
        ("core-floor-not-reversed", "wrong wall rule: the specular floor does not reverse the velocity",
         "m.posZ = m.radius;\n            m.velZ = -m.velZ;", "m.posZ = m.radius;"),
        ("core-thermal-floor-sign", "wrong wall rule: the thermal floor re-emits into the floor",
         "m.velZ = +sampleWallNormalSpeed(mass, T);", "m.velZ = -sampleWallNormalSpeed(mass, T);"),
        ("core-impulse-x-sign", "flipped sign of the elastic impulse on i along x",
         "a.velX -= J * mj * n.x;", "a.velX += J * mj * n.x;"),
        ("core-ceiling-neighbours", "wrong wall rule: the neighbour search of the top cells reaches through the ceiling",
         "(i == n - 1 && s.ghost == +1)", "(i == n - 1 && s.ghost == -1)"),
        ("core-overflow-trim", "off-by-one: a cell's overflow list is trimmed one removal too late",
         "if (cell.count >= INLINE_SLOTS) grid.overflowLists", "if (cell.count > INLINE_SLOTS) grid.overflowLists"),
        ("core-neighbour-bits", "the neighbour search away from the wrap sees only two of the three z cells of a column",
         "h.occupied |= static_cast<uint32_t>((bits >> shift) & 7u) << (3 * c);",
         "h.occupied |= static_cast<uint32_t>((bits >> shift) & 3u) << (3 * c);"),
        ("core-contact-far-root", "a pair whose nearer contact root lies in the past gets no contact at all",
         "return t2 > EPSILON_TIME ? t2 : NEVER;", "return t2 > EPSILON_TIME && false ? t2 : NEVER;"),
        ("core-queue-child", "heap sift-down follows the later child",
         "child -= later(heap[child], heap[child - 1]) ? 1 : 0;", "child -= later(heap[child - 1], heap[child]) ? 1 : 0;"),
        ("core-stale-partner", "currency rule: a stale collision no longer re-predicts its surviving partner",
         "if (jCurrent) predictNextEvent(event.j);", ""),
        ("core-partner-counter", "missed counter increment: the partner's old events stay current after a collision",
         "sim.eventCount[static_cast<size_t>(event.j)] += 1;", ""),
        ("core-fall-sign", "free flight under gravity: the extrapolated fall term has the wrong sign",
         "-= 0.5 * g * dt * dt;", "+= 0.5 * g * dt * dt;"),
        ("core-free-time", "missed increment: a free flight does not add to the particle's free time",
         "sim.freeTime[static_cast<size_t>(p)] += dt;", ""),
        ("core-face-at-once", "a particle on a face and leaving through it gets no crossing (lost at cell edges)",
         "return Timed{sim.simulationTime + (step >= EPSILON_TIME ? step : 0.0), dir};",
         "return Timed{step >= EPSILON_TIME ? sim.simulationTime + step : NEVER, dir};"),
        ("core-touching-wall", "a sphere touching a wall and moving into it is not bounced at once",
         "if (velocityInto > 0.0) return 0.0;", "if (velocityInto > 0.0) return NEVER;"),
        ("core-parabola-length", "free path under gravity: the speed term of the parabola's length takes w0 for w1",
         "d * (s0 + w1 * (w0 + w1) / (s0 + s1))", "d * (s0 + w0 * (w0 + w1) / (s0 + s1))"),
    ],
    "stats": [
        ("stats-bin-edge", "off-by-one bin: a value on an inner edge goes to the bin above",
         "while (b > 0 && x <= edges[b]) --b;", "while (b > 0 && x < edges[b]) --b;"),
        ("stats-scattering-angle", "scattering angle from the reversed relative velocity after the collision",
         "const Vec3 h = velIAfter - velJAfter;", "const Vec3 h = velJAfter - velIAfter;"),
        ("stats-collision-angle", "collision angle measured against the reversed line of centres",
         "clampedAcos(dot(g, dHat) / lg)", "clampedAcos(-dot(g, dHat) / lg)"),
        ("stats-pair-kind", "like pairs of species 0 and of species 1 filed under each other's histograms",
         "return speciesI == 0 ? PairKind::AA : PairKind::BB;", "return speciesI == 0 ? PairKind::BB : PairKind::AA;"),
        ("stats-near-floor", "near-floor free paths need both partners near the floor",
         "if (r.contactI.z < limit || r.contactJ.z < limit)", "if (r.contactI.z < limit && r.contactJ.z < limit)"),
        ("stats-pca-swap", "two swapped output fields: y and z of the contact point in pca.bin",
         "r.contactI.y + radius * dHat.y, r.contactI.z + radius * dHat.z}",
         "r.contactI.z + radius * dHat.z, r.contactI.y + radius * dHat.y}"),
        ("stats-peculiar", "species temperature from absolute instead of peculiar velocities",
         "const double dx = m.velX - mean[s].x, dy = m.velY - mean[s].y, dz = m.velZ - mean[s].z;",
         "const double dx = m.velX, dy = m.velY, dz = m.velZ;"),
        ("stats-particle-velocity-sign", "per-particle collision velocity of the faster partner logged with the wrong sign",
         "v.particleCollisionVelocitySamples.push_back(-hi);", "v.particleCollisionVelocitySamples.push_back(hi);"),
        ("stats-velocity-z-file", "velocity_z.bin receives the x components",
         'writeArrayFile(z, solutionFolder, "/velocity", "velocity_z.bin");',
         'writeArrayFile(x, solutionFolder, "/velocity", "velocity_z.bin");'),
        ("stats-profile-passes", "missed counter increment: the linear profile does not count its passes",
         "linearProfile.num_instances += 1;", ""),
        ("stats-virial-sign", "thermo table: the collisional virial with the wrong sign",
         "thermo.virial += sim.mass[ui] * dot(dr, dv);", "thermo.virial -= sim.mass[ui] * dot(dr, dv);"),
        ("stats-floor-momentum", "thermo table: the ceiling's momentum counted with the floor's sign",
         "thermo.wallMomentum[wall] += wall == 0 ? gainedUp : -gainedUp;", "thermo.wallMomentum[wall] += gainedUp;"),
        ("stats-flight-start", "free-path profiles: a flight's start height is never recorded",
         "s.flightStartZ[up] = sim.motion[up].posZ;", ""),
    ],
    "persist": [
        ("persist-resume-shifts-windows", "a run resumed from a periodic restart point moves its angle windows on again",
         "if (!resumeState.found || resumeState.kind == RestartKind::EndOfRun) shiftAngleWindows();", "shiftAngleWindows();"),
        ("persist-resume-no-cut-back", "appended outputs keep what was written after the restart point",
         "std::filesystem::resize_file(path, recorded, ec);", ""),
        ("persist-resume-thermo-interval", "the thermo interval of the restart point is not restored",
         "if (config.log_thermo) restoreThermo(record, where);", "if (config.log_thermo && false) restoreThermo(record, where);"),
        ("persist-final-save-rerun", "a run continued where its end record stands writes a new record for a stretch that never ran",
         "if (endsWhereItResumed(kind, record)) record = resumeState.record;",
         "if (endsWhereItResumed(kind, record) && false) record = resumeState.record;"),
        ("persist-resume-last-pair", "the last colliding pair of the restart point is not restored",
         "predictionState.lastCollisionI = last[0];", ""),
        ("persist-snapshot-swap", "two swapped output fields: vx and vy in every state.bin record",
         "{m.posX, m.posY, m.posZ, m.velX, m.velY, m.velZ}", "{m.posX, m.posY, m.posZ, m.velY, m.velX, m.velZ}"),
        ("persist-snapshot-count", "missed counter increment: state.json does not count a buffered snapshot",
         "snapshotState.statesSaved += 1;", ""),
        ("persist-trim-restart-point", "flipped comparison: a continued run drops the snapshot of its restart point",
         "if (!in || time <= sim.simulationTime) {", "if (!in || time < sim.simulationTime) {"),
        ("persist-restart-vely", "restart file holds velX under the key velY",
         "return motion[k].velY; });", "return motion[k].velX; });"),
        ("persist-window-shift", "off-by-one: a continued run moves the angle windows' start one collision too far",
         "return saturatingAdd(after, done - 1);", "return saturatingAdd(after, done);"),
        ("persist-molecule-check", "dropped validation: a state.json of another system size is accepted",
         "if (stored != particleCount()) {", "if (stored != particleCount() && false) {"),
        ("persist-animation-p2y", "animation log writes z of the second particle as its y",
         'o["p2y"] = e.p2.y;', 'o["p2y"] = e.p2.z;'),
        ("persist-rename", "dropped write: a rewritten file never replaces the old one",
         "std::filesystem::rename(temporary, path, ec);", ""),
        ("persist-final-pca", "dropped write: contact points buffered at the end of the run are not flushed",
         "if (config.sample_pca || !seriesBuffers.pcaBuffer.empty()) flushPca();", ""),
        ("persist-flight-start-restore", "a continued run does not take the flight start heights from resume.json",
         "if (starts == record.end() || flightStartZ.empty()) return;", "return;"),
        ("persist-wall-random-restore", "a continued run does not restore the thermal walls' generator",
         "if (!restoreRandomGenerator(state)) {", "if (false) {"),
        ("persist-stale-pca", "a fresh run keeps appending to the pca.bin of an earlier run",
         '"collision_angle.bin", "pca.bin", "species_temperature.bin",', '"collision_angle.bin", "species_temperature.bin",'),
    ],
    "app": [
        ("app-default-divisor", "wrong default: bottom_free_path_divisor 10 instead of 100",
         "double bottom_free_path_divisor = 100.0;", "double bottom_free_path_divisor = 10.0;"),
        ("app-default-snapshots", "wrong default: a snapshot every N/10 collisions instead of N/20",
         "static_cast<uint64_t>(c.num_molecules / 20)", "static_cast<uint64_t>(c.num_molecules / 10)"),
        ("app-key-metal-z", "config key metal_z misread: the metal plane stays at z = 0",
         '{.name = "metal_z",', '{.name = "metalz",'),
        ("app-gravity-rule", "flipped rule: gravity refused between walls and accepted without them",
         "if (c.g != 0.0 && !c.reflective_z) {", "if (c.g != 0.0 && c.reflective_z) {"),
        ("app-interval-check", "dropped validation: collision intervals of 0 pass the schedule check",
         "        if (value < 1) {", "        if (value < 0) {"),
        ("app-alter-stop-key", "alteration key stop misread: a stop request is ignored",
         'readOptional(doc, "stop", a.stop);', 'readOptional(doc, "halt", a.stop);'),
        ("app-alter-reset", "alteration reset_stats leaves the linear profile as it was",
         "collisionStats.linearProfile.reset();", ""),
        ("app-alter-poll", "alter.json polled after any event at a multiple, not only after a collision",
         "event.type == Collision && sim.collisionCount %", "sim.collisionCount %"),
        ("app-angle-window", "off-by-one: the angle sampling windows include their start collision",
         "return after < c && c <= until;", "return after <= c && c <= until;"),
        ("app-snapshot-cadence", "schedule cadence: snapshots one collision early",
         "if (c % cfg.save_particles_state_every == 0)", "if ((c + 1) % cfg.save_particles_state_every == 0)"),
        ("app-restart-save", "dropped write: the periodic restart save is skipped",
         "if (c % static_cast<uint64_t>(cfg.save_last_state_every) == 0) scheduleState.restartSaveDue = true;", ""),
        ("app-cut-no-restart", "a periodic restart save leaves the engine as it was instead of starting it over",
         "saveRestartPointWithOutputs(RestartKind::Periodic);\n    startEngineFromStoredState();",
         "saveRestartPointWithOutputs(RestartKind::Periodic);"),
        ("app-resume-altered", "a run resumed from a periodic restart point forgets what alter.json had changed",
         "if (resumeState.found && resumeState.kind == RestartKind::Periodic) continueWithAlteredValues();",
         "if (resumeState.found && resumeState.kind == RestartKind::Periodic && false) continueWithAlteredValues();"),
        ("app-cut-no-flush", "a periodic restart save leaves the snapshots in their buffer",
         "if (!stateSnapshotBuffer().empty()) flushStateSnapshots();",
         "if (kind == RestartKind::EndOfRun && !stateSnapshotBuffer().empty()) flushStateSnapshots();"),
        ("app-purge-never", "the event queue is never purged",
         "* cfg.purge_queue_above) {", "* cfg.purge_queue_above * 1e9) {"),
        ("app-mass-check", "dropped validation: particles of zero mass are accepted",
         "if (mass <= 0.0) throw", "if (mass < 0.0) throw"),
        ("app-wall-overlap-check", "dropped validation: spheres reaching into the floor or ceiling are accepted",
         "if (config.reflective_z && (m.posZ < m.radius - slack", "if (false && (m.posZ < m.radius - slack"),
        ("app-unsigned-negative", "dropped validation: negative numbers wrap around in unsigned keys",
         "if (v < 0 && std::numeric_limits<Int>::min() == 0) throw InputError(rangeMessage);", ""),
        ("app-typo-warning", "a config.json key that no table knows is ignored without a warning",
         "if (!known) std::cerr", "if (false) std::cerr"),
        ("app-sigterm", "SIGTERM is noted and never acted on",
         "if (terminationRequested) {", "if (false) {"),
    ],
}


def sources():
    return sorted(p for d in SOURCE_DIRS if (ROOT / d).is_dir()
                  for p in (ROOT / d).rglob("*") if p.suffix in (".cpp", ".h") and p.is_file())


def locate(find, texts):
    """(number of occurrences over all sources, the file of the last one)."""
    count, where = 0, None
    for path, text in texts.items():
        if (n := text.count(find)):
            count, where = count + n, path
    return count, where


def run(cmd, log, timeout=None):
    with open(log, "a") as out:
        out.write("\n$ " + " ".join(map(str, cmd)) + "\n")
        out.flush()
        try:
            return subprocess.run(cmd, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.write(f"\n(timed out after {timeout} s)\n")
            return None


def first_failure(log):
    lines = Path(log).read_text(errors="replace").splitlines()
    bad = [l.split("Test #", 1)[1].split(":", 1)[1].split()[0].split("***")[0].rstrip(".") for l in lines
           if "Test #" in l and ("***" in l or "Exception" in l)]
    return bad[0] if bad else ""


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", required=True, type=Path, help="build directory (configured if needed)")
    ap.add_argument("--only", help="comma-separated mutant ids")
    ap.add_argument("--list", action="store_true", help="show the table and where each snippet matches")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--json", type=Path, help="write the results here")
    args = ap.parse_args()
    table = [(layer, *m) for layer, ms in MUTANTS.items() for m in ms]
    ids = [m[1] for m in table]
    assert len(ids) == len(set(ids)), "duplicate mutant id"
    if args.only:
        wanted = args.only.split(",")
        if unknown := set(wanted) - set(ids):
            sys.exit(f"unknown mutant id(s): {', '.join(sorted(unknown))}")
        table = [m for m in table if m[1] in wanted]
    originals = {p: p.read_bytes() for p in sources()}
    texts = {p: b.decode() for p, b in originals.items()}
    if args.list:
        for layer, mid, desc, find, _ in table:
            count, where = locate(find, texts)
            place = where.relative_to(ROOT) if count == 1 else f"{count} matches"
            print(f"{mid:30} {str(place):28} {desc}")
        return 0

    build = args.build.resolve()
    logs = build / "mutants"
    logs.mkdir(parents=True, exist_ok=True)
    cmake_build = ["cmake", "--build", build, "-j", str(args.jobs)]
    ctest = ["ctest", "--test-dir", build, "-j", str(args.jobs), "--stop-on-failure", "--timeout", "300"]
    signal.signal(signal.SIGTERM, signal.default_int_handler)  # a kill restores the file like Ctrl-C
    start = time.monotonic()
    base = logs / "baseline.log"
    base.write_text("")
    if not (build / "CMakeCache.txt").exists() or "HARDGAS_LTO:BOOL=OFF" not in (build / "CMakeCache.txt").read_text():
        if run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                "-DHARDGAS_LTO=OFF", "-DHARDGAS_WERROR=ON"], base):
            sys.exit(f"configuring {build} failed: see {base}")
    if run(cmake_build, base) or run(ctest, base, SUITE_TIMEOUT) != 0:
        sys.exit(f"the unmutated code does not build or pass its tests: see {base}")
    print(f"baseline passes ({time.monotonic() - start:.0f} s); {len(table)} mutants", flush=True)

    results, interrupted = [], False
    try:
        for k, (layer, mid, desc, find, replace) in enumerate(table, 1):
            t0, log = time.monotonic(), logs / f"{mid}.log"
            log.write_text(f"{mid}: {desc}\n")
            count, path = locate(find, texts)
            detail = ""
            if count != 1:
                status, detail = "not applicable", f"{count} matches"
            else:
                detail = str(path.relative_to(ROOT))
                try:
                    path.write_bytes(texts[path].replace(find, replace, 1).encode())
                    if run(cmake_build, log):
                        status = "does not compile"
                    else:
                        rc = run(ctest, log, SUITE_TIMEOUT)
                        status = "survived" if rc == 0 else "killed"
                        failed = "suite timed out" if rc is None else first_failure(log)
                        detail += f" -> {failed}" if failed else ""
                finally:
                    path.write_bytes(originals[path])
            results.append(dict(id=mid, layer=layer, description=desc, status=status, detail=detail,
                                seconds=round(time.monotonic() - t0, 1)))
            print(f"[{k:2}/{len(table)}] {mid:30} {status:17} {results[-1]['seconds']:6.1f} s  {detail}", flush=True)
    except KeyboardInterrupt:
        interrupted = True
        print("\ninterrupted", flush=True)
    finally:
        changed = [p for p, b in originals.items() if p.read_bytes() != b]
        for p in changed:
            p.write_bytes(originals[p])
        if changed:
            print("restored after a failed restore: " + ", ".join(str(p.relative_to(ROOT)) for p in changed))
        assert all(p.read_bytes() == b for p, b in originals.items()), "sources differ from the original"
    if not interrupted and run(cmake_build, base):  # leave DIR built from the unmutated code
        print(f"rebuilding the unmutated code failed: see {base}")

    wall = time.monotonic() - start
    counts = {s: sum(r["status"] == s for r in results)
              for s in ("killed", "survived", "not applicable", "does not compile")}
    print(f"\n{len(results)} mutants in {wall / 60:.1f} min: " + ", ".join(f"{n} {s}" for s, n in counts.items()))
    for r in results:
        if r["status"] != "killed":
            print(f"  {r['status']:17} {r['id']:30} {r['description']}")
    if args.json:
        args.json.write_text(json.dumps(dict(counts=counts, wall_seconds=round(wall), results=results), indent=2) + "\n")
    return 130 if interrupted else 0


if __name__ == "__main__":
    sys.exit(main())
