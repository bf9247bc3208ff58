#include "DravikBench/Bench.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "BenchDescription.h"

namespace dravik::sim {

namespace {
// A sleeping exchange asks for this timer slack instead of the default 50 us, which would add
// that much to every wake-up on top of the scheduler's latency.
constexpr long kExchangeTimerSlackNs = 1000;

// The steady clock's reading, in microseconds, at which the bench's own time base starts.
uint64_t SteadyOriginUs() {
    using namespace std::chrono;
    static const uint64_t origin =
        uint64_t(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    return origin;
}

uint64_t SteadyNowUs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count()) -
           SteadyOriginUs();
}
}  // namespace

uint64_t BenchClock::nowUs() const {
    return manual_ ? manualNowUs_ : SteadyNowUs() - epochUs_;
}

void BenchClock::restart() {
    *this = BenchClock{};
    epochUs_ = SteadyNowUs();
}

void BenchClock::setManual(bool manual) {
    if (manual && !manual_) {
        manualNowUs_ = SteadyNowUs() - epochUs_;  // keep time monotonic across the switch
    }
    manual_ = manual;
}

void BenchClock::advance(uint64_t us) {
    if (manual_) {
        manualNowUs_ += us;
    }
}

void BenchClock::setExchangeJitterUs(uint64_t jitterUs, uint64_t seed) {
    jitterUs_ = jitterUs;
    jitterState_ = seed != 0 ? seed : 1;  // xorshift never leaves 0
}

BenchClock::Jitter BenchClock::nextJitter() {
    if (jitterUs_ == 0) {
        return {};
    }
    jitterState_ ^= jitterState_ << 13;
    jitterState_ ^= jitterState_ >> 7;
    jitterState_ ^= jitterState_ << 17;
    Jitter jitter;
    jitter.totalUs = jitterState_ % (jitterUs_ + 1);
    // The high half of the same draw splits it: the low half alone decides the total, so a seed
    // gives the same round trips as before the split was modelled.
    jitter.outboundUs = (jitterState_ >> 32) % (jitter.totalUs + 1);
    return jitter;
}

void BenchClock::passExchangeLatency() {
    beginExchange();
    endExchange();
}

uint64_t BenchClock::beginExchange() {
    const Jitter jitter = nextJitter();
    roundTripUs_ = latencyUs_ + jitter.totalUs;
    outboundUs_ = latencyUs_ / 2 + jitter.outboundUs;
    if (manual_) {
        manualNowUs_ += outboundUs_;
        return manualNowUs_;
    }
    const uint64_t originUs = SteadyOriginUs();  // taken first: never later than the start
    exchangeStartNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    const uint64_t startUs = static_cast<uint64_t>(exchangeStartNs_ / 1000) - originUs;
    return startUs - epochUs_ + outboundUs_;
}

void BenchClock::endExchange() {
    if (manual_) {
        manualNowUs_ += roundTripUs_ - outboundUs_;
    } else {
        waitIntoExchange(roundTripUs_);
    }
    roundTripUs_ = outboundUs_ = 0;
}

// The probe's own work counts as part of the round trip, so it lasts the latency drawn however
// long the simulation took to answer (as long as that is shorter).
void BenchClock::waitIntoExchange(uint64_t us) const {
    if (us == 0) {
        return;
    }
    using namespace std::chrono;
    const steady_clock::time_point deadline =
        steady_clock::time_point(nanoseconds(exchangeStartNs_)) + microseconds(us);
    if (wait_ == LatencyWait::Sleep) {
        sleepUntilNs(duration_cast<nanoseconds>(deadline.time_since_epoch()).count() -
                     static_cast<int64_t>(sleepSpinUs_) * 1000);
        if (sleepSpinUs_ == 0) {
            return;
        }
    } else {
        // A sleep overshoots by the scheduler's latency, so only the part of a wait well beyond
        // it is slept; the rest is spun, which keeps a USB round trip of ~125 us to within a
        // microsecond.
        constexpr microseconds kSpin(1000);
        if (deadline - steady_clock::now() > 2 * kSpin) {
            std::this_thread::sleep_until(deadline - kSpin);
        }
    }
    while (steady_clock::now() < deadline) {
    }
}

