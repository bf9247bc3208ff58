// Trace drain without loss: captures through the capture tool's own capture command (its draining
// thread, chunk queue, poll interval and decoding pipeline) in real time, from a bench target that
// keeps its SWO line full with a sequence-numbered pattern, at several line rates and with the
// exchange latency of a USB high-speed and a full-speed link. Every byte the host kept is placed
// in the pattern, so what was lost or repeated is counted exactly; the probe's receiver counts what
// it lost itself. Then the same with a silent target, for the cost of an idle capture. Everything
// runs twice: under a load of our own (another process spinning on every core) and without it.
// First, the bench's own wait: how late a sleeping exchange wakes up on this machine.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundLoad.h"
#include "BenchMain.h"
#include "CountingTraceInterface.h"
#include "DravikBench/Bench.h"
#include "DravikTrace.h"
#include "SideBySide.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/ThreadPriority.h"
#include "target/trace/SequencePattern.h"
#include "target/trace/TraceUnit.h"

namespace dravik::bench {
namespace {

constexpr uint32_t kCoreClockHz = sim::silicon::kCoreClockHzDefault;
constexpr uint8_t kPort = 0;
// Idle captures cost the same every second; a few seconds tell it.
constexpr uint64_t kMaxIdleMs = 3000;
constexpr double kGoalIdleCpuPercent = 1.0;
constexpr uint32_t kGoalExchangesPerPoll = 2;
constexpr uint32_t kGoalExchangesPerIdlePoll = 1;
// Full-speed latency holds the line without loss up to this rate.
constexpr double kFullSpeedGoalBps = 4e6;

struct Link {
    const char* name;
    uint64_t latencyUs;
    uint64_t jitterUs;  // each exchange takes latency + 0..jitter
};
constexpr Link kHighSpeed{"HS", 125, 125};
constexpr Link kFullSpeed{"FS", 1000, 1000};

// TPIU prescalers at 72 MHz: 2, 4, 8 and 24 Mbit/s, and the bench's fastest line (ACPR 0).
constexpr uint32_t kPrescalers[] = {36, 18, 9, 3, 1};

// The machine's load during a benchmark: our own load process runs from the first loaded
// benchmark to the first unloaded one.
BackgroundLoad g_load;

const char* LoadName(bool loaded) {
    return loaded ? "loaded" : "unloaded";
}

// Empty, or why the load could not be had.
std::string SetLoad(bool loaded) {
    if (!loaded) {
        g_load.stop();
        return {};
    }
    return g_load.start() ? std::string() : "cannot start the load process";
}

// How the capture's draining thread runs: as the tool runs it, or changed for a measurement.
struct DrainVariant {
    const char* name;    // "" for the tool as it is
    bool raisePriority;  // real-time scheduling or a raised nice value, when granted
    uint64_t spinAfterDataUs;
};
constexpr DrainVariant kAsShipped{"", true, 0};
// Measured at HS 24 Mbit/s under load only: an unprivileged user's capture (neither granted),
// and a short spin after each poll that found data.
constexpr DrainVariant kVariants[] = {
    {"normal-priority", false, 0},
    {"spin50", true, 50},
    {"spin200", true, 200},
};

double LineBytesPerSecond(uint32_t prescaler) {
    return static_cast<double>(kCoreClockHz) / prescaler / sim::kSwoBitsPerFrame;
}

struct CaptureFigures {
    std::string error;
    int exitStatus = 0;
    std::string toolSummary;  // the capture command's closing lines
    // Bytes.
    uint64_t emitted = 0;              // left the target's SWO pin while the receiver ran
    uint64_t received = 0;             // reached the probe's receiver
    uint64_t probeLost = 0;            // the receiver's buffer was full
    uint64_t delivered = 0;            // handed to the host by trace reads
    uint64_t pendingAtEnd = 0;         // still in the probe when the capture ended
    uint64_t kept = 0;                 // in the capture's plain recording
    uint64_t streamLost = 0;           // pattern bytes missing from the recording
    uint64_t streamExtra = 0;          // repeated or misplaced bytes in it
    uint64_t decodeErrors = 0;         // what the tool's decoder reported
    uint64_t toolFullPolls = 0;        // the tool's "probe buffer full N times"
    uint64_t pollsAfterLoss = 0;       // the receiver dropped bytes since the poll before
    uint64_t pollsWithLossInside = 0;  // it dropped bytes while the poll went on
    // Polls.
    size_t polls = 0;
    uint32_t maxExchangesPerPoll = 0;
    uint32_t maxExchangesPerIdlePoll = 0;  // polls that found nothing
    uint64_t idlePolls = 0;
    double cycleP99Us = 0;
    double cycleMaxUs = 0;
    uint64_t cyclesOverFill = 0;  // longer than the line takes to fill the probe's buffer
    double spanSeconds = 0;       // first to last poll
    // CPU seconds of the host's own work (outside the library calls) and inside them.
    double hostCpuSeconds = 0;
    double insideCpuSeconds = 0;
    double drainOutsideCpuSeconds = 0;  // the draining thread's share of the host's, up to the stop

