#include "tests/support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/entry.h"
#include "app/run.h"
#include "core/cells.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/processing.h"
#include "core/simulation_config.h"
#include "core/species.h"
#include "util/file_output.h"

namespace testing_support {

void resetAll(const std::string& folder) {
    resetProgramState();
    solutionFolder = folder;
}

void setupBox(int32_t count, double L, int32_t cells, bool reflective, double g) {
    config.mode = "init";
    config.domain_size = L;
    config.cells_per_dimension = cells;
    config.cellSize = L / cells;
    config.num_molecules = count;
    config.reflective_z = reflective;
    config.g = g;
    config.max_collision_count = UINT64_MAX;
    config.collision_progress_every = UINT64_MAX;
    config.save_last_state_every = INT32_MAX;
    config.log_state = false;
    config.log_thermo = false;
    config.purge_queue_above = 1.2;
    resizeParticleStore(count);
}

void placeParticle(int32_t p, Vec3 position, Vec3 velocity, double radius, double mass, int32_t species) {
    ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    m.posX = position.x;
    m.posY = position.y;
    m.posZ = position.z;
    m.velX = velocity.x;
    m.velY = velocity.y;
    m.velZ = velocity.z;
    m.radius = radius;
    sim.mass[static_cast<size_t>(p)] = mass;
    sim.species[static_cast<size_t>(p)] = species;
}

void buildSpecies() { buildSpeciesTables(); }

void startEngine() {
    connectOutputs();
    initCells();
    assignParticlesToCells();
    for (int32_t p = 0; p < particleCount(); ++p) predictNextEvent(p);
}

void runCollisions(uint64_t collisions) {
    const uint64_t target = sim.collisionCount + collisions;
    Event event;
    while (sim.collisionCount < target) {
        const StepResult step = processNextEvent(event);
        if (step == StepResult::QueueEmpty || step == StepResult::NoFurtherEvent) return;
    }
}

ProcessedEvent processNextCurrentEvent() {
    Event event;
    for (;;) {
        const StepResult step = processNextEvent(event);
        if (step == StepResult::Processed) return ProcessedEvent{event.type, event.i, event.j, event.time, event.push};
        if (step == StepResult::QueueEmpty || step == StepResult::NoFurtherEvent) break;
    }
    ADD_FAILURE() << "no event can happen any more";
    return ProcessedEvent{-1, -1, -1, NEVER};
}

// Sums of m * f(motion) over all particles, at the clock.
template <typename F>
static double massWeightedSum(F f) {
    advanceAllParticles();
    double sum = 0.0;
    for (size_t p = 0; p < sim.motion.size(); ++p) sum += sim.mass[p] * f(sim.motion[p]);
    return sum;
}

double kineticEnergy() {
    return massWeightedSum([](const ParticleMotion& m) { return 0.5 * (m.velX * m.velX + m.velY * m.velY + m.velZ * m.velZ); });
}

double potentialEnergy() {
    return massWeightedSum([](const ParticleMotion& m) { return config.g * m.posZ; });
}

Vec3 totalMomentum() {
    return {massWeightedSum([](const ParticleMotion& m) { return m.velX; }),
            massWeightedSum([](const ParticleMotion& m) { return m.velY; }),
            massWeightedSum([](const ParticleMotion& m) { return m.velZ; })};
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hardgas-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

static std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

RunResult runCommand(const std::vector<std::string>& args) {
    TempDir capture;
    std::string command;
    for (const std::string& a : args) command += shellQuote(a) + " ";
    command += ">" + shellQuote(capture.file("out")) + " 2>" + shellQuote(capture.file("err")) + " </dev/null";
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(capture.file("out"));
    result.err = readFile(capture.file("err"));
    return result;
}

RunResult runHardgas(const std::string& folder) { return runCommand({HARDGAS_BINARY, folder}); }

void initFolder(const std::string& folder, const std::vector<std::string>& options) {
    std::vector<std::string> args{HARDGAS_INIT_BINARY, folder};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = runCommand(args);
    ASSERT_EQ(r.status, 0) << r.err;
}

void setConfigKeys(const std::string& folder, const nlohmann::json& values) {
    nlohmann::json c = readJson(folder + "/config.json");
    c.update(values);
    writeJson(folder + "/config.json", c);
}

std::vector<double> readDoubles(const std::string& path) {
    const std::string bytes = readFile(path);
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

nlohmann::json readJson(const std::string& path) { return nlohmann::json::parse(readFile(path)); }

void writeJson(const std::string& path, const nlohmann::json& value) { writeFile(path, value.dump(4)); }

uintmax_t fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

}  // namespace testing_support
