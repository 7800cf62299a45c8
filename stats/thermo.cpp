#include "stats/thermo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <stdexcept>

#include "core/particles.h"
#include "core/prediction.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "util/file_output.h"
#include "util/random.h"

ThermoState thermo;

void resetThermo() { thermo = ThermoState{}; }

static int32_t speciesCount() { return speciesTables.numSpecies; }

// Nothing but the z walls, the metal plane and the thermostat acts on the gas from outside;
// without them the total momentum is conserved and three degrees of freedom are not thermal.
static bool momentumConserved() {
    return !config.reflective_z && !config.has_metal_z && !(config.thermostatted_a && speciesTables.multiSpecies);
}

struct GasState {
    double kinetic = 0.0, potential = 0.0, mass = 0.0;
    double momentum[3] = {};
    std::vector<double> speciesKinetic;  // relative to the gas's mean velocity when momentum is conserved
    double temperature = 0.0;
    std::vector<double> speciesTemperature;
};

// One pass over the particles; the energies relative to the mean velocity V follow from the
// sums: sum 1/2 m (v - V)^2 = K - V . P + 1/2 M V^2, per species as for the gas. Without
// gravity velocities do not change between events, so nothing is projected.
static GasState gasState() {
    GasState s;
    const int32_t n = particleCount();
    const auto species = static_cast<size_t>(speciesCount());
    std::vector<double> speciesMass(species, 0.0);
    std::vector<Vec3> speciesMomentum(species, Vec3{0.0, 0.0, 0.0});
    std::vector<int32_t> counts(species, 0);
    s.speciesKinetic.assign(species, 0.0);
    const bool gravity = config.g != 0.0;
    for (int32_t p = 0; p < n; ++p) {
        const auto up = static_cast<size_t>(p);
        const ParticleMotion& m = sim.motion[up];
        Vec3 v{m.velX, m.velY, m.velZ};
        if (gravity) {
            const ProjectedState now = projectToNow(p);
            v = now.velocity;
            s.potential += sim.mass[up] * config.g * now.position.z;
        }
        const double mass = sim.mass[up];
        const auto k = static_cast<size_t>(sim.species[up]);
        s.speciesKinetic[k] += 0.5 * mass * dot(v, v);
        speciesMomentum[k].x += mass * v.x;
        speciesMomentum[k].y += mass * v.y;
        speciesMomentum[k].z += mass * v.z;
        speciesMass[k] += mass;
        counts[k] += 1;
    }
    Vec3 momentum{0.0, 0.0, 0.0};
    for (size_t k = 0; k < species; ++k) {
        s.kinetic += s.speciesKinetic[k];
        momentum.x += speciesMomentum[k].x;
        momentum.y += speciesMomentum[k].y;
        momentum.z += speciesMomentum[k].z;
        s.mass += speciesMass[k];
    }
    s.momentum[0] = momentum.x;
    s.momentum[1] = momentum.y;
    s.momentum[2] = momentum.z;
    const bool conserved = momentumConserved();
    const Vec3 mean = conserved ? Vec3{momentum.x / s.mass, momentum.y / s.mass, momentum.z / s.mass}
                                : Vec3{0.0, 0.0, 0.0};
    double thermal = 0.0;
    for (size_t k = 0; k < species; ++k) {
        s.speciesKinetic[k] += -dot(mean, speciesMomentum[k]) + 0.5 * speciesMass[k] * dot(mean, mean);
        thermal += s.speciesKinetic[k];
    }
    const double freedom = 3.0 * n - (conserved ? 3.0 : 0.0);
    s.temperature = freedom > 0 ? 2.0 * thermal / (freedom * BOLTZMANN) : 0.0;
    for (size_t k = 0; k < species; ++k) {
        s.speciesTemperature.push_back(counts[k] > 0 ? 2.0 * s.speciesKinetic[k] / (3.0 * counts[k] * BOLTZMANN) : 0.0);
    }
    return s;
}

static void startInterval(double temperature) {
    const int32_t species = speciesCount();
    const auto keepSize = static_cast<size_t>(species) * static_cast<size_t>(species);
    thermo.intervalStartTime = sim.simulationTime;
    thermo.intervalStartCollisions = sim.collisionCount;
    thermo.intervalStartTemperature = temperature;
    thermo.virial = 0.0;
    for (double& w : thermo.wallMomentum) w = 0.0;
    for (double& h : thermo.wallHeat) h = 0.0;
    thermo.pairCollisions.assign(keepSize, 0);
}

void startThermoInterval() { startInterval(gasState().temperature); }

