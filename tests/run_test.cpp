// Whole runs of the real binary: how a run ends, continuing it, steering it through
// alter.json, and what it leaves behind when it is killed or the disk fills up. The bytes of
// ordinary runs are pinned by the golden test; these are the paths it does not take.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "app/alterations.h"
#include "app/config.h"
#include "core/particles.h"
#include "stats/collision_stats.h"
#include "tests/support.h"
#include "util/format.h"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

extern char** environ;

namespace {

constexpr int32_t N = 64;
constexpr uint64_t RECORD = sizeof(double) * (1 + 6 * N);

// Snapshots, restart saves, profiles and samples all written every few tens of collisions,
// at cadences that do not divide each other, so that a kill can land inside any write.
void makeBusyRun(const std::string& folder, uint64_t collisions, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> options = {
        "-n", std::to_string(N), "-p", "0.1", "--seed", "8", "--max-collisions", std::to_string(collisions),
        "--set", "save_last_state_every=50", "--set", "save_particles_state_every=10", "--set",
        "flush_state_buffer_every=30", "--set", "stats_after=0", "--set", "stats_every=10", "--set",
        "flush_stats_every=40", "--set", "sample_collision_angle=true", "--set",
        "flush_collision_angle_buffer_every=20", "--set", "log_free_path=true", "--set",
        "collision_progress_every=1000000"};
    options.insert(options.end(), extra.begin(), extra.end());
    initFolder(folder, options);
}

void continueTo(const std::string& folder, uint64_t collisions) {
    setConfigKeys(folder, {{"mode", "continue"}, {"max_collision_count", collisions}});
}

uint64_t savedCollisions(const std::string& folder) {
    return readJson(folder + "/last_state.json")["collision_count"];
}

// Half the particles of species b, under the thermostat, with species a at `kelvin`.
void thermostatAt(const TempDir& d, double kelvin) {
    setConfigKeys(d.path, {{"thermostatted_a", true}});
    json species = readJson(d.file("particles_config.json")), init = readJson(d.file("particles_init.json"));
    double energy = 0;
    for (size_t k = 0; k < init["particles"].size(); k += 2) {
        species["particles"][k + 1]["species"] = 1;
        const std::vector<double> v = init["particles"][k]["velocity"];
        energy += 0.5 * species["particles"][k]["mass"].get<double>() * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
    const double scale = std::sqrt(N / 2 * 1.5 * 1.380649e-23 * kelvin / energy);
    for (size_t k = 0; k < init["particles"].size(); k += 2) {
        for (json& c : init["particles"][k]["velocity"]) c = c.get<double>() * scale;
    }
    writeJson(d.file("particles_config.json"), species);
    writeJson(d.file("particles_init.json"), init);
}

TEST(RunTest, UnusualEndings) {
    const RunResult usage = runCommand({HARDGAS_BINARY});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err, std::string("Usage: ") + HARDGAS_BINARY + " <solutionFolder>\n");
    const RunResult version = runCommand({HARDGAS_BINARY, "--version"}), help = runCommand({HARDGAS_BINARY, "--help"});
    EXPECT_EQ(std::make_tuple(version.status, version.out.starts_with("hardgas "), help.status, help.err),
              std::make_tuple(0, true, 0, std::string()));
    EXPECT_TRUE(help.out.starts_with(std::string("Usage: ") + HARDGAS_BINARY + " <solutionFolder>\n")) << help.out;

    struct Case {
        const char* name;
        std::function<void(const TempDir&)> prepare;
        int status;
        std::string out, err;  // expected within standard output and standard error
        std::string notErr = "Warning";  // and not within standard error
    };
    const Case cases[] = {
        {"nothing can happen",
         [](const TempDir& d) {
             json init = readJson(d.file("particles_init.json"));
             for (json& p : init["particles"]) p["velocity"] = {0.0, 0.0, 0.0};
             writeJson(d.file("particles_init.json"), init);
         },
         0, "No further event can happen (every particle's next event lies at infinite time); ending the run.\n", ""},
        {"an earlier output that cannot be removed",
         [](const TempDir& d) { fs::create_directories(d.file("state.bin/inside")); }, 1,
         " is locked by another process.\n", ""},
        {"a restart file that cannot be written",
         [](const TempDir& d) { fs::create_directories(d.file("last_state.json.tmp")); }, 1, "",
         "Failed to open file for writing: "},
        {"a snapshot descriptor that cannot be written",
         [](const TempDir& d) { fs::create_directories(d.file("state.json.tmp")); }, 1, "",
         "\nERROR: Failed to open file for writing: "},
        {"intervals of switched-off features may be zero",
         [](const TempDir& d) {
             setConfigKeys(d.path, {{"log_state", false}, {"save_particles_state_every", 0},
                                    {"flush_pca_buffer_every", 0}});
         },
         0, "", ""},
        {"a stop left in alter.json", [](const TempDir& d) { writeFile(d.file("alter.json"), R"({"stop": true})"); }, 0, "",
         "/alter.json still asks for a stop (\"stop\": true): this run will stop when it first reads the file, at the "
         "next collision count divisible by check_alter_every (1000000); remove the key or set it to false to run on.\n",
         "species a starts"},
        {"a mistyped key in config.json", [](const TempDir& d) { setConfigKeys(d.path, {{"stats_evry", 5}}); }, 0, "",
         "/config.json: key \"stats_evry\" is not known; did you mean \"stats_every\"? It is ignored.\n", "stop"},
        {"alter.json without a stop", [](const TempDir& d) { writeFile(d.file("alter.json"), R"({"stop": false})"); }, 0,
         "", ""},
        {"species a away from the thermostat's energy", [](const TempDir& d) { thermostatAt(d, 276.0); }, 0, "",
         "Warning: species a starts with a mean kinetic energy of 5.72e-21 J per particle (3/2 k x 276.0 K), 1.0 % above "
         "the 3/2 k x 273.15 K per particle that the species-a thermostat takes as species a's energy",
         "still asks for a stop"},
        {"species a 1.2 % below the thermostat's energy", [](const TempDir& d) { thermostatAt(d, 269.9); }, 0, "",
         "(3/2 k x 269.9 K), 1.2 % below the 3/2 k x 273.15 K", "still asks for a stop"},
        {"species a within 1 % of the thermostat's energy", [](const TempDir& d) { thermostatAt(d, 275.8); }, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        makeBusyRun(dir.path, 200);
        c.prepare(dir);
        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(c.notErr), std::string::npos) << r.err;
    }
}

// Off a terminal the console is the same bytes on any machine; on one the progress line also
// tells the rate and the time left. NO_COLOR takes every colour out.
TEST(RunTest, ConsoleFollowsTheTerminalAndNoColor) {
    TempDir dir;
    makeBusyRun(dir.path, 200);
    setConfigKeys(dir.path, {{"collision_progress_every", 50}});
    const RunResult plain = runHardgas(dir.path);
    const RunResult terminal = runCommand({"script", "-qec", std::string(HARDGAS_BINARY) + " '" + dir.path + "'", "/dev/null"});
    setenv("NO_COLOR", "1", 1);
    const RunResult uncoloured = runHardgas(dir.path);
    unsetenv("NO_COLOR");
    EXPECT_EQ(std::make_tuple(plain.status, terminal.status, uncoloured.status), std::make_tuple(0, 0, 0));
    EXPECT_EQ(plain.out.find(" left"), std::string::npos);
    EXPECT_NE(terminal.out.find(" collisions/s  t = "), std::string::npos) << terminal.out;
    EXPECT_NE(plain.out.find("\033["), std::string::npos);
    EXPECT_EQ(uncoloured.out.find("\033["), std::string::npos);
    EXPECT_NE(uncoloured.out.find("Collisions done: 200"), std::string::npos);
}

// Every binary output under the folder, and state.json, by path.
std::map<std::string, std::string> appendedOutputs(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && (entry.path().extension() == ".bin" || entry.path().filename() == "state.json")) {
            found[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
        }
    }
    return found;
}

