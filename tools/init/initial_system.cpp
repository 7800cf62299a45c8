#include "tools/init/initial_system.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <stdexcept>

using nlohmann::json;

static constexpr double BOLTZMANN = 1.380649e-23;
static constexpr double PI = 3.141592653589793;

int32_t largestCellCount(double domainSize, double largestDiameter) {
    if (!(largestDiameter > 0.0)) return 1;
    auto n = static_cast<int64_t>(std::floor(domainSize / largestDiameter));
    n = std::clamp<int64_t>(n, 1, 1 << 20);
    while (n > 1 && domainSize / static_cast<double>(n) < largestDiameter) --n;
    while (domainSize / static_cast<double>(n + 1) >= largestDiameter) ++n;
    return static_cast<int32_t>(n);
}

// Measured with bench/cell_size.py (N = 32,000): from packing fraction 0.1 up, cells one diameter
// wide run fastest; below it face crossings outnumber collisions, and wider cells that hold
// about 0.2 particles each cut them: at phi 0.01 the run took 0.48 of the time with
// diameter-wide cells (median of 5 pairs), at phi 0.05 0.89.
int32_t fastestCellCount(double domainSize, double largestDiameter, int64_t particles) {
    const double volumePerParticle = domainSize * domainSize * domainSize / static_cast<double>(std::max<int64_t>(particles, 1));
    const double width = std::max(largestDiameter, std::cbrt(CELL_OCCUPANCY_FOR_SPEED * volumePerParticle));
    return largestCellCount(domainSize, width);
}

static void check(bool ok, const std::string& message) {
    if (!ok) throw std::invalid_argument(message);
}

static void assignSpecies(const InitOptions& o, InitialSystem& s, std::mt19937_64& rng) {
    const auto n = static_cast<size_t>(o.particles);
    const auto countB = static_cast<size_t>(std::llround(o.fractionB * static_cast<double>(n)));
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::shuffle(order.begin(), order.end(), rng);
    s.species.assign(n, 0);
    for (size_t k = 0; k < countB; ++k) s.species[order[k]] = 1;
    const double diameterB = o.diameterB > 0.0 ? o.diameterB : o.diameter;
    const double massB = o.massB > 0.0 ? o.massB : o.mass;
    s.diameter.resize(n);
    s.mass.resize(n);
    for (size_t k = 0; k < n; ++k) {
        s.diameter[k] = s.species[k] == 1 ? diameterB : o.diameter;
        s.mass[k] = s.species[k] == 1 ? massB : o.mass;
    }
}

// Face-centred cubic sites, offset by a quarter cell so that none sits on a cell face or
// the domain edge. Between walls the lattice is squeezed in z to keep every sphere at least
// its radius away from floor and ceiling.
static void placeOnLattice(const InitOptions& o, InitialSystem& s, double L, double largestDiameter,
                           std::mt19937_64& rng) {
    const auto n = static_cast<size_t>(o.particles);
    int64_t cellsPerSide = 1;
    while (4 * cellsPerSide * cellsPerSide * cellsPerSide < static_cast<int64_t>(n)) ++cellsPerSide;
    const double a = L / static_cast<double>(cellsPerSide);
    const bool walls = o.walls != "periodic";
    const double rmax = largestDiameter / 2.0;
    const double squeeze = walls ? (L - 2.0 * rmax) / L : 1.0;
    const double nearest = a / 2.0 * std::sqrt(1.0 + squeeze * squeeze);
    check(squeeze > 0.0 && nearest > largestDiameter * (1.0 + 1e-9),
          "the spheres do not fit on a lattice in this box: lower the packing fraction or the number of particles");

    static const double basis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
    std::vector<std::array<double, 3>> sites;
    sites.reserve(static_cast<size_t>(4 * cellsPerSide * cellsPerSide * cellsPerSide));
    for (int64_t i = 0; i < cellsPerSide; ++i)
        for (int64_t j = 0; j < cellsPerSide; ++j)
            for (int64_t k = 0; k < cellsPerSide; ++k)
                for (const auto& b : basis) {
                    const double u = (static_cast<double>(k) + b[2] + 0.25) * a;
                    sites.push_back({(static_cast<double>(i) + b[0] + 0.25) * a,
                                     (static_cast<double>(j) + b[1] + 0.25) * a, walls ? rmax + u * squeeze : u});
                }
    // Which sites stay empty is random, but the particles are numbered in lattice order:
    // neighbours in space are then neighbours in memory, which keeps large systems fast.
    std::vector<size_t> chosen(sites.size());
    std::iota(chosen.begin(), chosen.end(), size_t{0});
    std::shuffle(chosen.begin(), chosen.end(), rng);
    chosen.resize(n);
    std::sort(chosen.begin(), chosen.end());
    s.x.resize(n);
    s.y.resize(n);
    s.z.resize(n);
    for (size_t k = 0; k < n; ++k) {
        s.x[k] = sites[chosen[k]][0];
        s.y[k] = sites[chosen[k]][1];
        s.z[k] = sites[chosen[k]][2];
    }
}

