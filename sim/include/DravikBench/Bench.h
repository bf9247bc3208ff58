// Control interface of the virtual probe bench behind libDravikUSBDriver.so. Tests, examples and
// tools configure simulated probes here; the system reaches them only through the 13 driver calls.
//
// With nothing configured the bench holds one third-generation probe on USB interface 0 with the
// serial number "DRAVIK-BENCH-0001" (see ProbeConfig's defaults), unless the environment variable
// DRAVIK_BENCH_CONFIG names a JSON description of the bench (format in sim/README.md): that is read
// when the bench is first used and nothing was configured before.
#pragma once

#include "DravikBench/BenchExport.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DravikBench/ProbeConfig.h"
#include "DravikBench/SimProbe.h"
#include "DravikBench/WireLog.h"

namespace dravik::sim {

// An answer a test puts in place of the simulated one.
struct DRAVIK_BENCH_API ScriptedAnswer {
    // Applies to the next exchange whose command block starts with these bytes (empty: any).
    std::vector<uint8_t> match;
    // Bytes delivered into the answer buffer (at most bufferLength); none: the buffer is untouched.
    std::optional<std::vector<uint8_t>> data;
    // Transport result of the exchange.
    unsigned transportResult = drv::kOk;

    // An answer of `word` (little-endian) followed by `rest`.
    static ScriptedAnswer Status(uint16_t word, std::vector<uint8_t> rest = {});
    static ScriptedAnswer Bytes(std::vector<uint8_t> bytes);
    static ScriptedAnswer Transport(unsigned result);
    ScriptedAnswer& When(std::vector<uint8_t> cdbPrefix);
};

// A fault injected at a chosen exchange.
//   Transport: the library call returns `value`; the probe sees nothing.
//   Status: the answer buffer is zeroed and starts with the status word `value`; the probe sees
//     nothing.
//   Unplug: the probe is removed from the bench; this and every later exchange with it fail.
//   ShortTransfer: the probe acts on the command as usual, but only the first `value` bytes of
//     its answer reach the host's buffer, whose remaining bytes stay as the host had them, and
//     the call still reports success (a bulk transfer that ended early). Data the host sends is
//     delivered whole.
struct Fault {
    enum class Kind { Transport, Status, Unplug, ShortTransfer };
    Kind kind = Kind::Transport;
    uint32_t value = drv::kFailure;  // transport result, status word, or bytes that arrive
};

// How the real-time clock waits out an exchange's latency.
enum class LatencyWait : uint8_t {
    // The thread sleeps in the kernel to an absolute deadline with a timer slack of a microsecond,
    // as a USB transfer does: the wait costs no CPU, and the wake-up comes late by the scheduler's
    // latency (tens of microseconds on a virtual machine). The last setSleepSpinUs() of the wait
    // is spun if the wake-up came that early.
    Sleep,
    // Spins to the deadline (long waits sleep all but their last millisecond first): exact to well
    // under a microsecond, for timing benchmarks, at the cost of a core while it waits.
    Precise,
};

// The bench clock: real time by default; manual for deterministic tests.
class DRAVIK_BENCH_API BenchClock {
  public:
    // Microseconds since the bench was last cleared: the targets of a fresh bench start at time 0
    // together with the clock, so none has to catch up on time that passed before it existed.
    uint64_t nowUs() const;
    // Time starts again at 0 (real time, no latency); the bench does this when it is cleared.
    void restart();
    void setManual(bool manual);
    bool manual() const { return manual_; }
    void advance(uint64_t us);  // manual mode only

    // Every exchange the simulation answers takes this long (manual mode: the clock advances by
    // it), plus a pseudo-random extra of 0 to `jitterUs` drawn from a sequence `seed` starts.
    // The probe acts on the command inside the round trip, not at its end: after half the
    // latency and a share of the extra drawn with it, as a USB request reaches the probe before
    // its answer comes back. So a target register read sees the time the command arrived.
    void setExchangeLatencyUs(uint64_t us) { latencyUs_ = us; }
    uint64_t exchangeLatencyUs() const { return latencyUs_; }
    void setExchangeJitterUs(uint64_t jitterUs, uint64_t seed = 1);
    uint64_t exchangeJitterUs() const { return jitterUs_; }
    void setLatencyWait(LatencyWait wait) { wait_ = wait; }
    LatencyWait latencyWait() const { return wait_; }
    // LatencyWait::Sleep: the sleep ends this long before the deadline and the rest is spun.
    void setSleepSpinUs(uint64_t us) { sleepSpinUs_ = us; }
    uint64_t sleepSpinUs() const { return sleepSpinUs_; }
    // Lets one exchange's latency pass; used by the driver calls. beginExchange returns the time
    // at which the probe acts; endExchange returns when the round trip is over. On the manual
    // clock beginExchange advances the clock to that time. In real time it lies ahead and the
    // whole round trip is waited for at the end, in one wait, as a USB transfer wakes its caller
    // once: the model's state at a time to come is computed early, but the host sees the answer
    // only when the round trip is over.
    void passExchangeLatency();
    uint64_t beginExchange();
    void endExchange();

    static constexpr uint64_t kDefaultSleepSpinUs = 0;

