// fuzz_alter: alter.json through the poll that steers a running simulation.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::fuzzOneInput(fuzzing::Target::Alter, data, size);
}
