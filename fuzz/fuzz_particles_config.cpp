// fuzz_particles_config: particles_config.json through the species loader, after a fixed
// config.json of three particles.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::fuzzOneInput(fuzzing::Target::ParticlesConfig, data, size);
}
