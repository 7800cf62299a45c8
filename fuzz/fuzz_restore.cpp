// fuzz_restore: the files of a continued run (last_state.json, state.json and the two height
// profiles) through restoreLastState; the first byte picks the file that gets the rest.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::fuzzOneInput(fuzzing::Target::Restore, data, size);
}
