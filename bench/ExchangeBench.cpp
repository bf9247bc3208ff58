// Exchange overhead: one command through the library's transport path against the bare driver
// call with the same record, on the virtual probe bench with its wire log off; then the same with
// the bench taking a USB round trip per exchange; and probe enumeration on benches of 1, 10 and
// 100 probes, to show that the listing cost grows linearly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "BenchMain.h"
#include "DbgDev.h"
#include "DbgDevTestPeer.h"
#include "DravikBench/Bench.h"
#include "DravikUSBDriver.h"
#include "SideBySide.h"

namespace dravik::bench {
namespace {

constexpr unsigned kTimeoutMs = 5000;
constexpr size_t kMicroBlock = 256;  // exchanges per timed block without latency
constexpr size_t kLatencyBlock = 8;  // with latency: enough rounds within the time given
constexpr double kGoalAddedNs = 1000.0;
constexpr double kGoalAddedPercent = 1.0;

// The default bench probe opened by a device object, plus a driver record equal to the one the
// library builds for its LED command: one status-checked debug command with a 2-byte answer.
class ExchangeRig {
  public:
    ExchangeRig(uint64_t latencyUs, uint64_t jitterUs) : dev_(DRAVIK_USB_INTERFACE) {
        sim::Bench& b = sim::bench();
        b.reset();
        b.clock.setManual(false);
        b.clock.setLatencyWait(sim::LatencyWait::Precise);
        int count = 0;
        if (dev_.EnumerateDevInterface(nullptr, &count, 0) != DBGDEV_OK) {
            error_ = "enumeration failed";
            return;
        }
        const int opened = dev_.OpenDravik(nullptr, 0, 0u);
        if (opened != DBGDEV_OK && opened != DBGDEV_FIRMWARE_NOT_LATEST) {
            error_ = "probe open failed";
            return;
        }
        std::memset(&record_, 0, sizeof record_);
        record_.cdbLength = 0;
        record_.cdb[0] = 0xF2;
        record_.cdb[1] = 0x49;
        record_.direction = DRAVIK_DIR_FROM_PROBE;
        record_.buffer = answer_;
        record_.bufferLength = sizeof answer_;
        record_.senseLength = 14;
        handle_ = DbgDevTestPeer::usbHandle(dev_);
        checkSameExchange();
        b.setLogEnabled(false);
        b.clock.setExchangeLatencyUs(latencyUs);
        b.clock.setExchangeJitterUs(jitterUs);
    }
    ~ExchangeRig() {
        dev_.CloseDravik();
        sim::bench().reset();
    }

    const std::string& error() const { return error_; }

    int library() { return dev_.BlinkDravikLed(); }
    unsigned bare() { return Dravik_SendCommand(handle_, &record_, kTimeoutMs); }

  private:
    // Both paths must put the same record on the wire and get the same answer, or the
    // comparison says nothing.
    void checkSameExchange() {
        sim::Bench& b = sim::bench();
        b.setLogEnabled(true);
        b.clearLog();
        const int libraryResult = library();
        const unsigned bareResult = bare();
        const std::vector<sim::WireEntry> sends = b.sends();
        if (libraryResult != DBGDEV_OK || bareResult != DRAVIK_DRV_OK || sends.size() != 2) {
            error_ = "the LED command failed on the bench";
            return;
        }
        const sim::WireEntry& l = sends[0];
        const sim::WireEntry& r = sends[1];
        if (l.handle != r.handle || l.cdbLength != r.cdbLength || l.cdb != r.cdb ||
            l.direction != r.direction || l.bufferLength != r.bufferLength ||
            l.senseLength != r.senseLength || l.timeoutMs != r.timeoutMs ||
            l.received != r.received) {
            error_ = "the bare record differs from the library's: " + l.describe() + " / " +
                     r.describe();
        }
    }

