// hardgas-init: writes the three input files of a valid starting state into a folder.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "app/config.h"
#include "tools/init/initial_system.h"

// A mistyped key or a value of the wrong type or range would otherwise surface only when
// hardgas refuses the folder, or, for an unknown key, never: the run would use the default.
static void checkSetting(const std::string& name, const nlohmann::json& value) {
    const auto keys = configKeys();
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const ConfigKey& k) { return name == k.name; });
    if (key == keys.end()) throw std::invalid_argument("--set " + unknownKeyText(name));
    SimulationConfig scratch;
    try {
        readConfigKey(nlohmann::json{{name, value}}, *key, scratch);
    } catch (const InputError& e) {
        throw std::invalid_argument(std::string("--set ") + e.what());
    }
}

// More than this on disk is refused without --force: a cadence meant for a short test run,
// given a production budget, fills a disk overnight.
static constexpr double DISK_LIMIT = 10e9;

static std::string sizeText(double bytes) {
    std::ostringstream text;
    text << std::setprecision(3) << (bytes >= 1e9 ? bytes / 1e9 : bytes / 1e6) << (bytes >= 1e9 ? " GB" : " MB");
    return text.str();
}

// The run's outputs for the whole budget, as the key table reads the config.json to be
// written: the total and a line that names the files.
static std::pair<double, std::string> diskEstimate(const nlohmann::json& doc) {
    SimulationConfig c;
    for (const ConfigKey& key : configKeys()) readConfigKey(doc, key, c);
    if (!doc.contains("save_particles_state_every")) c.save_particles_state_every = std::max(c.num_molecules / 20, 1);
    if (!doc.contains("thermo_every")) c.thermo_every = static_cast<uint64_t>(c.num_molecules);
    double total = 0.0;
    std::string parts;
    for (const auto& [file, bytes] : estimatedOutputBytes(c)) {
        total += bytes;
        parts += (parts.empty() ? "" : ", ") + file + " " + sizeText(bytes);
    }
    return {total, "Disk: about " + sizeText(total) + " of outputs for the budget" +
                       (parts.empty() ? "" : " (" + parts + ")")};
}

// The cadences that decide how much the run writes and what it samples, as the run will use
// them (a --set may have replaced the defaults), so that a budget's consequences are seen
// before hours are spent on it.
static void printSchedule(const nlohmann::json& c) {
    if (!c["max_collision_count"].is_number_unsigned()) return;  // a --set that hardgas will refuse
    const auto budget = c["max_collision_count"].get<uint64_t>();
    std::cout << "Budget: max_collision_count = " << budget << " collisions\n";
    const nlohmann::json& every = c["save_particles_state_every"];
    if (c.value("log_state", nlohmann::json(true)) != false && every.is_number_integer() && every.get<int64_t>() > 0) {
        const uint64_t snapshots = budget / every.get<uint64_t>() + 1;
        const double bytes = static_cast<double>(snapshots) * 8.0 * (1.0 + 6.0 * c["num_molecules"].get<double>());
        std::cout << "Snapshots: save_particles_state_every = " << every << " collisions (about " << snapshots
                  << " snapshots, " << std::setprecision(3) << bytes / 1e6 << " MB in state.bin)\n";
    }
    std::cout << "Height profiles: stats_after = " << c["stats_after"] << ", stats_every = " << c["stats_every"]
              << " collisions\n";
    std::cout << "Change any of them with --set KEY=VALUE.\n";
}

int main(int argc, char** argv) {
    CLI::App app{"Writes config.json, particles_config.json and particles_init.json of a hard-sphere gas "
                 "ready for hardgas: spheres on a lattice, Maxwell-Boltzmann velocities with zero total momentum."};
    InitOptions o;
    std::string folder;
    std::vector<std::string> settings;
    app.add_option("folder", folder, "Solution folder to write (created when missing)")->required();
    app.add_option("-n,--particles", o.particles, "Number of particles")->required()->check(CLI::PositiveNumber);
    auto* phi = app.add_option("-p,--packing-fraction", o.packingFraction, "Volume fraction of the spheres");
    auto* size = app.add_option("-L,--domain-size", o.domainSize, "Edge length of the cubic domain (m)");
    phi->excludes(size);
    app.add_option("-d,--diameter", o.diameter, "Diameter of species a (m)")->capture_default_str();
    app.add_option("-m,--mass", o.mass, "Mass of species a (kg)")->capture_default_str();
    app.add_option("-T,--temperature", o.temperature, "Gas temperature (K)")->capture_default_str();
    app.add_option("--fraction-b", o.fractionB, "Share of particles of species b (0 to 1)")->capture_default_str();
    app.add_option("--diameter-b", o.diameterB, "Diameter of species b (m; default: that of a)");
    app.add_option("--mass-b", o.massB, "Mass of species b (kg; default: that of a)");
    app.add_option("--walls", o.walls, "z boundaries: periodic, reflective or diffusive")
        ->check(CLI::IsMember({"periodic", "reflective", "diffusive"}))
        ->capture_default_str();
    app.add_option("--wall-temperature", o.wallTemperature, "Temperature of diffusive walls (K; default: gas)");
    app.add_option("-g,--gravity", o.g, "Gravitational acceleration along -z (m/s^2; needs walls)");
    app.add_option("--seed", o.seed, "Seed of the random placement and velocities")->capture_default_str();
    auto* budget = app.add_option("--max-collisions", o.maxCollisions, "Collision budget (default: ten per particle)");
    app.add_option("--set", settings, "Further config.json key, as KEY=JSON (repeatable), e.g. --set log_state=false");
    bool force = false;
    app.add_flag("--force", force, "Write the folder even when its outputs would take more than 10 GB");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 1;
    }
    try {
        if (o.domainSize <= 0.0 && o.packingFraction <= 0.0) {
            throw std::invalid_argument("give --packing-fraction or --domain-size");
        }
        // 0 stands for "not given" inside; given, it would silently become the default budget.
        if (budget->count() > 0 && o.maxCollisions == 0) {
            throw std::invalid_argument("--max-collisions must be at least 1 (leave it out for ten per particle)");
        }
        for (const std::string& setting : settings) {
            const auto eq = setting.find('=');
            if (eq == std::string::npos || eq == 0) throw std::invalid_argument("--set expects KEY=JSON, got " + setting);
            nlohmann::json value;
            try {
                value = nlohmann::json::parse(setting.substr(eq + 1));
            } catch (const nlohmann::json::exception&) {
                value = setting.substr(eq + 1);  // a bare word is taken as a string
            }
            checkSetting(setting.substr(0, eq), value);
            o.extraConfig[setting.substr(0, eq)] = value;
        }
        const InitialSystem system = buildInitialSystem(o);
        const auto [diskBytes, diskLine] = diskEstimate(system.config);
        if (diskBytes > DISK_LIMIT && !force) {
            throw std::invalid_argument("the outputs would take about " + sizeText(diskBytes) +
                                        " on disk, more than 10 GB: lower the cadences or the budget, or pass --force");
        }
        writeSolutionFolder(system, folder);
        std::cout << "Wrote " << o.particles << " particles in a box of " << system.config["domain_size"].get<double>()
                  << " m with " << system.config["cells_per_dimension"].get<int>() << " cells per axis to " << folder
                  << "\n";
        printSchedule(system.config);
        std::cout << diskLine << "\n";
    } catch (const std::exception& e) {
        std::cerr << "hardgas-init: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