// An absolute deadline, so time lost before the call (the simulation's own work, a preemption)
// is not added to the wait; the steady clock is CLOCK_MONOTONIC. The timer slack belongs to the
// calling thread, which gets its own back.
void BenchClock::sleepUntilNs(int64_t deadlineNs) const {
    const long callerSlackNs = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    const bool narrowed = callerSlackNs > kExchangeTimerSlackNs &&
                          ::prctl(PR_SET_TIMERSLACK, kExchangeTimerSlackNs, 0, 0, 0) == 0;
    const timespec wake{static_cast<time_t>(deadlineNs / 1000000000),
                        static_cast<long>(deadlineNs % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
    if (narrowed) {
        ::prctl(PR_SET_TIMERSLACK, callerSlackNs, 0, 0, 0);
    }
}

ScriptedAnswer ScriptedAnswer::Status(uint16_t word, std::vector<uint8_t> rest) {
    ScriptedAnswer answer;
    std::vector<uint8_t> bytes{uint8_t(word), uint8_t(word >> 8)};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    answer.data = std::move(bytes);
    return answer;
}

ScriptedAnswer ScriptedAnswer::Bytes(std::vector<uint8_t> bytes) {
    ScriptedAnswer answer;
    answer.data = std::move(bytes);
    return answer;
}

ScriptedAnswer ScriptedAnswer::Transport(unsigned result) {
    ScriptedAnswer answer;
    answer.transportResult = result;
    return answer;
}

ScriptedAnswer& ScriptedAnswer::When(std::vector<uint8_t> cdbPrefix) {
    match = std::move(cdbPrefix);
    return *this;
}

Bench& bench() {
    static Bench instance;
    return instance;
}

void Bench::clear() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    probes_.clear();
    enumerated_.clear();
    scripts_.clear();
    faults_.clear();
    log_.clear();
    connections_.clear();
    driver = DriverConfig{};
    clock.restart();
    logEnabled_ = true;
    exchanges_ = 0;
    freeLibraryCalls_ = 0;
    configured_ = true;
}

void Bench::reset() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    clear();
    addProbe(ProbeConfig{});
}

void Bench::ensureConfigured() {
    if (!configured_) {
        configureFromEnvironment();
    }
}

void Bench::configureFromEnvironment() {
    const char* path = std::getenv("DRAVIK_BENCH_CONFIG");
    if (path == nullptr || *path == '\0') {
        reset();
        return;
    }
    configError_ = configureFromFile(path);
    if (!configError_.empty()) {
        clear();
        std::fprintf(stderr, "DRAVIK_BENCH_CONFIG=%s rejected, the bench has no probe: %s\n", path,
                     configError_.c_str());
    }
}

std::string Bench::configureFromJson(const std::string& text) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    BenchDescription description;
    std::string error = ParseBenchDescription(text, description);
    if (!error.empty()) {
        return error;
    }
    try {
        clear();
        clock.setManual(description.manualClock);
        clock.setExchangeLatencyUs(description.exchangeLatencyUs);
        clock.setExchangeJitterUs(description.exchangeJitterUs);
        for (const ProbeConfig& probe : description.probes) {
            addProbe(probe);
        }
    } catch (const std::exception& e) {
        clear();
        return std::string("bench could not be built: ") + e.what();
    }
    return {};
}

std::string Bench::configureFromFile(const std::string& path) {
    std::string text;
    try {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        if (!file) {
            return path + ": cannot be read";
        }
        text = content.str();
    } catch (const std::exception&) {
        return path + ": cannot be read";
    }
    const std::string error = configureFromJson(text);
    return error.empty() ? error : path + ": " + error;
}

