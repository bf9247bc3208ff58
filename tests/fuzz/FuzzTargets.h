// The fuzz targets' entry functions. Each fuzzing program calls one of them from
// LLVMFuzzerTestOneInput (FuzzMain.cpp); the regression test replays the kept inputs through the
// same functions. Each returns 0 and aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::fuzz {

// A sequence of exported calls with fuzzed arguments over a bench with fuzzed probes, answers
// and faults.
int FuzzExportedCalls(const uint8_t* data, size_t size);
// The ITM/DWT decoder on arbitrary bytes in arbitrary chunks, against a decode in one piece.
int FuzzDecoder(const uint8_t* data, size_t size);
// The decoder against the plain reference decoder, in chunks the input chooses.
int FuzzDecoderDifferential(const uint8_t* data, size_t size);
// The frame reader and the COBS codec on bytes from the network.
int FuzzStreamFrames(const uint8_t* data, size_t size);
// The bench's JSON description loader on arbitrary text.
int FuzzBenchDescription(const uint8_t* data, size_t size);

}  // namespace dravik::fuzz
