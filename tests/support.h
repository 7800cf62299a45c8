#pragma once
// Helpers shared by the tests: a clean process-wide state, hand-built particle systems,
// temporary solution folders and runs of the real binaries.

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "util/vec3.h"

namespace testing_support {

// Every subsystem back to its state at program start; outputs go to `folder`.
void resetAll(const std::string& folder = "temp");

// A box of edge L with n cells per axis for `count` particles; no output written during
// the run unless a test switches it on.
void setupBox(int32_t count, double L, int32_t cells, bool reflective = false, double g = 0.0);
void placeParticle(int32_t p, Vec3 position, Vec3 velocity, double radius, double mass, int32_t species = 0);
// Builds the species tables from the species array, as the species loader does.
void buildSpecies();
// Grid, cell lists and one predicted event per particle.
void startEngine();
// Processes events until `collisions` more collisions are done (or nothing can happen).
void runCollisions(uint64_t collisions);
// Processes exactly one current event and returns it.
struct ProcessedEvent {
    int32_t type;
    int32_t i, j;
    double time;
    uint64_t push = 0;
};
ProcessedEvent processNextCurrentEvent();

double kineticEnergy();
double potentialEnergy();  // m g z summed
Vec3 totalMomentum();

struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a command (argument vector, no shell interpretation of the arguments' content).
RunResult runCommand(const std::vector<std::string>& args);
RunResult runHardgas(const std::string& folder);
// hardgas-init with the given options into folder; fails the test when it fails.
void initFolder(const std::string& folder, const std::vector<std::string>& options);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
nlohmann::json readJson(const std::string& path);
void writeJson(const std::string& path, const nlohmann::json& value);
// Overwrites (or adds) keys of folder/config.json.
void setConfigKeys(const std::string& folder, const nlohmann::json& values);
uintmax_t fileSize(const std::string& path);
// A binary sample file as its doubles.
std::vector<double> readDoubles(const std::string& path);

}  // namespace testing_support