// The collisional virial: each collision adds r_ij . dp_i, with r_ij = r_i - r_j at contact
// and dp_i the momentum i gains; over an interval dt the pressure is n k T + W / (3 V dt).
void recordThermoCollision(const CollisionRecord& r) {
    const auto ui = static_cast<size_t>(r.i);
    const auto uj = static_cast<size_t>(r.j);
    const Vec3 dv = r.velIAfter - r.velIBefore;
    const Vec3 dr = r.contactI - r.contactJ;
    thermo.virial += sim.mass[ui] * dot(dr, dv);
    const int32_t a = sim.species[ui], b = sim.species[uj];
    const int32_t lo = a < b ? a : b, hi = a < b ? b : a;
    thermo.pairCollisions[static_cast<size_t>(lo * speciesCount() + hi)] += 1;
}

static bool isWallEvent(const Event& e) { return e.type == Land || e.type == Exit || e.type == MetalZ; }

void recordWallContactBefore(const Event& e) {
    if (!isWallEvent(e)) return;
    const ParticleMotion& m = sim.motion[static_cast<size_t>(e.i)];
    thermo.wallVelZ = m.velZ;
    thermo.wallKinetic = 0.5 * sim.mass[static_cast<size_t>(e.i)] * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ);
}

void recordWallContactAfter(const Event& e) {
    if (!isWallEvent(e)) return;
    const auto up = static_cast<size_t>(e.i);
    const ParticleMotion& m = sim.motion[up];
    const double mass = sim.mass[up];
    const double kinetic = 0.5 * mass * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ);
    // The floor pushes up: the momentum it takes is what the particle gains upwards; the
    // ceiling and the plane (met from below) push down.
    const double gainedUp = mass * (m.velZ - thermo.wallVelZ);
    const int wall = e.type == Land ? 0 : e.type == Exit ? 1 : 2;
    thermo.wallMomentum[wall] += wall == 0 ? gainedUp : -gainedUp;
    if (wall < 2) thermo.wallHeat[wall] += thermo.wallKinetic - kinetic;
}

static std::string speciesName(int32_t s) { return std::string(1, static_cast<char>('a' + s)); }

// Which columns a run has: the walls only when it has them, the species when there are several.
struct Columns {
    bool species, walls, heat, metal;
};
static Columns columns() {
    return Columns{speciesTables.multiSpecies, config.reflective_z, config.reflective_z && config.diffusive_z,
                   config.has_metal_z};
}

std::string thermoHeader() {
    const Columns c = columns();
    const int32_t species = speciesCount();
    std::string h = "collisions,time [s],";
    h += momentumConserved() ? "T (3N-3 degrees of freedom) [K]" : "T (3N degrees of freedom) [K]";
    if (c.species) {
        for (int32_t s = 0; s < species; ++s) h += ",T_" + speciesName(s) + " [K]";
    }
    h += ",kinetic energy [J],potential energy [J],momentum x [kg m/s],momentum y [kg m/s],momentum z [kg m/s]";
    h += ",pressure (virial) [Pa],Z";
    if (c.walls) h += ",pressure on floor [Pa],pressure on ceiling [Pa]";
    if (c.metal) h += ",pressure on metal plane [Pa]";
    if (c.heat) h += ",heat flux into floor [W/m^2],heat flux into ceiling [W/m^2]";
    for (int32_t s = 0; s < species; ++s) {
        for (int32_t t = 0; t < species; ++t) h += ",collision rate " + speciesName(s) + speciesName(t) + " [1/s]";
    }
    return h;
}

