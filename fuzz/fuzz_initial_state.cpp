// fuzz_initial_state: particles_init.json through the loader of a fresh run's starting state.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::fuzzOneInput(fuzzing::Target::InitialState, data, size);
}