// Maxwell-Boltzmann components, then the centre-of-mass drift removed and the kinetic
// energy scaled to exactly 3/2 N k_B T.
static void drawVelocities(const InitOptions& o, InitialSystem& s, std::mt19937_64& rng) {
    const auto n = static_cast<size_t>(o.particles);
    std::normal_distribution<double> normal(0.0, 1.0);
    s.vx.resize(n);
    s.vy.resize(n);
    s.vz.resize(n);
    double px = 0, py = 0, pz = 0, totalMass = 0;
    for (size_t k = 0; k < n; ++k) {
        const double sigma = std::sqrt(BOLTZMANN * o.temperature / s.mass[k]);
        s.vx[k] = sigma * normal(rng);
        s.vy[k] = sigma * normal(rng);
        s.vz[k] = sigma * normal(rng);
        px += s.mass[k] * s.vx[k];
        py += s.mass[k] * s.vy[k];
        pz += s.mass[k] * s.vz[k];
        totalMass += s.mass[k];
    }
    double kinetic = 0;
    for (size_t k = 0; k < n; ++k) {
        s.vx[k] -= px / totalMass;
        s.vy[k] -= py / totalMass;
        s.vz[k] -= pz / totalMass;
        kinetic += 0.5 * s.mass[k] * (s.vx[k] * s.vx[k] + s.vy[k] * s.vy[k] + s.vz[k] * s.vz[k]);
    }
    const double target = 1.5 * static_cast<double>(n) * BOLTZMANN * o.temperature;
    if (kinetic > 0.0) {
        const double f = std::sqrt(target / kinetic);
        for (size_t k = 0; k < n; ++k) {
            s.vx[k] *= f;
            s.vy[k] *= f;
            s.vz[k] *= f;
        }
    }
}