    uint64_t hostDropped() const { return delivered - kept; }
    uint64_t lostInAll() const { return probeLost + hostDropped(); }
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    return values[at];
}

uint64_t NumberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    return at == std::string::npos ? 0
                                   : std::strtoull(text.c_str() + at + label.size(), nullptr, 10);
}

// A fresh bench whose one probe's target keeps the line full (the firmware waits for FIFOREADY
// and is scheduled faster than any line, so it always has a word ready), or stays silent.
void SetUpBench(const Link& link, uint32_t prescaler, bool silent) {
    sim::Bench& b = sim::bench();
    b.clear();
    sim::ProbeConfig config;
    sim::TraceConfig& trace = config.target.trace;
    if (silent) {
        trace.program = sim::IdleTraceProgram{};
    } else {
        sim::SequenceTraceProgram program;
        program.port = kPort;
        program.writesPerSecond =
            static_cast<uint32_t>(2 * LineBytesPerSecond(prescaler) / sim::kSequencePacketBytes);
        program.waitForFifoReady = true;
        trace.program = program;
    }
    trace.recordPinBytes = false;  // counted, not kept: a 10 s capture at 24 Mbit/s is 30 MB
    trace.syncTiming = sim::ItmSyncTiming::FixedPeriod;
    trace.syncPeriodCycles = 0;  // the pattern alone, so every byte has its place
    b.addProbe(config);
    b.setLogEnabled(false);
    b.clock.setManual(false);
    // Slept, as a USB transfer waits in the kernel: the draining thread's CPU is its own work.
    b.clock.setLatencyWait(sim::LatencyWait::Sleep);
    b.clock.setExchangeLatencyUs(link.latencyUs);
    b.clock.setExchangeJitterUs(link.jitterUs, 1);
}

CaptureFigures Capture(const Link& link, uint32_t prescaler, bool silent, double seconds,
                       const DrainVariant& variant = kAsShipped) {
    CaptureFigures f;
    const double fillUs = DRAVIK_TRACE_BUFFER_SIZE / LineBytesPerSecond(prescaler) * 1e6;
    SetUpBench(link, prescaler, silent);
    sim::Bench& b = sim::bench();

    char path[] = "/tmp/drain_bench_XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        f.error = "cannot create a temporary file";
        return f;
    }
    ::close(fd);

    CountingTraceInterface api;
    api.reservePolls(static_cast<size_t>(seconds * 5000) + 64);
    api.trackProbeLoss(!silent);
    api.onStopped([&] {
        std::lock_guard<std::recursive_mutex> lock(b.mutex());
        f.emitted = b.probe(0).traceUnit()->record().bytesSent;
    });
    std::ostringstream out;
    std::ostringstream err;
    swv::SteadyClock clock;
    swv::ToolEnvironment env(api, out, err, clock);
    env.raiseDrainPriority = variant.raisePriority;
    env.drainSpinAfterDataUs = variant.spinAfterDataUs;
    swv::CaptureOptions options;
    options.selection.serial = sim::ProbeConfig{}.serial;
    options.rate.clockHz = kCoreClockHz;
    options.rate.prescaler = prescaler;
    options.mode = swv::TxMode::Nrz;
    options.stimulusMask = 1u << kPort;
    options.durationSeconds = seconds;
    options.output.quiet = true;
    options.rawPlainPath = path;