    DbgDev dev_;
    void* handle_ = nullptr;
    TDeviceRequest record_;
    uint8_t answer_[2] = {};
    std::string error_;
};

void ExchangeOverhead(benchmark::State& state) {
    const char* key = "1a exchange";
    ExchangeRig rig(0, 0);
    if (!rig.error().empty()) {
        ReportFailure(key, rig.error());
        state.SkipWithError(rig.error().c_str());
        return;
    }
    SideBySide timing;
    for (auto _ : state) {
        timing.round(
            kMicroBlock, [&] { benchmark::DoNotOptimize(rig.bare()); },
            [&] { benchmark::DoNotOptimize(rig.library()); });
    }
    const double bare = timing.nsA();
    const double library = timing.nsB();
    const double added = library - bare;
    state.counters["bare_ns"] = bare;
    state.counters["library_ns"] = library;
    state.counters["added_ns"] = added;
    state.counters["ratio"] = library / bare;
    Report(key, Format("Fig. 1  exchange, no latency: bare %.0f ns, library %.0f ns, ratio %.2f, "
                       "added %.0f ns (goal < %.0f ns: %s)",
                       bare, library, library / bare, added, kGoalAddedNs,
                       added < kGoalAddedNs ? "met" : "MISSED"));
}

void ExchangeWithLatency(benchmark::State& state) {
    const char* key = "1b exchange latency";
    const Settings& s = settings();
    ExchangeRig rig(s.latencyUs, s.jitterUs);
    if (!rig.error().empty()) {
        ReportFailure(key, rig.error());
        state.SkipWithError(rig.error().c_str());
        return;
    }
    SideBySide timing;
    for (auto _ : state) {
        timing.round(
            kLatencyBlock, [&] { benchmark::DoNotOptimize(rig.bare()); },
            [&] { benchmark::DoNotOptimize(rig.library()); });
    }
    const double bare = timing.nsA();
    const double library = timing.nsB();
    const double added = library - bare;
    const double percent = 100.0 * added / bare;
    state.counters["bare_us"] = bare / 1000.0;
    state.counters["library_us"] = library / 1000.0;
    state.counters["added_ns"] = added;
    state.counters["added_pct"] = percent;
    const bool met = added < kGoalAddedNs && percent < kGoalAddedPercent;
    Report(key, Format("Fig. 1  exchange, %llu us latency (+0..%llu us jitter): bare %.2f us, "
                       "library %.2f us, added %.0f ns = %.3f%% (goal < %.0f ns and < %.0f%%: %s)",
                       static_cast<unsigned long long>(s.latencyUs),
                       static_cast<unsigned long long>(s.jitterUs), bare / 1000.0, library / 1000.0,
                       added, percent, kGoalAddedNs, kGoalAddedPercent, met ? "met" : "MISSED"));
}

// A bench of `probes` probes on USB, listed by a device object or by the bare driver calls.
class EnumerationRig {
  public:
    explicit EnumerationRig(int probes) : dev_(DRAVIK_USB_INTERFACE) {
        sim::Bench& b = sim::bench();
        b.clear();
        for (int i = 0; i < probes; ++i) {
            sim::ProbeConfig config;
            char serial[32];
            std::snprintf(serial, sizeof serial, "DRAVIK-BENCH-%04d", i + 1);
            config.serial = serial;
            b.addProbe(config);
        }
        b.setLogEnabled(false);
        if (library() != probes || bare() != probes) {
            error_ = "the listing did not find every probe";
        }
    }
    ~EnumerationRig() { sim::bench().reset(); }

    const std::string& error() const { return error_; }

    // Each returns the number of probes described.
    int library() {
        int count = 0;
        if (dev_.EnumerateDevInterface(nullptr, &count, 0) != DBGDEV_OK) {
            return -1;
        }
        int described = 0;
        for (int i = 0; i < count; ++i) {
            described += dev_.GetDeviceInfo2(i, &info_, sizeof info_) == DBGDEV_OK ? 1 : 0;
        }
        return described;
    }
    int bare() {
        Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0);
        const unsigned count = Dravik_GetNbDevices(DRAVIK_USB_INTERFACE);
        int described = 0;
        for (unsigned i = 0; i < count; ++i) {
            described += Dravik_GetDeviceInfo2(DRAVIK_USB_INTERFACE, static_cast<unsigned char>(i),
                                               &info_, sizeof info_) == DRAVIK_DRV_OK
                             ? 1
                             : 0;
        }
        return described;
    }

  private:
    DbgDev dev_;
    TDeviceInfo2 info_{};
    std::string error_;
};

void Enumeration(benchmark::State& state) {
    const int probes = static_cast<int>(state.range(0));
    const std::string key = Format("5 enumeration %03d", probes);
    EnumerationRig rig(probes);
    if (!rig.error().empty()) {
        ReportFailure(key, rig.error());
        state.SkipWithError(rig.error().c_str());
        return;
    }
    const size_t block = std::max<size_t>(1, kMicroBlock / static_cast<size_t>(probes));
    SideBySide timing;
    for (auto _ : state) {
        timing.round(
            block, [&] { benchmark::DoNotOptimize(rig.bare()); },
            [&] { benchmark::DoNotOptimize(rig.library()); });
    }
    const double bare = timing.nsA() / probes;
    const double library = timing.nsB() / probes;
    state.counters["bare_ns_per_probe"] = bare;
    state.counters["library_ns_per_probe"] = library;
    state.counters["added_ns_per_probe"] = library - bare;
    state.counters["ratio"] = library / bare;
    Report(key, Format("Fig. 5  listing %3d probes: per probe bare %.0f ns, library %.0f ns, "
                       "added %.0f ns, ratio %.2f",
                       probes, bare, library, library - bare, library / bare));
}

void RegisterAll() {
    benchmark::RegisterBenchmark("ExchangeOverhead", ExchangeOverhead);
    benchmark::RegisterBenchmark("ExchangeWithLatency", ExchangeWithLatency)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Enumeration", Enumeration)
        ->ArgName("probes")
        ->Arg(1)
        ->Arg(10)
        ->Arg(100)
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace
}  // namespace dravik::bench

int main(int argc, char** argv) {
    return dravik::bench::RunBenchmarks(argc, argv, dravik::bench::RegisterAll);
}