InitialSystem buildInitialSystem(const InitOptions& o) {
    check(o.particles >= 1, "the number of particles must be at least 1");
    check(o.diameter > 0.0 && o.mass > 0.0, "diameter and mass must be positive");
    check(o.temperature >= 0.0, "the temperature must not be negative");
    check(o.fractionB >= 0.0 && o.fractionB <= 1.0, "the fraction of species b must lie between 0 and 1");
    check(o.walls == "periodic" || o.walls == "reflective" || o.walls == "diffusive",
          "walls must be periodic, reflective or diffusive");
    check(o.g == 0.0 || o.walls != "periodic", "gravity needs reflective or diffusive z walls");

    std::mt19937_64 rng(o.seed);
    InitialSystem s;
    assignSpecies(o, s, rng);
    double sphereVolume = 0.0;
    for (double d : s.diameter) sphereVolume += PI / 6.0 * d * d * d;
    double L = o.domainSize;
    if (L <= 0.0) {
        check(o.packingFraction > 0.0 && o.packingFraction < 0.74,
              "give a domain size, or a packing fraction between 0 and 0.74");
        L = std::cbrt(sphereVolume / o.packingFraction);
    }
    const double largestDiameter = *std::max_element(s.diameter.begin(), s.diameter.end());
    const double smallestDiameter = *std::min_element(s.diameter.begin(), s.diameter.end());
    placeOnLattice(o, s, L, largestDiameter, rng);
    drawVelocities(o, s, rng);

    const uint64_t maxCollisions = o.maxCollisions > 0 ? o.maxCollisions : 10 * static_cast<uint64_t>(o.particles);
    json c = json::object();
    c["mode"] = "init";
    c["log_animation"] = false;
    c["collision_progress_every"] = std::max<uint64_t>(1, std::min<uint64_t>(100000, maxCollisions / 10));
    c["reflective_z"] = o.walls != "periodic";
    c["g"] = o.g;
    c["domain_size"] = L;
    c["cells_per_dimension"] = fastestCellCount(L, largestDiameter, o.particles);
    c["num_molecules"] = o.particles;
    c["min_radius"] = smallestDiameter / 2.0;
    c["max_collision_count"] = maxCollisions;
    // hardgas's own defaults are made for long runs: a snapshot every N/20 collisions is twenty
    // copies of the system per collision per particle of the budget (a million collisions of
    // 4000 particles: 960 MB of state.bin), and the profiles begin after 5e7 collisions,
    // beyond most budgets. About a hundred snapshots, and profiles sampled about ninety times
    // over the last nine tenths of the run, fit every budget.
    const auto budget = static_cast<int64_t>(std::min<uint64_t>(maxCollisions, INT64_MAX));
    c["save_particles_state_every"] = std::max<int64_t>({o.particles / 20, 1, (budget + 99) / 100});
    c["stats_after"] = std::min<int64_t>(budget / 10, INT32_MAX);
    // Each profile pass brings every particle to the clock, so at large N the budget's cadence
    // alone would cost more than the collisions between passes: at N = 1,000,000 (packing
    // fraction 0.1, 2 M collisions, sampled throughout) a pass every 10,000 collisions made
    // the run take 30.5 s against 20.7 s with one every 100,000. At most one pass every N/10
    // collisions keeps it to a few per cent; below N = 100,000 the cadence is unchanged.
    c["stats_every"] = std::max<int64_t>(std::clamp<int64_t>(budget / 100, 1, 10000), o.particles / 10);
    if (o.walls == "diffusive") {
        c["diffusive_z"] = true;
        c["z_temperature"] = o.wallTemperature > 0.0 ? o.wallTemperature : o.temperature;
        // Replicas made with different seeds must differ in their wall noise too.
        c["wall_seed"] = o.seed;
    }
    for (const auto& [key, value] : o.extraConfig) c[key] = value;
    s.config = std::move(c);
    return s;
}

// One particle per line keeps large files compact and still readable.
static void writeParticleList(const std::string& path, size_t n, const std::function<json(size_t)>& entry) {
    std::ofstream out(path);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << "{\"particles\": [\n";
    for (size_t k = 0; k < n; ++k) out << entry(k).dump() << (k + 1 < n ? ",\n" : "\n");
    out << "]}\n";
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeSolutionFolder(const InitialSystem& s, const std::string& folder) {
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(folder + "/config.json");
        out << s.config.dump(4) << "\n";
        if (!out) throw std::runtime_error("cannot write " + folder + "/config.json");
    }
    const size_t n = s.species.size();
    writeParticleList(folder + "/particles_config.json", n, [&](size_t k) {
        return json{{"diameter", s.diameter[k]}, {"mass", s.mass[k]}, {"species", s.species[k]}};
    });
    writeParticleList(folder + "/particles_init.json", n, [&](size_t k) {
        return json{{"position", {s.x[k], s.y[k], s.z[k]}}, {"velocity", {s.vx[k], s.vy[k], s.vz[k]}}};
    });
}
