// Shared helpers of the tool's tests: ITM byte streams, a scratch directory, a clock that only
// moves when slept on, and a scripted stand-in for libDravikTrace.so.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dravik/swv/Clock.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/TraceInterface.h"

namespace dravik::swv::test {

using Bytes = std::vector<uint8_t>;

// Builds an ITM byte stream packet by packet.
class ItmStream {
  public:
    // An instrumentation packet: `size` 1, 2 or 4 bytes of `value`, little-endian.
    ItmStream& write(unsigned port, unsigned size, uint32_t value);
    // Text in word writes and a tail of a halfword and/or a byte, as a console driver sends it.
    ItmStream& text(unsigned port, const std::string& text);
    // A one-byte local timestamp (delta 1..6).
    ItmStream& timestamp(unsigned delta);
    // A local timestamp of any delta (the one-byte form for 1..6).
    ItmStream& localTimestamp(uint32_t delta);
    // DWT packets: a periodic PC sample, one taken asleep, an exception trace (function 1
    // entered, 2 exited, 3 returned).
    ItmStream& pcSample(uint32_t pc);
    ItmStream& sleepSample();
    ItmStream& exception(unsigned number, unsigned function);
    // An event counter packet: the counters that wrapped (EventCounterBit).
    ItmStream& counterWrap(uint8_t counters);
    ItmStream& overflow();
    ItmStream& sync();
    ItmStream& raw(const Bytes& bytes);
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

// dravik-swv with these arguments (without the program's name), in this process.
int runToolWith(ToolEnvironment& env, std::vector<std::string> args);

// Each iteration of the bench's default program prints "line N" on port 0 and N on port 1: both
// sequences must be there and run without a gap.
void expectBenchLines(const std::string& out);

// A capture summary's losses line when nothing was lost.
inline constexpr const char* kNoLosses =
    "  losses: overflows 0, decode errors 0 B, host drops 0, read failures 0, queue drops 0 B\n";

// A directory of its own under the build tree's temporary area, removed afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

std::string readFile(const std::string& path);
Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, const Bytes& bytes);
bool fileExists(const std::string& path);
// How often `part` stands in `text`, overlaps counted.
size_t occurrences(const std::string& text, const std::string& part);
// The trace a recording holds: its data records' bytes, in order.
Bytes recordedTrace(const std::string& path);

// Time moves only when someone sleeps.
class FakeClock final : public Clock {
  public:
    uint64_t nowUs() override { return now_.load(); }
    void sleepUs(uint64_t us) override {
        now_.fetch_add(us);
        std::this_thread::yield();
    }
    void advance(uint64_t us) { now_.fetch_add(us); }

  private:
    std::atomic<uint64_t> now_{1000000};
};

// One answer of DravikReadSWVData.
struct SwvPoll {
    SwvPoll() = default;
    SwvPoll(int result, Bytes bytes, std::string error = {})
        : result(result), bytes(std::move(bytes)), error(std::move(error)) {}

    int result = 0;
    Bytes bytes;
    std::string error;  // the error text of a failed read
};

// A probe and a library as the tests script them. Every call is logged; texts follow the
// library's rules (cleared by each call, a failed call leaves its error text).
class FakeTraceInterface final : public TraceInterface {
  public:
    // --- the script ---
    std::set<EntryPoint> missing;
    std::string listing = "DRAVIK-BENCH-0001\t769\t55200\n";
    int enumerateResult = 0;
    std::string enumerateError;
    std::string enumerateWarning;
    int selectResult = 0;
    std::string selectError;
    int setupResult = 0;
    std::string setupError;
    std::string setupStep;
    int setupFifoSize = 4;
    int runResult = 0;
    int blinkResult = 0;
    int stopResult = 0;
    int memoryResult = 0;
    std::string memoryError;
    uint32_t memoryBase = 0x20000000;
    Bytes memory;
    std::map<uint32_t, uint32_t> registers;
    // When set, what a read of DWT_CYCCNT returns (instead of `registers`).
    std::function<uint32_t()> cycleCounter;
    std::set<uint32_t> failingRegisterReads;
    bool ignoreRegisterWrites = false;
    std::deque<SwvPoll> polls;  // then nothing pending
    // Called with the index of each scripted poll before it is answered, off the fake's lock, on
    // the caller's thread: a test paces a capture with it.
    std::function<void(size_t)> beforePoll;
    // Bytes still pending when the receiver stops: the reads after the stop deliver them.
    Bytes pendingAtStop;
    // Diagnostics the device object gives while selecting, through the log sink.
    std::vector<std::string> selectDiagnostics;

    // --- what happened ---
    std::vector<std::string> calls() const;
    size_t countCalls(const std::string& prefix) const;
    bool closed() const { return countCalls("DravikCloseDevice") > 0; }

    // --- TraceInterface ---
    bool has(EntryPoint entry) const override { return missing.count(entry) == 0; }
    int enumerateDevices(char* list, int* listSize, int* deviceCount) override;
    int selectDevice(const char* serialNumber, unsigned int flags, int* status) override;
    int runDevice(int* status) override;
    int blinkDebugger(const char* serialNumber) override;
    int closeDevice() override;
    int setupDevice(int traceClock, int prescaler, int stimulusMask, int txModeFlags,
                    int* fifoSize) override;
    int stopSwvRead() override;
    int readSwvData(char* buffer, int offset, int* length) override;
    int readMemory(unsigned int address, unsigned char* buffer, unsigned short size,
                   unsigned int* rwStatus) override;
    int lastError(char* message, int* length) override;
    int lastWarning(char* message, int* length) override;
    std::string currentStep() const override;
    int readDebugRegister(unsigned int address, unsigned int* value) override;
    int writeDebugRegister(unsigned int address, unsigned int value) override;
    void setLogSink(LogSink sink, void* context) override;
    const char* resultText(int code) const override;

    LogSink logSink = nullptr;
    void* logContext = nullptr;

  private:
    void begin(const std::string& call);
    void log(const std::string& call);
    int copyOut(const std::string& text, char* message, int* length);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::string step_, error_, warning_;
    bool stopped_ = false;
    size_t pollsAnswered_ = 0;
};

}  // namespace dravik::swv::test