    const uint64_t cpuBefore = ProcessCpuNs();
    f.exitStatus = swv::runCapture(env, options);
    const uint64_t cpuSpent = ProcessCpuNs() - cpuBefore;
    f.insideCpuSeconds = static_cast<double>(api.insideCpuNs()) / 1e9;
    f.hostCpuSeconds = static_cast<double>(cpuSpent - std::min(cpuSpent, api.insideCpuNs())) / 1e9;
    f.drainOutsideCpuSeconds =
        static_cast<double>(api.drainCpuNs() - std::min(api.drainCpuNs(), api.drainInsideCpuNs())) /
        1e9;
    const std::string summary = err.str();
    const size_t lossesAt = summary.rfind("captured ");
    f.toolSummary = lossesAt == std::string::npos ? summary : summary.substr(lossesAt);
    f.decodeErrors = NumberAfter(f.toolSummary, "decode errors ");
    f.toolFullPolls = NumberAfter(f.toolSummary, "probe buffer full ");
    {
        std::lock_guard<std::recursive_mutex> lock(b.mutex());
        const sim::SwvReceiver& swv = b.probe(0).swv();
        f.received = swv.counters().received;
        f.probeLost = swv.counters().lost;
        f.delivered = swv.counters().delivered;
        f.pendingAtEnd = swv.pending();
    }

    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ::unlink(path);
    f.kept = bytes.size();
    sim::SequenceChecker checker(kPort);
    checker.feed(bytes);
    checker.finish();
    f.streamLost = checker.lost();
    f.streamExtra = checker.extra();

    const std::vector<PollRecord>& polls = api.polls();
    f.polls = polls.size();
    std::vector<double> cycles;
    cycles.reserve(polls.size());
    for (size_t i = 0; i < polls.size(); ++i) {
        f.maxExchangesPerPoll = std::max(f.maxExchangesPerPoll, polls[i].exchanges);
        if (polls[i].bytes == 0) {
            ++f.idlePolls;
            f.maxExchangesPerIdlePoll = std::max(f.maxExchangesPerIdlePoll, polls[i].exchanges);
        }
        if (i > 0) {
            cycles.push_back(static_cast<double>(polls[i].startNs - polls[i - 1].startNs) / 1e3);
            f.cyclesOverFill += cycles.back() > fillUs ? 1 : 0;
        }
    }
    for (const PollRecord& poll : api.finalReads()) {
        f.maxExchangesPerPoll = std::max(f.maxExchangesPerPoll, poll.exchanges);
    }
    // Where the receiver dropped bytes: before a poll (its pending query then finds the buffer
    // full) or inside one (the buffer filled after the query, which the tool cannot see).
    uint64_t lostSoFar = 0;
    for (const std::vector<PollRecord>* reads : {&polls, &api.finalReads()}) {
        for (const PollRecord& poll : *reads) {
            f.pollsAfterLoss += poll.probeLostBefore > lostSoFar ? 1 : 0;
            f.pollsWithLossInside += poll.probeLostAfter > poll.probeLostBefore ? 1 : 0;
            lostSoFar = poll.probeLostAfter;
        }
    }
    f.cycleP99Us = Percentile(cycles, 0.99);
    f.cycleMaxUs = cycles.empty() ? 0 : *std::max_element(cycles.begin(), cycles.end());
    if (polls.size() > 1) {
        f.spanSeconds = static_cast<double>(polls.back().startNs - polls.front().startNs) / 1e9;
    }
    b.reset();

    if (f.exitStatus != swv::kExitOk) {
        f.error = "the capture failed: " + summary;
    } else if (f.polls < 2) {
        f.error = "the capture made fewer than two polls";
    } else if (!silent && f.kept == 0) {
        f.error = "nothing was captured";
    }
    return f;
}

double Seconds(bool silent) {
    const uint64_t ms = settings().drainMs;
    return static_cast<double>(silent ? std::min(ms, kMaxIdleMs) : ms) / 1000.0;
}