  private:
    // The exchange's extra latency and the part of it before the probe acts.
    struct Jitter {
        uint64_t totalUs = 0;
        uint64_t outboundUs = 0;
    };
    Jitter nextJitter();
    // Real time: waits until `us` after the exchange began.
    void waitIntoExchange(uint64_t us) const;
    void sleepUntilNs(int64_t deadlineNs) const;

    bool manual_ = false;
    uint64_t epochUs_ = 0;
    uint64_t manualNowUs_ = 0;
    uint64_t latencyUs_ = 0;
    uint64_t jitterUs_ = 0;
    uint64_t jitterState_ = 1;
    LatencyWait wait_ = LatencyWait::Sleep;
    uint64_t sleepSpinUs_ = kDefaultSleepSpinUs;
    // The exchange under way: when it began (steady clock, ns) and how long its two ways take.
    int64_t exchangeStartNs_ = 0;
    uint64_t outboundUs_ = 0;
    uint64_t roundTripUs_ = 0;
};

class DRAVIK_BENCH_API Bench {
  public:
    // --- probes ---
    // Removes every probe and every setting (an empty bench, not the default one).
    void clear();
    // Back to the documented default bench.
    void reset();
    // Adds a probe; returns its bench index (its position among the plugged probes).
    int addProbe(const ProbeConfig& config);
    // Unplugs a probe: open handles to it fail from now on.
    void removeProbe(int index);
    SimProbe& probe(int index);
    int probeCount() const;
    // Index of the probe with this serial number, -1 when none.
    int findProbe(const std::string& serial) const;

    DriverConfig driver;
    BenchClock clock;

    // --- description files (format in sim/README.md) ---
    // Replace every probe and setting with those of a JSON description. The description is checked
    // in full first: on an error the bench is left as it was and the text returned names the key at
    // fault ("probes[1].target.program.kind: expected one of ..."); on success it is empty.
    std::string configureFromJson(const std::string& text);
    std::string configureFromFile(const std::string& path);
    // Why the description named by DRAVIK_BENCH_CONFIG was rejected (empty when it was read, or
    // none was named). The text was also printed to stderr, and the bench was left empty: a host
    // then finds no probe rather than one the file did not describe.
    const std::string& configError() const { return configError_; }

    // --- scripted answers and faults ---
    void script(ScriptedAnswer answer);
    size_t pendingScripts() const { return scripts_.size(); }
    // The command prefixes of the scripted answers no exchange took, one per line ("F2 36 F0 ED",
    // "(any command)"); empty when every one was used.
    std::string describePendingScripts() const;
    void clearScripts() { scripts_.clear(); }
    // Fails the n-th exchange from now (1 = the next one).
    void injectFault(unsigned n, Fault fault);
    void clearFaults() { faults_.clear(); }

    // --- wire log ---
    void setLogEnabled(bool enabled) { logEnabled_ = enabled; }
    bool logEnabled() const { return logEnabled_; }
    const std::vector<WireEntry>& log() const { return log_; }
    std::vector<WireEntry> sends() const;  // the send calls only
    void clearLog() { log_.clear(); }
    uint64_t exchangeCount() const { return exchanges_; }
    unsigned freeLibraryCalls() const { return freeLibraryCalls_; }

    // The lock every driver call takes; hold it while reading the bench from another thread.
    std::recursive_mutex& mutex() { return mutex_; }

    // --- used by the driver calls (not meant for tests) ---
    struct Connection {
        uint32_t benchId = 0;
        bool tcp = false;
        bool exclusive = false;
    };
    void ensureConfigured();
    SimProbe* probeById(uint32_t benchId);
    int indexOf(uint32_t benchId) const;
    std::vector<uint32_t>& enumerated(TEnumDravikInterface iface);
    void record(WireEntry entry);
    std::optional<ScriptedAnswer> takeScript(const uint8_t* cdb);
    std::optional<Fault> takeFault();
    uintptr_t openConnection(Connection connection);
    Connection* connection(uintptr_t handle);
    uintptr_t findConnection(uint32_t benchId, bool tcp) const;
    void closeConnection(uintptr_t handle);
    void countExchange() { ++exchanges_; }
    void countFreeLibrary() { ++freeLibraryCalls_; }

  private:
    void configureFromEnvironment();

    std::recursive_mutex mutex_;
    bool configured_ = false;
    std::string configError_;
    std::vector<std::unique_ptr<SimProbe>> probes_;
    uint32_t nextBenchId_ = 1;
    std::vector<std::pair<TEnumDravikInterface, std::vector<uint32_t>>> enumerated_;
    std::deque<ScriptedAnswer> scripts_;
    std::vector<std::pair<uint64_t, Fault>> faults_;  // absolute exchange number
    std::vector<WireEntry> log_;
    bool logEnabled_ = true;
    uint64_t exchanges_ = 0;
    unsigned freeLibraryCalls_ = 0;
    std::vector<std::pair<uintptr_t, Connection>> connections_;
    uintptr_t nextHandle_ = 0x1000;
};

// The process-wide bench.
DRAVIK_BENCH_API Bench& bench();

}  // namespace dravik::sim
