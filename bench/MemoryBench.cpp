// Memory reads: 64 KiB read with DbgDev::Read from an odd address, and with DravikReadMemory in
// as few calls as its 16-bit size allows, counted in the exchanges the bench really answers and
// timed with the exchange latency of a USB high-speed and a full-speed link, against the fewest
// exchanges that a split into pieces the probe's memory commands accept can take.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "BenchMain.h"
#include "DbgDev.h"
#include "DravikBench/Bench.h"
#include "DravikBench/TargetConfig.h"
#include "DravikTrace.h"
#include "SideBySide.h"

namespace dravik::bench {
namespace {

constexpr uint32_t kReadBytes = 64 * 1024;
constexpr uint32_t kOddAddress = sim::silicon::kSramBase + 1;
constexpr uint32_t kAlignedAddress = sim::silicon::kSramBase;
// DravikReadMemory's size is 16 bits and a multiple of 4.
constexpr uint32_t kMaxCallBytes = 65532;
constexpr uint32_t kBlockBytes = 1024;      // no 32-bit piece crosses a 1 KiB boundary
constexpr uint32_t kExchangesPerPiece = 2;  // the transfer, then its status query

struct Link {
    const char* name;
    uint64_t latencyUs;
    uint64_t jitterUs;
};
constexpr Link kHighSpeed{"HS", 125, 125};
constexpr Link kFullSpeed{"FS", 1000, 1000};

// The fewest pieces any split of [address, address + size) into probe accesses can take: one
// unaligned head, one 32-bit piece per 1 KiB block the aligned middle touches, one unaligned tail.
uint64_t FewestPieces(uint32_t address, uint32_t size) {
    const uint64_t end = uint64_t{address} + size;
    const uint64_t bodyStart = (uint64_t{address} + 3) & ~uint64_t{3};
    const uint64_t bodyEnd = end & ~uint64_t{3};
    uint64_t pieces = (bodyStart != address ? 1 : 0) + (bodyEnd != end ? 1 : 0);
    if (bodyEnd > bodyStart) {
        pieces += (bodyEnd - 1) / kBlockBytes - bodyStart / kBlockBytes + 1;
    }
    return pieces;
}

// The default bench target, connected through the trace interface; the SRAM still holds its
// canary pattern, so every byte read can be checked.
class MemoryRig {
  public:
    explicit MemoryRig(const Link& link) {
        sim::Bench& b = sim::bench();
        b.reset();
        b.setLogEnabled(false);
        b.clock.setManual(false);
        b.clock.setLatencyWait(sim::LatencyWait::Precise);
        int status = 0;
        if (DravikSelectDevice(sim::ProbeConfig{}.serial.c_str(), DRAVIK_SELECT_STRICT, &status) !=
                DRAVIK_OK ||
            GetDbgDev() == nullptr) {
            error_ = "the probe could not be selected";
            return;
        }
        b.clock.setExchangeLatencyUs(link.latencyUs);
        b.clock.setExchangeJitterUs(link.jitterUs, 1);
        buffer_.resize(kReadBytes);
    }
    ~MemoryRig() {
        DravikCloseDevice();
        sim::bench().reset();
    }
    const std::string& error() const { return error_; }

    int dbgDevRead() {
        unsigned rwStatus = 0;
        return GetDbgDev()->Read(kOddAddress, buffer_.data(), kReadBytes, &rwStatus, 0);
    }
    int exportedRead() {
        for (uint32_t done = 0; done < kReadBytes;) {
            const uint32_t chunk = std::min(kMaxCallBytes, kReadBytes - done);
            unsigned rwStatus = 0;
            const int result = DravikReadMemory(kAlignedAddress + done, buffer_.data() + done,
                                                static_cast<unsigned short>(chunk), &rwStatus);
            if (result != DRAVIK_OK) {
                return result;
            }
            done += chunk;
        }
        return DRAVIK_OK;
    }
    // Whether the buffer holds the untouched SRAM from `address` on.
    bool holdsSram(uint32_t address) const {
        for (uint32_t i = 0; i < kReadBytes; ++i) {
            if (buffer_[i] != sim::sramCanaryByte(address - sim::silicon::kSramBase + i)) {
                return false;
            }
        }
        return true;
    }

  private:
    std::vector<uint8_t> buffer_;
    std::string error_;
};

enum class Path { DbgDevRead, ExportedRead };

void MemoryRead(benchmark::State& state, const Link& link, Path path) {
    const bool viaDbgDev = path == Path::DbgDevRead;
    const std::string key = Format("4 %s %s", viaDbgDev ? "read" : "exported", link.name);
    MemoryRig rig(link);
    if (!rig.error().empty()) {
        ReportFailure(key, rig.error());
        state.SkipWithError(rig.error().c_str());
        return;
    }
    const uint32_t address = viaDbgDev ? kOddAddress : kAlignedAddress;
    const uint64_t calls = viaDbgDev ? 1 : (kReadBytes + kMaxCallBytes - 1) / kMaxCallBytes;
    const uint64_t fewest =
        kExchangesPerPiece * (viaDbgDev ? FewestPieces(address, kReadBytes) : calls);
    sim::Bench& b = sim::bench();
    uint64_t exchanges = 0;
    uint64_t reads = 0;
    std::vector<double> times;
    for (auto _ : state) {
        const uint64_t before = b.exchangeCount();
        const auto start = std::chrono::steady_clock::now();
        const int result = viaDbgDev ? rig.dbgDevRead() : rig.exportedRead();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        exchanges = b.exchangeCount() - before;
        ++reads;
        if (result != 0 || !rig.holdsSram(address)) {
            const std::string why = Format("the read returned %d or wrong bytes", result);
            ReportFailure(key, why);
            state.SkipWithError(why.c_str());
            return;
        }
    }
    const double ms = Median(times);
    state.counters["exchanges"] = static_cast<double>(exchanges);
    state.counters["fewest"] = static_cast<double>(fewest);
    state.counters["ms"] = ms;
    Report(key,
           Format("Fig. 4  64 KiB %s at 0x%08X, %s latency %llu..%llu us: %llu exchanges "
                  "(fewest %llu: %s), %.1f ms = %.0f us per exchange (median of %llu)",
                  viaDbgDev ? "DbgDev::Read" : "DravikReadMemory", address, link.name,
                  static_cast<unsigned long long>(link.latencyUs),
                  static_cast<unsigned long long>(link.latencyUs + link.jitterUs),
                  static_cast<unsigned long long>(exchanges),
                  static_cast<unsigned long long>(fewest), exchanges <= fewest ? "met" : "MISSED",
                  ms, 1000.0 * ms / static_cast<double>(exchanges),
                  static_cast<unsigned long long>(reads)));
}

void RegisterAll() {
    for (const Link* link : {&kHighSpeed, &kFullSpeed}) {
        for (Path path : {Path::DbgDevRead, Path::ExportedRead}) {
            const std::string name = Format(
                "%s/%s", path == Path::DbgDevRead ? "DbgDevRead" : "DravikReadMemory", link->name);
            benchmark::RegisterBenchmark(name.c_str(), MemoryRead, *link, path)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace
}  // namespace dravik::bench

int main(int argc, char** argv) {
    return dravik::bench::RunBenchmarks(argc, argv, dravik::bench::RegisterAll);
}