void Drain(benchmark::State& state, bool loaded, const Link& link, uint32_t prescaler,
           const DrainVariant& variant) {
    const double bps = static_cast<double>(kCoreClockHz) / prescaler;
    const std::string key = Format("2 drain %s %s %02u%s%s", LoadName(loaded), link.name,
                                   36 / prescaler, *variant.name ? " " : "", variant.name);
    CaptureFigures f;
    f.error = SetLoad(loaded);
    for (auto _ : state) {
        if (!f.error.empty()) {
            break;
        }
        f = Capture(link, prescaler, false, Seconds(false), variant);
    }
    if (!f.error.empty()) {
        ReportFailure(key, f.error);
        state.SkipWithError(f.error.c_str());
        return;
    }
    const double fillUs = DRAVIK_TRACE_BUFFER_SIZE / LineBytesPerSecond(prescaler) * 1e6;
    const double cpuPerMB = f.hostCpuSeconds / (static_cast<double>(f.kept) / 1e6);
    state.counters["emitted"] = static_cast<double>(f.emitted);
    state.counters["probe_lost"] = static_cast<double>(f.probeLost);
    state.counters["host_dropped"] = static_cast<double>(f.hostDropped());
    state.counters["stream_lost"] = static_cast<double>(f.streamLost);
    state.counters["duplicated"] = static_cast<double>(f.streamExtra);
    state.counters["max_exch_per_poll"] = f.maxExchangesPerPoll;
    state.counters["cycle_p99_us"] = f.cycleP99Us;
    state.counters["cycles_over_fill"] = static_cast<double>(f.cyclesOverFill);
    state.counters["host_cpu_s_per_MB"] = cpuPerMB;

    const bool lossless = f.lostInAll() == 0 && f.streamLost == 0 && f.streamExtra == 0;
    const bool mustHold = link.latencyUs == kHighSpeed.latencyUs || bps <= kFullSpeedGoalBps;
    const char* lossVerdict = lossless ? "met" : (mustHold ? "MISSED" : "not held, no goal");
    const bool exchangesMet = f.maxExchangesPerPoll <= kGoalExchangesPerPoll &&
                              f.maxExchangesPerIdlePoll <= kGoalExchangesPerIdlePoll;
    // Every poll that followed a loss must have found the buffer full; a full buffer without a
    // loss before it (it had just filled, or overflowed after the call began) may count too.
    const bool fullNamed = f.toolFullPolls >= f.pollsAfterLoss;
    state.counters["full_polls"] = static_cast<double>(f.toolFullPolls);
    Report(
        key,
        Format(
            "Fig. 2  %s %s %4.1f Mbit/s%s%s %.0f s: emitted %llu, received %llu, probe lost %llu, "
            "host dropped %llu, pattern lost %llu, duplicated %llu, pending %llu, tool's "
            "decode errors %llu (loss goal: %s); ",
            LoadName(loaded), link.name, bps / 1e6, *variant.name ? " " : "", variant.name,
            f.spanSeconds, static_cast<unsigned long long>(f.emitted),
            static_cast<unsigned long long>(f.received),
            static_cast<unsigned long long>(f.probeLost),
            static_cast<unsigned long long>(f.hostDropped()),
            static_cast<unsigned long long>(f.streamLost),
            static_cast<unsigned long long>(f.streamExtra),
            static_cast<unsigned long long>(f.pendingAtEnd),
            static_cast<unsigned long long>(f.decodeErrors), lossVerdict) +
            Format("polls %zu, exchanges/poll max %u (%s); cycle p99 %.0f us, max %.0f us, "
                   "%llu over the buffer's fill time of %.0f us; host CPU %.4f s/MB (the "
                   "draining thread %.4f; inside the library and bench %.2f s); ",
                   f.polls, f.maxExchangesPerPoll, exchangesMet ? "met" : "MISSED", f.cycleP99Us,
                   f.cycleMaxUs, static_cast<unsigned long long>(f.cyclesOverFill), fillUs,
                   cpuPerMB, f.drainOutsideCpuSeconds / (static_cast<double>(f.kept) / 1e6),
                   f.insideCpuSeconds) +
            Format("tool: probe buffer full %llu times; polls after a loss %llu (%s), with a loss "
                   "inside %llu",
                   static_cast<unsigned long long>(f.toolFullPolls),
                   static_cast<unsigned long long>(f.pollsAfterLoss), fullNamed ? "met" : "MISSED",
                   static_cast<unsigned long long>(f.pollsWithLossInside)));
}

void Idle(benchmark::State& state, bool loaded, const Link& link, uint32_t prescaler) {
    const double bps = static_cast<double>(kCoreClockHz) / prescaler;
    const std::string key =
        Format("2 idle  %s %s %02u", LoadName(loaded), link.name, 36 / prescaler);
    CaptureFigures f;
    f.error = SetLoad(loaded);
    for (auto _ : state) {
        if (!f.error.empty()) {
            break;
        }
        f = Capture(link, prescaler, true, Seconds(true));
    }
    if (!f.error.empty()) {
        ReportFailure(key, f.error);
        state.SkipWithError(f.error.c_str());
        return;
    }
    const double percent = 100.0 * f.hostCpuSeconds / f.spanSeconds;
    state.counters["polls_per_s"] = static_cast<double>(f.polls) / f.spanSeconds;
    state.counters["max_exch_per_poll"] = f.maxExchangesPerIdlePoll;
    state.counters["host_cpu_pct"] = percent;
    const bool met = percent < kGoalIdleCpuPercent &&
                     f.maxExchangesPerIdlePoll <= kGoalExchangesPerIdlePoll &&
                     f.idlePolls == f.polls;
    Report(
        key,
        Format(
            "Fig. 2  idle capture %s %s %4.1f Mbit/s %.0f s: %.0f polls/s, exchanges/poll max %u, "
            "host CPU %.2f %% of a core (the draining thread %.2f %%; goal <= 1 exchange, "
            "< %.0f %%: %s)",
            LoadName(loaded), link.name, bps / 1e6, f.spanSeconds,
            static_cast<double>(f.polls) / f.spanSeconds, f.maxExchangesPerIdlePoll, percent,
            100.0 * f.drainOutsideCpuSeconds / f.spanSeconds, kGoalIdleCpuPercent,
            met ? "met" : "MISSED"));
}

