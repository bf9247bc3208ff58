// The capture tool's view of libDravikTrace.so (the exported C functions, and the device object
// for register access), with what a benchmark needs to see of each call: the probe exchanges it
// cost, when each trace poll started, and the CPU time spent inside the library, which on the
// bench includes the simulated target and the spun-out USB latency and so is kept apart from the
// host's own work.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "dravik/swv/TraceInterface.h"

namespace dravik::bench {

struct PollRecord {
    uint64_t startNs = 0;  // steady clock
    uint32_t exchanges = 0;
    int32_t bytes = 0;  // fetched; -1 when the read failed
    // The probe receiver's count of dropped bytes when the poll began (the probe brought up to
    // that time first) and when it ended: a loss between the two happened inside the poll, after
    // the library asked how many bytes were pending or just before.
    uint64_t probeLostBefore = 0;
    uint64_t probeLostAfter = 0;
};

class CountingTraceInterface final : public swv::TraceInterface {
  public:
    // Runs on the calling thread right after DravikStopSWVRead returned.
    void onStopped(std::function<void()> hook) { onStopped_ = std::move(hook); }
    void reservePolls(size_t count) { polls_.reserve(count); }
    // Whether each poll notes the probe receiver's loss count before and after it (the bench's
    // model is brought up to time for it: work a silent capture can be spared).
    void trackProbeLoss(bool track) { trackProbeLoss_ = track; }

    // Trace reads up to the receiver's stop (the loop's polls, not the final fetches).
    const std::vector<PollRecord>& polls() const { return polls_; }
    // Trace reads after the stop.
    const std::vector<PollRecord>& finalReads() const { return finalReads_; }
    // Thread CPU time spent inside library calls, all threads.
    uint64_t insideCpuNs() const { return insideCpuNs_.load(); }
    // The draining thread's CPU time from its first poll to the stop, and the part of it inside
    // the polls' library calls.
    uint64_t drainCpuNs() const { return drainCpuNs_; }
    uint64_t drainInsideCpuNs() const { return drainInsideCpuNs_; }

    bool has(swv::EntryPoint entry) const override;
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
    void setLogSink(swv::LogSink sink, void* context) override;
    const char* resultText(int code) const override;

  private:
    template <typename Call>
    auto inside(Call&& call) -> decltype(call());

    std::function<void()> onStopped_;
    bool stopped_ = false;
    bool trackProbeLoss_ = true;
    std::vector<PollRecord> polls_;
    std::vector<PollRecord> finalReads_;
    std::atomic<uint64_t> insideCpuNs_{0};
    uint64_t drainStartCpuNs_ = 0;
    uint64_t drainCpuNs_ = 0;
    uint64_t drainInsideCpuNs_ = 0;
};

// This thread's CPU time in nanoseconds, and the whole process's.
uint64_t ThreadCpuNs();
uint64_t ProcessCpuNs();
uint64_t SteadyNs();

}  // namespace dravik::bench
