#pragma once
// The bench's control interface is exported from libDravikUSBDriver.so beside the 13 driver calls.
#define DRAVIK_BENCH_API __attribute__((visibility("default")))