// How late a sleeping exchange ends on this machine, and what waiting costs the thread.
struct WakeUpVariant {
    const char* name;
    sim::LatencyWait wait;
    uint64_t spinUs;  // LatencyWait::Sleep: the last microseconds spun
    bool realTime;    // on a thread that asked for real-time scheduling, as the drainer does
};
constexpr WakeUpVariant kWakeUpVariants[] = {
    {"sleep", sim::LatencyWait::Sleep, 0, false},
    {"sleep+spin10", sim::LatencyWait::Sleep, 10, false},
    {"sleep+spin30", sim::LatencyWait::Sleep, 30, false},
    {"spin", sim::LatencyWait::Precise, 0, false},
    {"sleep, raised priority", sim::LatencyWait::Sleep, 0, true},
};

void WakeUp(benchmark::State& state, bool loaded, const WakeUpVariant& variant) {
    const std::string key = Format("2 wake-up %s %s", LoadName(loaded), variant.name);
    const std::string error = SetLoad(loaded);
    if (!error.empty()) {
        ReportFailure(key, error);
        state.SkipWithError(error.c_str());
        return;
    }
    // As many round trips as take about a third of a capture, at least a few hundred.
    const size_t count = std::max<size_t>(400, settings().drainMs * 8 / 3);
    constexpr uint64_t kLatencyUs = kHighSpeed.latencyUs;
    std::vector<double> lateUs;
    lateUs.reserve(count);
    uint64_t cpuNs = 0;
    std::string priority = "normal priority";
    sim::Bench& b = sim::bench();
    const auto roundTrips = [&] {
        if (variant.realTime) {
            priority = swv::describe(swv::raiseThreadPriority());
        }
        const uint64_t cpuBefore = ThreadCpuNs();
        for (size_t i = 0; i < count; ++i) {
            const uint64_t start = SteadyNs();
            b.clock.passExchangeLatency();
            lateUs.push_back(static_cast<double>(SteadyNs() - start) / 1e3 - kLatencyUs);
        }
        cpuNs = ThreadCpuNs() - cpuBefore;
    };
    for (auto _ : state) {
        b.clear();
        b.clock.setManual(false);
        b.clock.setExchangeLatencyUs(kLatencyUs);
        b.clock.setLatencyWait(variant.wait);
        b.clock.setSleepSpinUs(variant.spinUs);
        std::thread(roundTrips).join();  // a thread of its own, so its priority goes with it
    }
    b.reset();
    const double cpuUsPerTrip = static_cast<double>(cpuNs) / 1e3 / static_cast<double>(count);
    const double meanLateUs =
        std::accumulate(lateUs.begin(), lateUs.end(), 0.0) / static_cast<double>(count);
    const double cpuPercent = 100.0 * cpuUsPerTrip / (kLatencyUs + meanLateUs);
    const auto overMs =
        std::count_if(lateUs.begin(), lateUs.end(), [](double us) { return us > 1000; });
    const double p50 = Percentile(lateUs, 0.5);
    const double p99 = Percentile(lateUs, 0.99);
    const double p999 = Percentile(lateUs, 0.999);
    const double max = *std::max_element(lateUs.begin(), lateUs.end());
    state.counters["late_p50_us"] = p50;
    state.counters["late_p99_us"] = p99;
    state.counters["cpu_us_per_trip"] = cpuUsPerTrip;
    Report(key, Format("Fig. 2  wake-up %s, %s (%s): %zu round trips of %llu us end late by "
                       "p50 %.1f, p99 %.1f, p99.9 %.0f, max %.0f us, by over 1 ms %lld times; "
                       "the waiting thread's CPU %.1f us a round trip (%.1f %% of its time)",
                       LoadName(loaded), variant.name, priority.c_str(), count,
                       static_cast<unsigned long long>(kLatencyUs), p50, p99, p999, max,
                       static_cast<long long>(overMs), cpuUsPerTrip, cpuPercent));
}

