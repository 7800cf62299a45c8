#pragma once
// Feeding one input file of a solution folder to its loader, with every other file the
// loader needs fixed and valid. Shared by the libFuzzer targets and by the regression test,
// so that a crash found by a fuzzer is replayed through exactly the same steps.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

enum class Target { Config, ParticlesConfig, InitialState, Restore, Alter };

inline constexpr Target ALL_TARGETS[] = {Target::Config, Target::ParticlesConfig, Target::InitialState,
                                         Target::Restore, Target::Alter};

// "fuzz_config", "fuzz_particles_config", ...: the fuzzer's name and its folder names.
const char* targetName(Target target);

enum class Outcome {
    Loaded,
    Refused,  // the loader refused the input with one line on standard error
    Fatal,    // config.json only: gravity without walls, which ends the run as a fatal error
};

struct LoadResult {
    Outcome outcome = Outcome::Refused;
    std::string path;  // the file that received the input
};

// Writes the input into a temporary solution folder (one per process, removed at exit),
// puts the program back to its start, loads the fixed prerequisites of the target and
// runs its loader. For Target::Restore the first byte chooses the file that receives the
// rest (its value modulo 4: last_state.json, state.json, log_profile.json,
// linear_profile.json); the other three stay valid. Aborts if a fixed prerequisite fails
// to load, which would be a fault of the harness rather than of the input.
LoadResult runLoader(Target target, const uint8_t* data, size_t size);

// After Outcome::Loaded: an empty string when the state holds what the loader promises to
// the engine (values in range, sizes matching), otherwise what does not hold.
std::string loadedStateProblem(Target target);

// The body of every fuzz target: runLoader, then abort() (a finding, with the problem on
// standard error) when the loader accepted the input but left a state that breaks its
// promise. Returns 0, as libFuzzer expects.
int fuzzOneInput(Target target, const uint8_t* data, size_t size);

// An input that parses as a JSON object whose num_molecules or profile_num_bins exceeds
// 100,000. The config reader accepts such sizes as long as they fit into physical memory,
// and the arrays it then sizes (gigabytes for tens of millions of particles or bins) would
// trip the fuzzer's memory limit on inputs that are not faults.
bool asksForLargeArrays(const uint8_t* data, size_t size);

}  // namespace fuzzing