// A fresh run in the folder of an earlier one starts every appended output from nothing, the
// samples under free/ and velocity/ too, so the same run twice leaves the same bytes. One
// output that cannot be removed refuses the start before any other is removed.
TEST(RunTest, FreshRunStartsEveryAppendedOutputAfresh) {
    TempDir dir;
    makeBusyRun(dir.path, 200);
    setConfigKeys(dir.path, {{"log_velocity", true}, {"log_collision_velocity", true}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const auto first = appendedOutputs(dir.path);
    ASSERT_TRUE(first.contains("free/free_path.bin") && first.contains("velocity/velocity_x.bin"));
    const RunResult again = runHardgas(dir.path);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(appendedOutputs(dir.path) == first) << "the second run appended to the first one's outputs";
    EXPECT_NE(again.out.find("Removed the samples of an earlier run: free/free_path.bin, free/free_time.bin, "),
              std::string::npos)
        << again.out;

    for (const char* blocked : {"state.json", "velocity/velocity_z.bin"}) {
        SCOPED_TRACE(blocked);
        fs::remove(dir.file(blocked));
        fs::create_directories(dir.file(blocked) + "/inside");
        const RunResult refused = runHardgas(dir.path);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.out.find("ERROR: " + dir.file(blocked) + " is locked by another process.\n"),
                  std::string::npos)
            << refused.out;
        auto expected = first;
        expected.erase(blocked);
        EXPECT_TRUE(appendedOutputs(dir.path) == expected) << "the refused start removed outputs";
        fs::remove_all(dir.file(blocked));
        ASSERT_EQ(runHardgas(dir.path).status, 0);
    }
}

// Restoring a saved state and saving it at once reproduces the files byte for byte, the
// thermal walls' generator included; a resume.json of another restart point is refused. The
// run ends on a snapshot count, so its end adds no second snapshot of the same instant, and
// neither does the continuation that ends at once.
TEST(RunTest, RestartFileRoundTripsExactly) {
    TempDir dir;
    makeBusyRun(dir.path, 300, {"--walls", "diffusive"});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(readJson(dir.file("state.json"))["states_saved"], 30);
    EXPECT_EQ(fileSize(dir.file("state.bin")), 30 * RECORD);
    const std::string saved = readFile(dir.file("last_state.json"));
    const std::string resume = readFile(dir.file("resume.json"));
    continueTo(dir.path, 300);  // the budget is spent: the run ends at once
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.file("last_state.json")), saved);
    EXPECT_EQ(fileSize(dir.file("state.bin")), 30 * RECORD);
    // The record says the same of every output; only the angle windows and the push counter moved on.
    EXPECT_EQ(readJson(dir.file("resume.json"))["records"][0]["outputs"], json::parse(resume)["records"][0]["outputs"]);

    json other = readJson(dir.file("resume.json"));
    other["records"][0]["collision_count"] = 299;
    writeJson(dir.file("resume.json"), other);
    const RunResult unmatched = runHardgas(dir.path);
    EXPECT_EQ(unmatched.status, 1);
    EXPECT_NE(unmatched.err.find("Error in " + dir.file("resume.json") + ": it holds no record of the restart point of " +
                                 dir.file("last_state.json") + " (collision 300, runtime "),
              std::string::npos)
        << unmatched.err;
    EXPECT_EQ(readFile(dir.file("last_state.json")), saved);
}