// How often a thread of the drainer's priority that never sleeps loses its core anyway, and for
// how long: what no scheduling setting can remove (interrupts, the hypervisor taking the virtual
// core). It spins in bursts shorter than a second, which real-time throttling would otherwise cut.
void Stalls(benchmark::State& state, bool loaded) {
    const std::string key = Format("2 stalls  %s", LoadName(loaded));
    const std::string error = SetLoad(loaded);
    if (!error.empty()) {
        ReportFailure(key, error);
        state.SkipWithError(error.c_str());
        return;
    }
    constexpr uint64_t kBurstNs = 400000000;
    const uint64_t bursts = std::max<uint64_t>(1, settings().drainMs / 2 / 400);
    uint64_t over500us = 0;
    uint64_t over1ms = 0;
    uint64_t over3ms = 0;
    uint64_t longestNs = 0;
    std::string priority;
    for (auto _ : state) {
        std::thread([&] {
            priority = swv::describe(swv::raiseThreadPriority());
            for (uint64_t burst = 0; burst < bursts; ++burst) {
                uint64_t last = SteadyNs();
                const uint64_t end = last + kBurstNs;
                while (last < end) {
                    const uint64_t now = SteadyNs();
                    const uint64_t gap = now - last;
                    over500us += gap > 500000 ? 1 : 0;
                    over1ms += gap > 1000000 ? 1 : 0;
                    over3ms += gap > 3000000 ? 1 : 0;
                    longestNs = std::max(longestNs, gap);
                    last = now;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }).join();
    }
    const double seconds = static_cast<double>(bursts * kBurstNs) / 1e9;
    state.counters["over_1ms"] = static_cast<double>(over1ms);
    Report(
        key,
        Format("Fig. 2  stalls %s: a thread spinning %.1f s (%s) lost its core for over "
               "0.5 ms %llu times, over 1 ms %llu, over 3 ms %llu; longest %.0f us",
               LoadName(loaded), seconds, priority.c_str(),
               static_cast<unsigned long long>(over500us), static_cast<unsigned long long>(over1ms),
               static_cast<unsigned long long>(over3ms), static_cast<double>(longestNs) / 1e3));
}

void RegisterAll() {
    const auto name = [](const char* what, bool loaded, const Link& link, uint32_t prescaler) {
        return Format("%s/%s/%s/%gMbps", what, LoadName(loaded), link.name,
                      kCoreClockHz / 1e6 / prescaler);
    };
    for (bool loaded : {true, false}) {
        benchmark::RegisterBenchmark(Format("Stalls/%s", LoadName(loaded)).c_str(), Stalls, loaded)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kSecond);
        for (const WakeUpVariant& variant : kWakeUpVariants) {
            benchmark::RegisterBenchmark(
                Format("WakeUp/%s/%s", LoadName(loaded), variant.name).c_str(), WakeUp, loaded,
                variant)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
        for (const Link* link : {&kHighSpeed, &kFullSpeed}) {
            for (uint32_t prescaler : kPrescalers) {
                benchmark::RegisterBenchmark(name("Drain", loaded, *link, prescaler).c_str(), Drain,
                                             loaded, *link, prescaler, kAsShipped)
                    ->Iterations(1)
                    ->UseRealTime()
                    ->Unit(benchmark::kSecond);
            }
        }
        for (const DrainVariant& variant : kVariants) {
            if (!loaded) {
                break;
            }
            benchmark::RegisterBenchmark(
                (name("Drain", loaded, kHighSpeed, 3) + "/" + variant.name).c_str(), Drain, loaded,
                kHighSpeed, 3u, variant)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kSecond);
        }
        for (const Link* link : {&kHighSpeed, &kFullSpeed}) {
            for (uint32_t prescaler : kPrescalers) {
                benchmark::RegisterBenchmark(name("Idle", loaded, *link, prescaler).c_str(), Idle,
                                             loaded, *link, prescaler)
                    ->Iterations(1)
                    ->UseRealTime()
                    ->Unit(benchmark::kSecond);
            }
        }
    }
}

}  // namespace
}  // namespace dravik::bench

int main(int argc, char** argv) {
    return dravik::bench::RunBenchmarks(argc, argv, dravik::bench::RegisterAll);
}
