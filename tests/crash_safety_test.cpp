// What a run leaves behind when it is killed or the disk fills up: a restart file that a
// continued run accepts, and state.bin in step with state.json.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/support.h"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

extern char** environ;

namespace {

constexpr int32_t N = 64;

uint64_t stateRecordBytes() { return sizeof(double) * (1 + 6 * static_cast<uint64_t>(N)); }

// Snapshots, restart saves, profiles and samples all written every few tens of collisions,
// at cadences that do not divide each other, so that a kill can land inside any write.
void makeBusyRun(const std::string& folder, uint64_t collisions) {
    initFolder(folder, {"-n", std::to_string(N), "-p", "0.1", "--seed", "8", "--max-collisions",
                        std::to_string(collisions), "--set", "save_last_state_every=50", "--set",
                        "save_particles_state_every=10", "--set", "flush_state_buffer_every=30", "--set",
                        "stats_after=0", "--set", "stats_every=10", "--set", "flush_stats_every=40", "--set",
                        "sample_collision_angle=true", "--set", "flush_collision_angle_buffer_every=20", "--set",
                        "log_free_path=true", "--set", "collision_progress_every=1000000"});
}

// Starts hardgas on folder with its console thrown away, kills it after `delay`, and waits.
void runAndKill(const std::string& folder, std::chrono::microseconds delay) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string binary = HARDGAS_BINARY;
    std::string argument = folder;
    char* argv[] = {binary.data(), argument.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

// A copy of folder continued for a few collisions must run to its end, and leave state.bin
// holding exactly the snapshots state.json counts.
void expectContinuable(const std::string& folder, const std::string& label) {
    TempDir check;
    fs::copy(folder, check.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const json state = readJson(check.file("last_state.json"));
    ASSERT_TRUE(state.is_object()) << label;
    setConfigKeys(check.path, {{"mode", "continue"}, {"max_collision_count", state["collision_count"].get<uint64_t>() + 40}});
    const RunResult r = runHardgas(check.path);
    ASSERT_EQ(r.status, 0) << label << "\n" << r.err;
    const json descriptor = readJson(check.file("state.json"));
    EXPECT_EQ(fileSize(check.file("state.bin")), descriptor["states_saved"].get<uint64_t>() * stateRecordBytes())
        << label;
}

TEST(CrashSafetyTest, KilledAtRandomMomentsTheRunAlwaysLeavesAContinuableRestartFile) {
    TempDir dir;
    makeBusyRun(dir.path, 100);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", 1'000'000'000}});
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> delayMicroseconds(2'000, 300'000);
    uint64_t lastCount = 0;
    const int kills = 24;
    for (int k = 0; k < kills; ++k) {
        const auto delay = std::chrono::microseconds(delayMicroseconds(random));
        runAndKill(dir.path, delay);
        const std::string label = "kill " + std::to_string(k) + " after " + std::to_string(delay.count()) + " us";
        const json state = readJson(dir.file("last_state.json"));
        const uint64_t count = state["collision_count"].get<uint64_t>();
        EXPECT_GE(count, lastCount) << label;
        lastCount = count;
        expectContinuable(dir.path, label);
    }
    EXPECT_GT(lastCount, 100u) << "the killed runs never got to a restart save";
}

// A run killed between appending to state.bin and rewriting state.json, or after its last
// restart save, leaves snapshots that state.json does not count.
TEST(CrashSafetyTest, ContinuedRunCutsStateFileBackToTheRestartPoint) {
    TempDir dir;
    makeBusyRun(dir.path, 100);
    ASSERT_EQ(runHardgas(dir.path).status, 0);
    const std::string before = readFile(dir.file("state.bin"));
    const int statesSaved = readJson(dir.file("state.json"))["states_saved"];
    ASSERT_EQ(before.size(), statesSaved * stateRecordBytes());
    const double runtime = readJson(dir.file("last_state.json"))["runtime"];
    // One whole snapshot from beyond the restart point, then half of another.
    std::vector<double> extra(1 + 6 * N + 3 * N, 0.0);
    extra[0] = 2.0 * runtime;
    writeFile(dir.file("state.bin"), before + std::string(reinterpret_cast<const char*>(extra.data()),
                                                          extra.size() * sizeof(double)));
    setConfigKeys(dir.path, {{"mode", "continue"}, {"max_collision_count", 160}});

    const RunResult r = runHardgas(dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("state.bin held " + std::to_string(statesSaved + 1) + " whole snapshots and part of one and "
                         "state.json counted " + std::to_string(statesSaved) + "; kept the " +
                         std::to_string(statesSaved) + " taken up to the restart point.\n"),
              std::string::npos)
        << r.out;
    const std::string after = readFile(dir.file("state.bin"));
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(after.size(), readJson(dir.file("state.json"))["states_saved"].get<uint64_t>() * stateRecordBytes());
    EXPECT_GT(after.size(), before.size());
}

// Each output in turn resolves to /dev/full, where every write fails with "no space left".
TEST(CrashSafetyTest, FullDiskIsReportedWithThePathAndKeepsTheRestartFile) {
    struct FullDiskCase {
        const char* link;    // the path that resolves to /dev/full
        const char* output;  // the output named in the message
        const char* mode;
    };
    const FullDiskCase cases[] = {
        {"last_state.json.tmp", "last_state.json", "init"},
        {"state.json.tmp", "state.json", "init"},
        {"state.bin", "state.bin", "continue"},
        {"collision_angle.bin", "collision_angle.bin", "continue"},
        {"log_profile.json.tmp", "log_profile.json", "init"},
        {"free/free_path.bin", "free/free_path.bin", "init"},
    };
    for (const FullDiskCase& c : cases) {
        TempDir dir;
        makeBusyRun(dir.path, 100);
        ASSERT_EQ(runHardgas(dir.path).status, 0);
        const std::string previous = readFile(dir.file("last_state.json"));
        setConfigKeys(dir.path, {{"mode", c.mode}, {"max_collision_count", 200}});
        fs::remove(dir.file(c.link));
        fs::create_symlink("/dev/full", dir.file(c.link));

        const RunResult r = runHardgas(dir.path);
        EXPECT_EQ(r.status, 1) << c.link;
        EXPECT_NE(r.err.find("ERROR: Failed to write file (is the disk full?): " + dir.file(c.output) + "\n"),
                  std::string::npos)
            << c.link << "\n" << r.err;
        // Either the previous restart file or a complete newer one, never a damaged one.
        const std::string now = readFile(dir.file("last_state.json"));
        if (std::string(c.link) == "last_state.json.tmp") {
            EXPECT_EQ(now, previous);
        }
        fs::remove(dir.file(c.link));
        expectContinuable(dir.path, c.link);
    }
}

}  // namespace