int Bench::addProbe(const ProbeConfig& config) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    configured_ = true;
    const uint32_t id = nextBenchId_++;
    ProbeConfig cfg = config;
    if (cfg.deviceId == 0) {
        cfg.deviceId = 0x100 + id;  // a TCP device id is never 0
    }
    probes_.push_back(std::make_unique<SimProbe>(cfg, id));
    return int(probes_.size()) - 1;
}

void Bench::removeProbe(int index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (index >= 0 && index < int(probes_.size())) {
        probes_.erase(probes_.begin() + index);
    }
}

SimProbe& Bench::probe(int index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ensureConfigured();
    return *probes_.at(size_t(index));
}

int Bench::probeCount() const {
    return int(probes_.size());
}

int Bench::findProbe(const std::string& serial) const {
    for (size_t i = 0; i < probes_.size(); ++i) {
        if (probes_[i]->config.serial == serial) {
            return int(i);
        }
    }
    return -1;
}

SimProbe* Bench::probeById(uint32_t benchId) {
    for (auto& p : probes_) {
        if (p->benchId() == benchId) {
            return p.get();
        }
    }
    return nullptr;
}

int Bench::indexOf(uint32_t benchId) const {
    for (size_t i = 0; i < probes_.size(); ++i) {
        if (probes_[i]->benchId() == benchId) {
            return int(i);
        }
    }
    return -1;
}

std::vector<uint32_t>& Bench::enumerated(TEnumDravikInterface iface) {
    for (auto& entry : enumerated_) {
        if (entry.first == iface) {
            return entry.second;
        }
    }
    enumerated_.emplace_back(iface, std::vector<uint32_t>{});
    return enumerated_.back().second;
}

void Bench::record(WireEntry entry) {
    if (logEnabled_) {
        log_.push_back(std::move(entry));
    }
}

std::vector<WireEntry> Bench::sends() const {
    std::vector<WireEntry> out;
    for (const auto& e : log_) {
        if (e.isSend()) {
            out.push_back(e);
        }
    }
    return out;
}

void Bench::script(ScriptedAnswer answer) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    scripts_.push_back(std::move(answer));
}

std::optional<ScriptedAnswer> Bench::takeScript(const uint8_t* cdb) {
    for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
        const auto& m = it->match;
        if (m.size() <= 16 && std::equal(m.begin(), m.end(), cdb)) {
            ScriptedAnswer answer = std::move(*it);
            scripts_.erase(it);
            return answer;
        }
    }
    return std::nullopt;
}

std::string Bench::describePendingScripts() const {
    std::string text;
    for (const ScriptedAnswer& answer : scripts_) {
        std::string line;
        char byte[4];
        for (uint8_t b : answer.match) {
            std::snprintf(byte, sizeof byte, line.empty() ? "%02X" : " %02X", b);
            line += byte;
        }
        text += (line.empty() ? std::string("(any command)") : line) + "\n";
    }
    return text;
}

void Bench::injectFault(unsigned n, Fault fault) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    faults_.emplace_back(exchanges_ + std::max(1u, n), fault);
}

std::optional<Fault> Bench::takeFault() {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->first == exchanges_) {
            Fault fault = it->second;
            faults_.erase(it);
            return fault;
        }
    }
    return std::nullopt;
}

uintptr_t Bench::openConnection(Connection connection) {
    const uintptr_t handle = nextHandle_;
    nextHandle_ += 0x10;
    connections_.emplace_back(handle, connection);
    return handle;
}

Bench::Connection* Bench::connection(uintptr_t handle) {
    for (auto& entry : connections_) {
        if (entry.first == handle) {
            return &entry.second;
        }
    }
    return nullptr;
}

uintptr_t Bench::findConnection(uint32_t benchId, bool tcp) const {
    for (const auto& entry : connections_) {
        if (entry.second.benchId == benchId && entry.second.tcp == tcp) {
            return entry.first;
        }
    }
    return 0;
}

void Bench::closeConnection(uintptr_t handle) {
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [&](const auto& e) { return e.first == handle; }),
                       connections_.end());
}

}  // namespace dravik::sim