// 600 collisions straight against 300 + 300 with a restart between: the continued run
// rebuilds its queue from the saved state, so only rounding may differ.
TEST(RunTest, SplitRunFollowsTheStraightRun) {
    TempDir straight, split;
    makeBusyRun(straight.path, 600);
    makeBusyRun(split.path, 300);
    ASSERT_EQ(runHardgas(straight.path).status, 0);
    ASSERT_EQ(runHardgas(split.path).status, 0);
    continueTo(split.path, 600);
    const RunResult r = runHardgas(split.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" with 300 done collisions.\n"), std::string::npos);

    const json a = readJson(straight.file("last_state.json"));
    const json b = readJson(split.file("last_state.json"));
    EXPECT_EQ(a["collision_count"], b["collision_count"]);
    EXPECT_NEAR(a["runtime"].get<double>(), b["runtime"].get<double>(), 1e-9 * a["runtime"].get<double>());
    const double L = readJson(straight.file("config.json"))["domain_size"];
    for (const char* key : {"posX", "posY", "posZ", "velX", "velY", "velZ"}) {
        const double scale = key[0] == 'p' ? L : 400.0;
        for (size_t p = 0; p < N; ++p) {
            double d = std::fabs(a[key][p].get<double>() - b[key][p].get<double>());
            if (key[0] == 'p') d = std::min(d, L - d);  // the same point across the periodic boundary
            EXPECT_LT(d, 1e-6 * scale) << key << " " << p;
        }
    }
    EXPECT_EQ(fileSize(split.file("state.bin")), fileSize(straight.file("state.bin")));
}

