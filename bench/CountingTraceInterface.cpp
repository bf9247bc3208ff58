#include "CountingTraceInterface.h"

#include <sys/resource.h>
#include <time.h>

#include <cstring>
#include <mutex>

#include "DbgDev.h"
#include "DravikBench/Bench.h"
#include "DravikTrace.h"

namespace dravik::bench {

namespace {

uint64_t ClockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

uint64_t ThreadCpuNs() {
    return ClockNs(CLOCK_THREAD_CPUTIME_ID);
}

uint64_t ProcessCpuNs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ns = [](const timeval& tv) {
        return static_cast<uint64_t>(tv.tv_sec) * 1000000000u +
               static_cast<uint64_t>(tv.tv_usec) * 1000u;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

uint64_t SteadyNs() {
    return ClockNs(CLOCK_MONOTONIC);
}

template <typename Call>
auto CountingTraceInterface::inside(Call&& call) -> decltype(call()) {
    const uint64_t start = ThreadCpuNs();
    const auto result = call();
    insideCpuNs_.fetch_add(ThreadCpuNs() - start);
    return result;
}

bool CountingTraceInterface::has(swv::EntryPoint) const {
    return true;
}

int CountingTraceInterface::enumerateDevices(char* list, int* listSize, int* deviceCount) {
    return inside([&] { return DravikEnumerateDevices(nullptr, list, listSize, deviceCount); });
}

int CountingTraceInterface::selectDevice(const char* serialNumber, unsigned int flags,
                                         int* status) {
    stopped_ = false;
    polls_.clear();
    finalReads_.clear();
    return inside([&] { return DravikSelectDevice(serialNumber, flags, status); });
}

int CountingTraceInterface::runDevice(int* status) {
    return inside([&] { return DravikRunDevice(status); });
}

int CountingTraceInterface::blinkDebugger(const char* serialNumber) {
    return inside([&] { return DravikBlinkDebugger(serialNumber); });
}

int CountingTraceInterface::closeDevice() {
    return inside([&] { return DravikCloseDevice(); });
}

int CountingTraceInterface::setupDevice(int traceClock, int prescaler, int stimulusMask,
                                        int txModeFlags, int* fifoSize) {
    return inside([&] {
        return DravikSetupDevice(traceClock, prescaler, stimulusMask, txModeFlags, fifoSize);
    });
}

int CountingTraceInterface::stopSwvRead() {
    drainCpuNs_ = ThreadCpuNs() - drainStartCpuNs_;
    const int result = inside([&] { return DravikStopSWVRead(); });
    stopped_ = true;
    if (onStopped_) {
        onStopped_();
    }
    return result;
}

namespace {

// The first probe's receiver loss count, with the probe brought up to the bench clock's time.
uint64_t ProbeLostNow() {
    sim::Bench& b = sim::bench();
    std::lock_guard<std::recursive_mutex> lock(b.mutex());
    if (b.probeCount() == 0) {
        return 0;
    }
    b.probe(0).advanceTo(b.clock.nowUs());
    return b.probe(0).swv().counters().lost;
}

}  // namespace

int CountingTraceInterface::readSwvData(char* buffer, int offset, int* length) {
    if (polls_.empty() && !stopped_) {
        drainStartCpuNs_ = ThreadCpuNs();
        drainInsideCpuNs_ = 0;
    }
    const uint64_t insideBefore = insideCpuNs_.load();
    PollRecord poll;
    // The model's work up to now would otherwise be done by the call: it counts as inside.
    if (trackProbeLoss_) {
        poll.probeLostBefore = inside([] { return ProbeLostNow(); });
    }
    poll.startNs = SteadyNs();
    // Only this thread talks to the bench while a capture runs.
    const uint64_t before = sim::bench().exchangeCount();
    const int result = inside([&] { return DravikReadSWVData(buffer, offset, length); });
    poll.exchanges = static_cast<uint32_t>(sim::bench().exchangeCount() - before);
    poll.bytes = result == DRAVIK_OK ? *length : -1;
    if (trackProbeLoss_) {
        poll.probeLostAfter = inside([] { return ProbeLostNow(); });
    }
    if (!stopped_) {
        drainInsideCpuNs_ += insideCpuNs_.load() - insideBefore;
    }
    (stopped_ ? finalReads_ : polls_).push_back(poll);
    return result;
}

int CountingTraceInterface::readMemory(unsigned int address, unsigned char* buffer,
                                       unsigned short size, unsigned int* rwStatus) {
    return inside([&] { return DravikReadMemory(address, buffer, size, rwStatus); });
}

int CountingTraceInterface::lastError(char* message, int* length) {
    return DravikLastError(message, length);
}

int CountingTraceInterface::lastWarning(char* message, int* length) {
    return DravikLastWarning(message, length);
}

std::string CountingTraceInterface::currentStep() const {
    return std::string(g_currentStep, strnlen(g_currentStep, sizeof g_currentStep));
}

int CountingTraceInterface::readDebugRegister(unsigned int address, unsigned int* value) {
    return inside([&] {
        DbgDev* dev = GetDbgDev();
        return dev == nullptr ? DRAVIK_NO_DEVICE_OBJECT : dev->ReadDebugRegister(address, value, 0);
    });
}

int CountingTraceInterface::writeDebugRegister(unsigned int address, unsigned int value) {
    return inside([&] {
        DbgDev* dev = GetDbgDev();
        return dev == nullptr ? DRAVIK_NO_DEVICE_OBJECT
                              : dev->WriteDebugRegister(address, value, 0);
    });
}

void CountingTraceInterface::setLogSink(swv::LogSink sink, void* context) {
    if (DbgDev* dev = GetDbgDev()) {
        dev->SetLogSink(sink, context);
    }
}

const char* CountingTraceInterface::resultText(int code) const {
    return DbgDev::ResultText(code);
}

}  // namespace dravik::bench
