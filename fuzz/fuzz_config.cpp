// fuzz_config: config.json through the reader of the run parameters.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (fuzzing::asksForLargeArrays(data, size)) return 0;
    return fuzzing::fuzzOneInput(fuzzing::Target::Config, data, size);
}