// One long run of 600 collisions against the same run stopped and continued at 200 and 400.
// The angle window covers the whole run, so the pieces sample every collision the long
// run samples; the continued runs only round differently, too little to move an angle
// across a bin edge in so short a run. Between thermal walls the pieces must also draw the
// long run's random numbers, not the first piece's again: the same generator state at the
// end, and particles that stay on the long run's track (the rounding of the continuations
// grows to about 1e-3 m/s by the end; other wall noise changes velocities by their size).
TEST(RunTest, RunContinuedInPiecesEndsWithTheOutputsOfOneLongRun) {
    const std::vector<std::string> angles = {"--set", "sample_scattering_angle=true", "--set",
                                             "save_scattering_angle_every=70"};
    std::vector<std::string> walls = angles;
    walls.insert(walls.end(), {"--walls", "diffusive", "--wall-temperature", "500", "-g", "1e13"});
    struct Case {
        const char* name;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"periodic gas", angles},
        {"gravity column between thermal walls", walls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir straight, pieces;
        makeBusyRun(straight.path, 600, c.options);
        makeBusyRun(pieces.path, 200, c.options);
        ASSERT_EQ(runHardgas(straight.path).status, 0);
        for (uint64_t budget : {200, 400, 600}) {
            continueTo(pieces.path, budget);
            if (budget == 200) setConfigKeys(pieces.path, {{"mode", "init"}});
            const RunResult r = runHardgas(pieces.path);
            ASSERT_EQ(r.status, 0) << r.err;
        }
        for (const char* name : {"scattering_ab.json", "scattering_ab_gain.json", "scattering_ab_loss.json",
                                 "scattering_aa.json", "scattering_bb.json", "approach_ab.json", "approach_aa.json",
                                 "approach_bb.json"}) {
            const json expected = readJson(straight.file(name));
            EXPECT_TRUE(readJson(pieces.file(name)) == expected) << name;
        }
        EXPECT_EQ(readJson(pieces.file("scattering_aa.json"))["num_instances"], 600);
        const json a = readJson(straight.file("resume.json"));
        const json b = readJson(pieces.file("resume.json"));
        EXPECT_EQ(a["records"][0]["wall_random"], b["records"][0]["wall_random"]);
        const json endA = readJson(straight.file("last_state.json"));
        const json endB = readJson(pieces.file("last_state.json"));
        for (const char* key : {"velX", "velY", "velZ"}) {
            for (size_t p = 0; p < N; ++p) {
                EXPECT_NEAR(endA[key][p].get<double>(), endB[key][p].get<double>(), 1.0) << key << " " << p;
            }
        }
    }
}

// One poll of alter.json on a loaded configuration.
class AlterationTest : public ::testing::Test {
   protected:
    void SetUp() override {
        resetAll(dir.path);
        config.max_collision_count = 1000000;
        config.collision_progress_every = 1000;
        config.save_particles_state_every = 40;
        config.flush_state_buffer_every = 40;
        config.profile_num_bins = 4;
        config.domain_size = 1.0;
        config.min_radius = 0.1;
        buildAccumulators();
    }
    std::string poll(const std::string& text) {
        writeFile(dir.file("alter.json"), text);
        ::testing::internal::CaptureStderr();
        applyAlterations();
        return ::testing::internal::GetCapturedStderr();
    }
    TempDir dir;
};

