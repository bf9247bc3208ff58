// Fixture for tests of the trace capture interface against the bench's models: the default probe
// and target on a manual clock, the interface's calls of a typical capture, the records they send
// and the trace stream the target's default program emits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DravikTrace.h"
#include "TargetFixture.h"
#include "target/trace/TraceUnit.h"

namespace dravik::test {

constexpr char kBenchSerial[] = "DRAVIK-BENCH-0001";
constexpr int kTraceClockHz = 72000000;
constexpr int kPrescaler = 36;
constexpr uint32_t kSwoRateBps = 2000000;
constexpr int kAllPorts = -1;

// ITM packets of one iteration of the default program: "line n\n" on port 0 in word writes and a
// halfword and/or byte tail, then n as a word on port 1.
inline std::vector<uint8_t> DefaultIteration(uint32_t n) {
    const std::string text = "line " + std::to_string(n) + "\n";
    std::vector<uint8_t> bytes;
    size_t at = 0;
    while (at < text.size()) {
        const size_t left = text.size() - at;
        const size_t size = left >= 4 ? 4 : left >= 2 ? 2 : 1;
        bytes.push_back(static_cast<uint8_t>(size == 4 ? 0x03 : size));  // port 0
        bytes.insert(bytes.end(), text.begin() + at, text.begin() + at + size);
        at += size;
    }
    const std::vector<uint8_t> counter = Le32(n);
    bytes.push_back(0x0B);  // port 1, word
    bytes.insert(bytes.end(), counter.begin(), counter.end());
    return bytes;
}

// The stream of iterations first..last.
inline std::vector<uint8_t> DefaultStream(uint32_t first, uint32_t last) {
    std::vector<uint8_t> bytes;
    for (uint32_t n = first; n <= last; ++n) {
        const std::vector<uint8_t> one = DefaultIteration(n);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

// Records the interface sends, by what they do.
inline ExpectedCommand ModeQuery() {
    return In({0xF5}, 2);
}
inline ExpectedCommand StartReceiver(uint32_t rate) {
    return In({0xF2, 0x40, 0xA0, 0x0F, uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16),
               uint8_t(rate >> 24)},
              2);
}
inline ExpectedCommand StopReceiver() {
    return In({0xF2, 0x41}, 2);
}
inline ExpectedCommand PendingCount() {
    return In({0xF2, 0x42}, 2);
}
inline ExpectedCommand BlinkLed() {
    return In({0xF2, 0x49}, 2, 0);
}

class CaptureTest : public BenchTest {
  protected:
    void TearDown() override {
        DravikCloseDevice();
        BenchTest::TearDown();
    }

    sim::SimProbe& Probe(int index = 0) { return bench().probe(index); }
    sim::TraceUnit& TraceBlocks(int index = 0) {
        sim::TraceUnit* unit = Probe(index).traceUnit();
        EXPECT_NE(nullptr, unit);
        return *unit;
    }
    sim::CortexM& Target(int index = 0) {
        sim::CortexM* target = Probe(index).target();
        EXPECT_NE(nullptr, target);
        return *target;
    }

    // DravikEnumerateDevices, then DravikSelectDevice of `serial`; the core status is left in
    // status_.
    int Select(const char* serial = kBenchSerial, unsigned flags = 0) {
        char list[512];
        int size = sizeof list;
        int count = 0;
        const int listed = DravikEnumerateDevices(nullptr, list, &size, &count);
        EXPECT_LE(listed, 0) << g_errorMsg;
        return DravikSelectDevice(serial, flags, &status_);
    }
    // The typical setup: 72 MHz / 36, NRZ, every port.
    int SetUpTrace(int txModes = DRAVIK_TX_NRZ, int prescaler = kPrescaler) {
        return DravikSetupDevice(kTraceClockHz, prescaler, kAllPorts, txModes, &fifoSize_);
    }
    // Select, set up and run, each expected to succeed; the wire log starts empty afterwards.
    void StartCapture() {
        ASSERT_EQ(0, Select()) << g_errorMsg;
        ASSERT_EQ(0, SetUpTrace()) << g_errorMsg;
        ASSERT_EQ(0, DravikRunDevice(&status_)) << g_errorMsg;
        bench().clearLog();
    }
    // One DravikReadSWVData appending to captured_; returns its result.
    int Poll(int capacity = 65536) {
        const size_t offset = captured_.size();
        captured_.resize(static_cast<size_t>(capacity));
        int length = capacity;
        const int result = DravikReadSWVData(reinterpret_cast<char*>(captured_.data()),
                                             static_cast<int>(offset), &length);
        captured_.resize(offset + (result == 0 ? static_cast<size_t>(length) : 0));
        return result;
    }

    int status_ = -1;
    int fifoSize_ = 0;
    std::vector<uint8_t> captured_;
};

}  // namespace dravik::test
