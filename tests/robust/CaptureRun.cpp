#include "CaptureRun.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "DravikBench/Bench.h"
#include "DravikBench/TargetConfig.h"
#include "DravikTrace.h"
#include "TraceBlocks.h"

namespace dravik::test {

namespace {

std::string Texts(const char (&buffer)[DRAVIK_TEXT_SIZE]) {
    return std::string(buffer, strnlen(buffer, DRAVIK_TEXT_SIZE));
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

std::vector<uint8_t> PollBytes(int poll) {
    const size_t count = 1 + static_cast<size_t>(poll * 37 + 11) % 64;
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(poll * 131 + i * 7 + 3);
    }
    return bytes;
}

void FreshCaptureBench(bool wireLog) {
    sim::bench().reset();
    sim::bench().clock.setManual(true);
    sim::bench().setLogEnabled(wireLog);
    EnsureTraceBlocks(sim::bench().probe(0));
}

bool PlugCaptureProbeInAgain() {
    if (sim::bench().findProbe(kCaptureSerial) >= 0) {
        return false;
    }
    EnsureTraceBlocks(sim::bench().probe(sim::bench().addProbe(sim::ProbeConfig{})));
    return true;
}

template <typename Call>
int CaptureRun::record(const char* function, Call&& call) {
    CallRecord r;
    r.function = function;
    r.firstExchange = sim::bench().exchangeCount();
    r.result = call();
    r.lastExchange = sim::bench().exchangeCount();
    r.step = Texts(g_currentStep);
    r.error = Texts(g_errorMsg);
    r.warning = Texts(g_warningMsg);
    calls_.push_back(r);
    return r.result;
}

int CaptureRun::probeIndex() const {
    return sim::bench().findProbe(serial_);
}

const CallRecord* CaptureRun::callMaking(uint64_t exchange) const {
    for (const CallRecord& c : calls_) {
        if (c.made(exchange)) {
            return &c;
        }
    }
    return nullptr;
}

void CaptureRun::feed(int poll) {
    const int index = probeIndex();
    if (index < 0) {
        return;  // unplugged: nothing reaches the host any more
    }
    sim::SimProbe& probe = sim::bench().probe(index);
    const std::vector<uint8_t> bytes = PollBytes(poll);
    const sim::SwvCounters before = probe.swv().counters();
    probe.feedSwv(bytes.data(), bytes.size());
    const sim::SwvCounters& after = probe.swv().counters();
    // The receiver keeps the first bytes that fit and loses the rest.
    const uint64_t kept = (after.received - before.received) - (after.lost - before.lost);
    entered_.insert(entered_.end(), bytes.begin(), bytes.begin() + static_cast<long>(kept));
}

void CaptureRun::poll() {
    const int index = probeIndex();
    const uint64_t before = index < 0 ? 0 : sim::bench().probe(index).swv().counters().delivered;
    PollRecord p;
    p.call = calls_.size();
    int length = kHostCapacity;
    p.result = record("DravikReadSWVData",
                      [&] { return DravikReadSWVData(host_.data(), hostUsed_, &length); });
    p.length = length;
    // An unplugged probe took its counters with it, but it hands out nothing after the unplug.
    const int indexAfter = probeIndex();
    if (indexAfter >= 0 && index >= 0) {
        p.taken = sim::bench().probe(indexAfter).swv().counters().delivered - before;
    }
    if (p.result == DRAVIK_OK && length > 0 && length <= kHostCapacity - hostUsed_) {
        const char* start = host_.data() + hostUsed_;
        p.delivered.assign(start, start + length);
        hostUsed_ += length;
    }
    polls_.push_back(std::move(p));
}

void CaptureRun::run() {
    char list[1024];
    int listSize = sizeof list, deviceCount = 0;
    record("DravikEnumerateDevices",
           [&] { return DravikEnumerateDevices(nullptr, list, &listSize, &deviceCount); });
    int status = -1;
    record("DravikSelectDevice",
           [&] { return DravikSelectDevice(serial_.c_str(), DRAVIK_SELECT_STRICT, &status); });
    int fifoSize = 0;
    record("DravikSetupDevice",
           [&] { return DravikSetupDevice(72000000, 36, 0x1, DRAVIK_TX_NRZ, &fifoSize); });
    record("DravikRunDevice", [&] { return DravikRunDevice(&status); });
    for (int i = 0; i < kPolls; ++i) {
        feed(i);
        poll();
    }
    const int index = probeIndex();
    probePresentAfterPolls_ = index >= 0;
    pendingAfterPolls_ = index < 0 ? 0 : sim::bench().probe(index).swv().pending();

    memory_.assign(kMemoryBytes, 0);
    unsigned rwStatus = 0;
    memoryResult_ = record("DravikReadMemory", [&] {
        return DravikReadMemory(kMemoryAddress, memory_.data(), kMemoryBytes, &rwStatus);
    });
    record("DravikStopSWVRead", [] { return DravikStopSWVRead(); });
    record("DravikCloseDevice", [] { return DravikCloseDevice(); });
}

std::string CaptureRun::traceProblems(const std::vector<size_t>& unchecked) const {
    uint64_t cursor = 0;  // bytes of entered() accounted for
    for (const PollRecord& p : polls_) {
        const bool checked =
            std::find(unchecked.begin(), unchecked.end(), p.call) == unchecked.end();
        if (p.result == DRAVIK_OK && checked) {
            if (p.taken != static_cast<uint64_t>(p.length)) {
                return Format("poll at call %zu reported %d bytes, the receiver handed out %llu",
                              p.call, p.length, static_cast<unsigned long long>(p.taken));
            }
            if (cursor + p.delivered.size() > entered_.size() ||
                !std::equal(p.delivered.begin(), p.delivered.end(),
                            entered_.begin() + static_cast<long>(cursor))) {
                return Format("poll at call %zu delivered bytes out of order or duplicated",
                              p.call);
            }
        }
        // What a failed call took is reported lost ("data is lost", a failed fetch); what an
        // unchecked call took is gone too. Either way the next call starts after it.
        cursor += p.taken;
    }
    if (probePresentAfterPolls_ && cursor + pendingAfterPolls_ != entered_.size()) {
        return Format("%zu bytes entered the receiver, %llu were handed out, %llu are pending",
                      entered_.size(), static_cast<unsigned long long>(cursor),
                      static_cast<unsigned long long>(pendingAfterPolls_));
    }
    return {};
}

std::string CaptureRun::cleanCaptureProblems() const {
    for (const CallRecord& c : calls_) {
        if (c.result != DRAVIK_OK) {
            return Format("%s returned %d (step \"%s\", error \"%s\", warning \"%s\")",
                          c.function.c_str(), c.result, c.step.c_str(), c.error.c_str(),
                          c.warning.c_str());
        }
    }
    std::string problem = traceProblems();
    if (!problem.empty()) {
        return problem;
    }
    size_t delivered = 0;
    for (const PollRecord& p : polls_) {
        delivered += p.delivered.size();
    }
    size_t fed = 0;
    for (int i = 0; i < kPolls; ++i) {
        fed += PollBytes(i).size();
    }
    if (entered_.size() != fed || delivered != fed) {
        return Format("%zu bytes fed, %zu entered the receiver, %zu delivered", fed,
                      entered_.size(), delivered);
    }
    for (unsigned i = 0; i < kMemoryBytes; ++i) {
        if (memory_[i] != sim::sramCanaryByte(kMemoryAddress - sim::silicon::kSramBase + i)) {
            return Format("memory byte %u reads 0x%02X", i, memory_[i]);
        }
    }
    return {};
}

}  // namespace dravik::test