TEST_F(AlterationTest, AlterableKeysAreAppliedAndNoOthers) {
    SimulationConfig expected = config;
    expected.save_last_state_every = 11;
    expected.stats_after = 12;
    expected.stats_every = 13;
    expected.species_stats_after = 14;
    expected.species_stats_every = 15;
    expected.flush_species_stats_every = 16;
    expected.flush_stats_every = 17;
    expected.log_state = false;
    expected.save_particles_state_every = 18;
    expected.flush_state_buffer_every = 19;
    expected.purge_queue_above = 2.5;
    expected.sample_pca_after = 20;
    expected.sample_pca_until = 21;
    expected.flush_pca_buffer_every = 22;
    expected.sample_collision_angle = true;
    expected.sample_collision_angle_after = 23;
    expected.sample_collision_angle_until = 24;
    expected.flush_collision_angle_buffer_every = 25;
    EXPECT_EQ(poll(R"({"save_last_state_every": 11, "stats_after": 12, "stats_every": 13, "species_stats_after": 14,
        "species_stats_every": 15, "flush_species_stats_every": 16, "flush_stats_every": 17, "log_state": false,
        "save_particles_state_every": 18, "flush_state_buffer_every": 19, "purge_queue_above": 2.5,
        "sample_pca_after": 20, "sample_pca_until": 21, "flush_pca_buffer_every": 22, "sample_collision_angle": true,
        "sample_collision_angle_after": 23, "sample_collision_angle_until": 24,
        "flush_collision_angle_buffer_every": 25, "g": 3.0, "check_alter_every": 7, "sample_pca": true,
        "mode": "init", "stop": true})"),
              "");
    EXPECT_TRUE(config == expected);
    EXPECT_TRUE(alterations.stopRequested);
    EXPECT_EQ(poll(R"({"stop": false})"), "");
    EXPECT_FALSE(alterations.stopRequested);

    // The flush interval follows a larger snapshot interval.
    EXPECT_EQ(poll(R"({"save_particles_state_every": 100, "flush_state_buffer_every": 10})"), "");
    EXPECT_EQ(config.flush_state_buffer_every, 100);

    // An interval that only matters once its feature is switched on is checked then.
    config.sample_collision_angle = false;
    config.flush_collision_angle_buffer_every = 0;
    const SimulationConfig before = config;
    EXPECT_NE(poll(R"({"sample_collision_angle": true})").find("\"flush_collision_angle_buffer_every\" is a "),
              std::string::npos);
    EXPECT_TRUE(config == before);
}

// 2,000 particles, a snapshot every collision: the buffer holds what the run can still
// take before its next flush or its end, not a flush interval's worth it never reaches.
TEST_F(AlterationTest, SnapshotBufferIsBoundedByTheCollisionsLeft) {
    config.num_molecules = 2000;
    config.log_state = true;
    const std::string everyCollision = R"({"save_particles_state_every": 1, "flush_state_buffer_every": 2000000000})";
    config.max_collision_count = 100;
    EXPECT_EQ(poll(everyCollision), "");
    EXPECT_EQ(config.flush_state_buffer_every, 2000000000);
    config.max_collision_count = 4000000000;
    sim.collisionCount = config.max_collision_count - 100;
    EXPECT_EQ(poll(everyCollision), "");
    sim.collisionCount = 0;
    EXPECT_NE(poll(everyCollision).find("2000000000 snapshots held between flushes"), std::string::npos);
}

TEST(SteeringRunTest, StopRequestEndsTheRunCleanlyAndTheRunCanBeContinued) {
    TempDir dir;
    initFolder(dir.path, {"-n", "200", "-p", "0.1", "--max-collisions", "100000000"});
    setConfigKeys(dir.path, {{"check_alter_every", 500}, {"log_state", false}});
    writeFile(dir.file("alter.json"), R"({"stop": true})");
    const RunResult stopped = runHardgas(dir.path);
    ASSERT_EQ(stopped.status, 0) << stopped.err;
    EXPECT_NE(stopped.out.find(std::string(RED) + "\nStopping..." + RESET), std::string::npos);
    const std::string done = std::string(RED) + " Done.\n" + RESET;  // after the end-of-run files
    EXPECT_EQ(stopped.out.substr(stopped.out.size() - done.size()), done);
    const uint64_t count = savedCollisions(dir.path);
    EXPECT_EQ(count % 500, 0u);
    EXPECT_LT(count, 100000000u);

    continueTo(dir.path, count + 3000);
    fs::remove(dir.file("alter.json"));
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(savedCollisions(dir.path), count + 3000);
}

