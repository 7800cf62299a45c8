// hardgas-init: writes the three input files of a valid starting state into a folder.

#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/init/initial_system.h"

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
    app.add_option("--max-collisions", o.maxCollisions, "Collision budget (default: ten per particle)");
    app.add_option("--set", settings, "Further config.json key, as KEY=JSON (repeatable), e.g. --set log_state=false");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 1;
    }
    try {
        if (o.domainSize <= 0.0 && o.packingFraction <= 0.0) {
            throw std::invalid_argument("give --packing-fraction or --domain-size");
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
            o.extraConfig[setting.substr(0, eq)] = value;
        }
        const InitialSystem system = buildInitialSystem(o);
        writeSolutionFolder(system, folder);
        std::cout << "Wrote " << o.particles << " particles in a box of " << system.config["domain_size"].get<double>()
                  << " m with " << system.config["cells_per_dimension"].get<int>() << " cells per axis to " << folder
                  << "\n";
    } catch (const std::exception& e) {
        std::cerr << "hardgas-init: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
