// The libFuzzer entry of one fuzzing program; DRAVIK_FUZZ_ENTRY names its target's function.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return dravik::fuzz::DRAVIK_FUZZ_ENTRY(data, size);
}