// A continued run from 1234 collisions with polls every 1000 reads alter.json first at
// 2000: the collision-angle samples up to 2000 are all there and none after it, and the
// profile reset at 2000 leaves only the passes at 2100 ... 2900.
TEST(SteeringRunTest, ChangesTakeEffectAtThePollAndNotBefore) {
    TempDir dir;
    initFolder(dir.path, {"-n", "100", "-p", "0.1", "--max-collisions", "1234"});
    setConfigKeys(dir.path, {{"check_alter_every", 1000}, {"log_state", false}, {"sample_collision_angle", true},
                             {"sample_collision_angle_until", 1000000000}, {"flush_collision_angle_buffer_every", 100},
                             {"stats_after", 0}, {"stats_every", 100}, {"flush_stats_every", 100}});
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    EXPECT_EQ(readJson(dir.file("log_profile.json"))["num_instances"], 12);

    continueTo(dir.path, 2900);
    writeFile(dir.file("alter.json"), R"({"sample_collision_angle": false, "reset_stats": false})");
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const std::vector<double> records = readDoubles(dir.file("collision_angle.bin"));
    ASSERT_EQ(records.size(), 6u * 2000);
    for (size_t k = 0; k < 2000; ++k) ASSERT_EQ(records[6 * k], double(k + 1));
    for (const char* name : {"log_profile.json", "linear_profile.json"}) {
        const json profile = readJson(dir.file(name));
        EXPECT_EQ(profile["num_instances"], 9) << name;
        uint64_t counted = 0;
        for (uint64_t n : profile["counts"]) counted += n;
        EXPECT_EQ(counted, 9u * 100) << name;
    }
}

// Starts hardgas on folder with its console thrown away, sends it `signal` after `delay`, and
// returns its exit status (-1 when a signal ended it).
int runAndKill(const std::string& folder, std::chrono::microseconds delay, int signal = SIGKILL) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string binary = HARDGAS_BINARY, argument = folder;
    char* argv[] = {binary.data(), argument.data(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(delay);
    kill(pid, signal);
    // A run that ignores the signal would otherwise hold the test until its budget is spent.
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 200) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A copy of folder continued for a few collisions must run to its end, and leave state.bin
// holding exactly the snapshots state.json counts.
void expectContinuable(const std::string& folder, const std::string& label) {
    TempDir check;
    fs::copy(folder, check.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    continueTo(check.path, savedCollisions(check.path) + 40);
    const RunResult r = runHardgas(check.path);
    ASSERT_EQ(r.status, 0) << label << "\n" << r.err;
    EXPECT_EQ(r.out.find("holds no record"), std::string::npos) << label << ": resume.json out of step";
    EXPECT_EQ(fileSize(check.file("state.bin")), readJson(check.file("state.json"))["states_saved"].get<uint64_t>() * RECORD)
        << label;
}

TEST(CrashSafetyTest, KilledAtRandomMomentsTheRunAlwaysLeavesAContinuableRestartFile) {
    TempDir dir;
    makeBusyRun(dir.path, 100);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    continueTo(dir.path, 1'000'000'000);
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> delayMicroseconds(2'000, 300'000);
    uint64_t lastCount = 0;
    for (int k = 0; k < 16; ++k) {
        const auto delay = std::chrono::microseconds(delayMicroseconds(random));
        runAndKill(dir.path, delay);
        const std::string label = "kill " + std::to_string(k) + " after " + std::to_string(delay.count()) + " us";
        const uint64_t count = savedCollisions(dir.path);
        EXPECT_GE(count, lastCount) << label;
        lastCount = count;
        expectContinuable(dir.path, label);
    }
    EXPECT_GT(lastCount, 100u) << "the killed runs never got to a restart save";
}

// Every file of a folder by name, summary.json without its wall-clock timing.
std::map<std::string, std::string> folderFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), folder).string();
        if (name == "summary.json") {
            json summary = readJson(entry.path().string());
            summary.erase("timing");
            files[name] = summary.dump();
        } else {
            files[name] = readFile(entry.path().string());
        }
    }
    return files;
}

// A kill after the end-of-run restart file but before resume.json is cut back to its record
// leaves that record beside the one before it. Continued with the same budget, the run only
// finishes the save: every file, resume.json included, is as if the kill had not come, so that
// an extension goes on exactly as from the unbroken run.
TEST(CrashSafetyTest, FinalSaveCutShortIsFinishedAsTheUnbrokenRunWouldHaveIt) {
    TempDir dir;
    makeBusyRun(dir.path, 100);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const json before = readJson(dir.file("resume.json"))["records"][0];
    continueTo(dir.path, 200);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const std::map<std::string, std::string> finished = folderFiles(dir.path);
    json cut = readJson(dir.file("resume.json"));
    cut["records"] = json::array({before, cut["records"][0]});
    writeJson(dir.file("resume.json"), cut);
    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::map<std::string, std::string> continued = folderFiles(dir.path);
    for (const auto& [name, content] : finished) EXPECT_TRUE(continued.at(name) == content) << name;
    EXPECT_EQ(continued.size(), finished.size());
}