std::vector<double> thermoRow() {
    const Columns c = columns();
    const GasState s = gasState();
    const int32_t species = speciesCount();
    const double L = config.domain_size;
    const double volume = L * L * L, area = L * L;
    const double dt = sim.simulationTime - thermo.intervalStartTime;
    const double perTime = dt > 0.0 ? 1.0 / dt : 0.0;
    const double n = particleCount();
    // The kinetic part at the interval's mean temperature; exact where T cannot change.
    const double temperature = 0.5 * (thermo.intervalStartTemperature + s.temperature);
    const double ideal = n * BOLTZMANN * temperature;
    const double excess = thermo.virial * perTime / 3.0;
    std::vector<double> row = {static_cast<double>(sim.collisionCount), sim.simulationTime, s.temperature};
    if (c.species) row.insert(row.end(), s.speciesTemperature.begin(), s.speciesTemperature.end());
    row.insert(row.end(), {s.kinetic, s.potential, s.momentum[0], s.momentum[1], s.momentum[2]});
    row.push_back((ideal + excess) / volume);
    row.push_back(ideal > 0.0 ? 1.0 + excess / ideal : 0.0);
    if (c.walls) row.insert(row.end(), {thermo.wallMomentum[0] * perTime / area, thermo.wallMomentum[1] * perTime / area});
    if (c.metal) row.push_back(thermo.wallMomentum[2] * perTime / area);
    if (c.heat) row.insert(row.end(), {thermo.wallHeat[0] * perTime / area, thermo.wallHeat[1] * perTime / area});
    std::vector<int32_t> counts(static_cast<size_t>(species), 0);
    for (int32_t p = 0; p < particleCount(); ++p) counts[static_cast<size_t>(sim.species[static_cast<size_t>(p)])] += 1;
    for (int32_t a = 0; a < species; ++a) {
        for (int32_t b = 0; b < species; ++b) {
            const int32_t lo = a < b ? a : b, hi = a < b ? b : a;
            const double pairs = static_cast<double>(thermo.pairCollisions[static_cast<size_t>(lo * species + hi)]);
            // A collision within a species involves two of its particles.
            const double perParticle = counts[static_cast<size_t>(a)] > 0 ? (a == b ? 2.0 : 1.0) * pairs / counts[static_cast<size_t>(a)] : 0.0;
            row.push_back(perParticle * perTime);
        }
    }
    startInterval(s.temperature);
    return row;
}

double gasTemperature() { return gasState().temperature; }

static uint64_t fileSize(const std::string& path) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

void startThermoMeans(const std::string& path) {
    thermo.meansFromOffset = fileSize(path);
    thermo.meansFromCollisions = sim.collisionCount;
    thermo.meansFromTime = sim.simulationTime;
}

// The rows of path from the averaged stretch on, each with as many numbers as the header has
// columns; the header and anything malformed are passed over.
static std::vector<std::vector<double>> averagedRows(const std::string& path, size_t columns) {
    std::vector<std::vector<double>> rows;
    std::ifstream in(path, std::ios::binary);
    if (!in) return rows;
    in.seekg(static_cast<std::streamoff>(thermo.meansFromOffset));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<double> row;
        const char* text = line.c_str();
        while (true) {
            char* end = nullptr;
            const double value = std::strtod(text, &end);
            if (end == text) break;
            row.push_back(value);
            text = end;
            if (*text != ',') break;
            ++text;
        }
        if (row.size() == columns && *text == '\0') rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<ColumnMean> thermoRunMeans(const std::string& path) {
    std::vector<ColumnMean> means;
    std::vector<std::string> names;
    const std::string header = thermoHeader();
    for (size_t start = 0, comma; start <= header.size(); start = comma + 1) {
        comma = header.find(',', start);
        if (comma == std::string::npos) comma = header.size();
        names.push_back(header.substr(start, comma - start));
    }
    const std::vector<std::vector<double>> rows = averagedRows(path, names.size());
    if (rows.empty()) return means;
    const size_t blocks = rows.size() < 20 ? rows.size() : 20;
    for (size_t column = 2; column < names.size(); ++column) {  // the count and the clock are no observables
        double sum = 0.0, sumOfSquares = 0.0;
        for (size_t b = 0; b < blocks; ++b) {
            const size_t first = b * rows.size() / blocks, last = (b + 1) * rows.size() / blocks;
            double blockSum = 0.0;
            for (size_t r = first; r < last; ++r) blockSum += rows[r][column];
            const double blockMean = blockSum / static_cast<double>(last - first);
            sum += blockMean;
            sumOfSquares += blockMean * blockMean;
        }
        const double n = static_cast<double>(blocks);
        const double mean = sum / n;
        const double variance = n > 1 ? std::max(sumOfSquares / n - mean * mean, 0.0) * n / (n - 1) : 0.0;
        means.push_back({names[column], mean, rows.size() >= 4 ? std::sqrt(variance / n) : std::nan("")});
    }
    return means;
}

void appendThermoRow(const std::string& path) {
    std::error_code ec;
    const bool fresh = !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
    const std::vector<double> row = thermoRow();
    std::string text = fresh ? thermoHeader() + "\n" : "";
    char number[32];
    for (size_t k = 0; k < row.size(); ++k) {
        std::snprintf(number, sizeof number, k == 0 ? "%.0f" : "%.10g", row[k]);
        if (k > 0) text += ',';
        text += number;
    }
    text += "\n";
    if (!appendBinary(path, [&](std::ostream& out) { out << text; })) {
        throw std::runtime_error("Failed to open file: " + path);
    }
}