// A batch system's warning ends the run after the event in progress, with status 0 and its
// end-of-run files: the restart file holds the collision it stopped at.
TEST(CrashSafetyTest, SigtermEndsTheRunCleanly) {
    TempDir dir;
    makeBusyRun(dir.path, 100);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    continueTo(dir.path, 1'000'000'000);
    EXPECT_EQ(runAndKill(dir.path, std::chrono::milliseconds(300), SIGTERM), 0);
    const uint64_t count = savedCollisions(dir.path);
    EXPECT_GT(count, 100u);
    EXPECT_EQ(readJson(dir.file("summary.json"))["run"]["collisions"], count) << "the end-of-run files were not written";
    expectContinuable(dir.path, "after SIGTERM");
}

// A run killed after its last restart save leaves snapshots (and half of one) beyond the
// restart point: with resume.json they are cut off by the length it recorded; without it, by
// the clocks of the snapshots and the count of state.json.
TEST(CrashSafetyTest, ContinuedRunCutsStateFileBackToTheRestartPoint) {
    for (const bool withRecord : {true, false}) {
        SCOPED_TRACE(withRecord ? "with resume.json" : "without resume.json");
        TempDir dir;
        makeBusyRun(dir.path, 100);
        ASSERT_EQ(runHardgas(dir.path).status, 0);
        const std::string before = readFile(dir.file("state.bin"));
        const int saved = readJson(dir.file("state.json"))["states_saved"];
        std::vector<double> extra(1 + 6 * N + 3 * N, 0.0);
        extra[0] = 2.0 * readJson(dir.file("last_state.json"))["runtime"].get<double>();
        writeFile(dir.file("state.bin"), before + std::string(reinterpret_cast<const char*>(extra.data()), extra.size() * 8));
        if (!withRecord) fs::remove(dir.file("resume.json"));
        continueTo(dir.path, 160);
        const RunResult r = runHardgas(dir.path);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string expected =
            withRecord ? "Removed the last " + formatThousands(extra.size() * 8) + " bytes of " + dir.file("state.bin") +
                             ": written after the restart point\n"
                       : "state.bin held " + std::to_string(saved + 1) + " whole snapshots and part of one and " +
                             "state.json counted " + std::to_string(saved) + "; kept the " + std::to_string(saved) +
                             " taken up to the restart point.\n";
        EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
        const std::string after = readFile(dir.file("state.bin"));
        EXPECT_EQ(after.substr(0, before.size()), before);
        EXPECT_EQ(after.size(), readJson(dir.file("state.json"))["states_saved"].get<uint64_t>() * RECORD);
    }
}

// Each output in turn resolves to /dev/full, where every write fails with "no space left".
TEST(CrashSafetyTest, FullDiskIsReportedWithThePathAndKeepsTheRestartFile) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"last_state.json.tmp", "last_state.json", "init"}, {"state.json.tmp", "state.json", "init"},
        {"state.bin", "state.bin", "continue"},             {"collision_angle.bin", "collision_angle.bin", "continue"},
        {"log_profile.json.tmp", "log_profile.json", "init"}, {"free/free_path.bin", "free/free_path.bin", "continue"},
        {"resume.json.tmp", "resume.json", "init"},
    };
    for (const auto& [link, output, mode] : cases) {
        TempDir dir;
        makeBusyRun(dir.path, 100);
        ASSERT_EQ(runHardgas(dir.path).status, 0);
        const std::string previous = readFile(dir.file("last_state.json"));
        setConfigKeys(dir.path, {{"mode", mode}, {"max_collision_count", 200}});
        fs::remove(dir.file(link));
        fs::create_symlink("/dev/full", dir.file(link));
        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, 1) << link;
        EXPECT_NE(r.err.find("ERROR: Failed to write file (is the disk full?): " + dir.file(output) + "\n"),
                  std::string::npos)
            << link << "\n" << r.err;
        if (std::string(link) == "last_state.json.tmp") {
            EXPECT_EQ(readFile(dir.file("last_state.json")), previous);
        }
        fs::remove(dir.file(link));
        expectContinuable(dir.path, link);
    }
}

}  // namespace
