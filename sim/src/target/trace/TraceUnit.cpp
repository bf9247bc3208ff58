#include "target/trace/TraceUnit.h"

#include <algorithm>
#include <limits>

#include "target/DwtRegisters.h"
#include "target/trace/CycleTime.h"
#include "target/trace/ExceptionSchedule.h"
#include "target/trace/ItmPackets.h"
#include "target/trace/PcSampler.h"
#include "target/trace/TraceProgram.h"
#include "target/trace/TraceRegisters.h"

namespace dravik::sim {

using namespace trace;

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr uint32_t kMinFifoBytes = kMaxPacketBytes;
constexpr uint32_t kAcprFieldMask = 0xFFFF;

TraceConfig sanitised(TraceConfig config) {
    config.coreClockHz = std::max<uint32_t>(config.coreClockHz, 1);
    if (config.traceClockHz == 0) {
        config.traceClockHz = config.coreClockHz;
    }
    config.itmFifoBytes = std::max(config.itmFifoBytes, kMinFifoBytes);
    config.tpiuAcprMask &= kAcprFieldMask;  // keeps the prescaler (ACPR + 1) from wrapping to 0
    return config;
}

bool idRegister(const silicon::IdRegisters& ids, uint32_t address, uint32_t& value) {
    const uint32_t offset = address & kBlockOffsetMask;
    if (offset < kIdRegistersOffset) {
        return false;
    }
    value = ids[(offset - kIdRegistersOffset) / 4];
    return true;
}

}  // namespace

TraceUnit::TraceUnit(const TraceConfig& config)
    : config_(sanitised(config)),
      program_(makeTraceProgram(config_.program, config_.coreClockHz)),
      dwt_(config_.dwt),
      pcSampler_(std::make_unique<PcSampler>(config_.pcProfile)),
      exceptions_(std::make_unique<ExceptionSchedule>(config_.exceptions)),
      traceClockHz_(config_.traceClockHz) {
    resetRegisters();
}

TraceUnit::~TraceUnit() = default;

void TraceUnit::resetRegisters() {
    tcr_ = silicon::kItmTcrReset;
    ter_ = silicon::kItmTerReset;
    tpr_ = silicon::kItmTprReset;
    locked_ = config_.itmLock != ItmLockModel::OpenFromStart &&
              config_.itmLock != ItmLockModel::NotImplemented;
    cspsr_ = silicon::kTpiuCspsrReset;
    acpr_ = silicon::kTpiuAcprReset;
    sppr_ = silicon::kTpiuSpprReset;
    ffcr_ = silicon::kTpiuFfcrReset;
}

bool TraceUnit::claims(uint32_t address) const {
    return (address >= itm::kBase && address <= itm::kLast) || Dwt::claims(address) ||
           (address >= tpiu::kBase && address <= tpiu::kLast);
}

// --- time ---

void TraceUnit::advance(uint64_t nowUs, const CoreActivity& activity) {
    activity_ = activity;
    catchUp(nowUs);
}

void TraceUnit::activityChanged(uint64_t nowUs, const CoreActivity& activity) {
    catchUp(nowUs);
    activity_ = activity;
    startFrameIfIdle();
}

void TraceUnit::catchUp(uint64_t nowUs) {
    if (nowUs <= lastUs_) {
        return;
    }
    lastUs_ = nowUs;
    run(cyclesAt(nowUs, config_.coreClockHz));
}

void TraceUnit::run(uint64_t targetCycle) {
    for (;;) {
        startFrameIfIdle();
        const uint64_t lineAt = frameBusy_ ? frameEnd_ : kNever;
        const uint64_t programAt = nextProgramCycle();
        const uint64_t syncAt = nextSyncCycle();
        const uint64_t sampleAt = nextPcSampleCycle();
        const uint64_t exceptionAt = nextExceptionCycle();
        const uint64_t at = std::min({lineAt, programAt, syncAt, sampleAt, exceptionAt});
        if (at > targetCycle) {
            break;
        }
        moveTo(at);
        if (at == lineAt) {
            endFrame();
        } else if (at == programAt) {
            runProgramWrite();
        } else if (at == syncAt) {
            runSync();
        } else if (at == sampleAt) {
            runPcSample();
        } else {
            runExceptions();
        }
    }
    moveTo(targetCycle);
}

void TraceUnit::moveTo(uint64_t cycle) {
    if (cycle <= cycle_) {
        return;
    }
    const uint64_t span = cycle - cycle_;
    if (activity_.running) {
        runCycles_ += span;
        exceptions_->advance(span);
    }
    if (awake()) {
        awakeCycles_ += span;
    }
    dwt_.advance(span, activity_);
    cycle_ = cycle;
}

// --- firmware and ITM ---

uint64_t TraceUnit::nextProgramCycle() const {
    StimulusWrite write;
    if (!awake() || !program_->peek(write)) {
        return kNever;
    }
    if (write.cycle > awakeCycles_) {
        return cycle_ + (write.cycle - awakeCycles_);
    }
    // Due now; a polling firmware spins until the line has made room.
    if (program_->waitsForFifoReady() && portEnabled(write.port) && !fifoReady()) {
        return kNever;
    }
    return cycle_;
}

void TraceUnit::runProgramWrite() {
    StimulusWrite write;
    if (!program_->peek(write)) {
        return;
    }
    if (program_->waitsForFifoReady() && portEnabled(write.port) && !fifoReady()) {
        return;
    }
    if (takeWrite(write.port, write.size, write.value) == WriteResult::Ignored) {
        ++record_.writesIgnored;
    }
    program_->pop();
}

uint64_t TraceUnit::nextSyncCycle() const {
    if (config_.syncTiming == ItmSyncTiming::FixedPeriod) {
        return nextFixedSyncCycle();
    }
    // A toggle reached by the last move is handled at once; the next one lies as many cycles
    // ahead as the counter still has to count, while it counts.
    if (dwt_.syncTapToggles() > syncTapsDone_) {
        return cycle_;
    }
    const uint64_t ahead = dwt_.cyclesToSyncTap();
    return ahead != 0 && dwt_.counts(activity_) ? cycle_ + ahead : kNever;
}

uint64_t TraceUnit::nextFixedSyncCycle() const {
    if (!activity_.running || config_.syncPeriodCycles == 0 ||
        config_.syncPeriodCycles > kNever - syncDoneAt_ - cycle_) {
        return kNever;
    }
    return cycle_ + (syncDoneAt_ + config_.syncPeriodCycles - runCycles_);
}

void TraceUnit::runSync() {
    if (config_.syncTiming == ItmSyncTiming::FixedPeriod) {
        syncDoneAt_ += config_.syncPeriodCycles;
    } else {
        ++syncTapsDone_;
    }
    if (activity_.trcena && (tcr_ & itm::kTcrItmEna) && (tcr_ & itm::kTcrSyncEna) &&
        swoLine().encoding != SwoEncoding::None) {
        std::vector<uint8_t> packet;
        appendSync(packet);
        fifo_.insert(fifo_.end(), packet.begin(), packet.end());
        ++record_.syncPackets;
    }
}

// --- DWT packets ---

uint64_t TraceUnit::nextPcSampleCycle() const {
    if (dwt_.pcSamplesDue() > pcSamplesDone_) {
        return cycle_;
    }
    const uint64_t ahead = dwt_.cyclesToPcSample();
    return ahead != 0 && dwt_.counts(activity_) ? cycle_ + ahead : kNever;
}

uint64_t TraceUnit::nextExceptionCycle() const {
    const uint64_t ahead = exceptions_->cyclesToNext();
    return activity_.running && ahead != ExceptionSchedule::kNever ? cycle_ + ahead : kNever;
}

bool TraceUnit::dwtPacketsEnabled() const {
    return activity_.trcena && (tcr_ & itm::kTcrItmEna) && (tcr_ & itm::kTcrTxEna) &&
           swoLine().encoding != SwoEncoding::None;
}

void TraceUnit::runPcSample() {
    ++pcSamplesDone_;
    if (!dwtPacketsEnabled()) {
        return;
    }
    const PcSample sample = pcSampler_->draw(activity_.sleeping, pcSource_ ? pcSource_() : 0);
    packet_.clear();
    if (sample.asleep) {
        appendPcSleepSample(packet_);
    } else {
        appendPcSample(packet_, sample.pc);
    }
    if (!queuePacket()) {
        ++record_.dwtPacketsLost;
        return;
    }
    ++record_.pcSamplePackets;
    if (sample.asleep) {
        ++record_.sleepSamplePackets;
    }
}

void TraceUnit::runExceptions() {
    const bool traced = (dwt_.ctrl() & dwt::ctrl::kExctrcena) && dwtPacketsEnabled();
    for (const ExceptionEvent& event : exceptions_->takeEvents()) {
        if (!traced) {
            continue;
        }
        packet_.clear();
        appendExceptionTrace(packet_, event.number, event.function);
        if (queuePacket()) {
            ++record_.exceptionPackets;
        } else {
            ++record_.dwtPacketsLost;
        }
    }
}

// --- stimulus writes and the FIFO ---

bool TraceUnit::portEnabled(uint8_t port) const {
    return port < 32 && activity_.trcena && (tcr_ & itm::kTcrItmEna) && ((ter_ >> port) & 1u) &&
           swoLine().encoding != SwoEncoding::None;
}

bool TraceUnit::fifoReady() const {
    return fifo_.size() + kMaxPacketBytes <= config_.itmFifoBytes;
}

uint64_t TraceUnit::timestampPrescale() const {
    static constexpr uint64_t kPrescale[] = {1, 4, 16, 64};
    return kPrescale[(tcr_ & itm::kTcrTsPrescaleMask) >> itm::kTcrTsPrescaleShift];
}

TraceUnit::WriteResult TraceUnit::takeWrite(uint8_t port, uint8_t size, uint32_t value) {
    if (!portEnabled(port)) {
        return WriteResult::Ignored;
    }
    packet_.clear();
    appendInstrumentation(packet_, port, size, value);
    if (!queuePacket()) {
        ++record_.writesLost;
        return WriteResult::Lost;
    }
    ++record_.instrumentationPackets;
    return WriteResult::Taken;
}

bool TraceUnit::queuePacket() {
    if (fifo_.size() + packet_.size() > config_.itmFifoBytes) {
        if (!overflowQueued_) {
            fifo_.push_back(kOverflowPacket);
            overflowQueued_ = true;
            ++record_.overflowPackets;
        }
        return false;
    }
    overflowQueued_ = false;
    if (tcr_ & itm::kTcrTsEna) {
        const uint64_t prescale = timestampPrescale();
        const uint64_t ticks = (cycle_ - timestampFrom_) / prescale;
        if (ticks > 0) {
            appendLocalTimestamp(
                packet_, static_cast<uint32_t>(std::min<uint64_t>(ticks, kMaxLocalTimestamp)));
            timestampFrom_ += ticks * prescale;
            ++record_.timestampPackets;
        }
    }
    fifo_.insert(fifo_.end(), packet_.begin(), packet_.end());
    return true;
}

// --- SWO line ---

SwoLine TraceUnit::swoLine() const {
    SwoLine line;
    line.clockHz = traceClockHz_;
    line.prescaler = acpr_ + 1;
    if (!activity_.trcena) {
        return line;
    }
    if (sppr_ == tpiu::kSpprNrz && (config_.tpiuType & silicon::kTpiuTypeNrzValid)) {
        line.encoding = SwoEncoding::Nrz;
    } else if (sppr_ == tpiu::kSpprManchester &&
               (config_.tpiuType & silicon::kTpiuTypeManchesterValid)) {
        line.encoding = SwoEncoding::Manchester;
    }
    return line;
}

void TraceUnit::startFrameIfIdle() {
    if (frameBusy_ || fifo_.empty()) {
        return;
    }
    const SwoLine line = swoLine();
    if (line.encoding == SwoEncoding::None) {
        return;
    }
    frameBusy_ = true;
    frameByte_ = fifo_.front();
    fifo_.pop_front();
    frameLine_ = line;
    frameEnd_ = cycle_ + frameCoreCycles(line.cyclesPerByte());
}

// Core cycles a frame of `tracePeriods` trace clock periods takes; the fraction left over is
// carried to the next frame, so back-to-back frames keep the trace clock's rate exactly.
uint64_t TraceUnit::frameCoreCycles(uint64_t tracePeriods) {
    if (traceClockHz_ == config_.coreClockHz) {
        return tracePeriods;
    }
    const uint64_t scaled = tracePeriods * config_.coreClockHz + frameCarry_;
    frameCarry_ = scaled % traceClockHz_;
    return scaled / traceClockHz_;
}

void TraceUnit::setTraceClockHz(uint32_t hz, uint64_t nowUs) {
    catchUp(nowUs);
    traceClockHz_ = hz != 0 ? hz : config_.coreClockHz;
    frameCarry_ = 0;
}

void TraceUnit::endFrame() {
    frameBusy_ = false;
    ++record_.bytesSent;
    if (config_.recordPinBytes) {
        record_.pinBytes.push_back(frameByte_);
    }
    if (untaken_.empty() || untaken_.back().line != frameLine_) {
        untaken_.push_back({frameLine_, {}});
    }
    untaken_.back().bytes.push_back(frameByte_);
}

std::vector<uint8_t> TraceUnit::takeSwo() {
    std::vector<uint8_t> out;
    takeSwo(out);
    return out;
}

void TraceUnit::takeSwo(std::vector<uint8_t>& out) {
    for (const SwoSegment& segment : untaken_) {
        out.insert(out.end(), segment.bytes.begin(), segment.bytes.end());
    }
    untaken_.clear();
}

std::vector<SwoSegment> TraceUnit::takeSwoSegments() {
    std::vector<SwoSegment> out;
    out.swap(untaken_);
    return out;
}

// --- resets ---

void TraceUnit::powerOnReset(uint64_t nowUs) {
    catchUp(nowUs);
    resetRegisters();
    fifo_.clear();
    frameBusy_ = false;
    overflowQueued_ = false;
    timestampFrom_ = cycle_;
    runCycles_ = 0;
    syncDoneAt_ = 0;
    dwt_.powerOnReset();
    syncTapsDone_ = 0;
    pcSamplesDone_ = 0;
    pcSampler_->restart();
    traceClockHz_ = config_.traceClockHz;
    frameCarry_ = 0;
    restartProgram();
}

void TraceUnit::coreResetEnded(uint64_t nowUs) {
    catchUp(nowUs);
    restartProgram();
}

void TraceUnit::restartProgram() {
    program_->restart();
    exceptions_->restart();
    awakeCycles_ = 0;
}

// --- registers ---

bool TraceUnit::read32(uint32_t address, uint32_t& value, uint64_t nowUs) {
    if (!claims(address) || (address & 3u) != 0) {
        return false;
    }
    catchUp(nowUs);
    value = 0;
    if (address <= itm::kLast) {
        return readItm(address, value);
    }
    if (Dwt::claims(address)) {
        value = dwt_.read32(address, activity_, pcSource_ ? pcSource_() : 0);
        return true;
    }
    return readTpiu(address, value);
}

bool TraceUnit::write32(uint32_t address, uint32_t value, uint64_t nowUs) {
    if (!claims(address) || (address & 3u) != 0) {
        return false;
    }
    catchUp(nowUs);
    if (address <= itm::kLast) {
        writeItm(address, value);
    } else if (Dwt::claims(address)) {
        dwt_.write32(address, value, activity_);
    } else {
        writeTpiu(address, value);
    }
    startFrameIfIdle();
    return true;
}

bool TraceUnit::readItm(uint32_t address, uint32_t& value) const {
    if (address >= itm::kStimBase && address < itm::kStimEnd) {
        value = fifoReady() ? itm::kStimFifoReady : 0;
    } else if (address == itm::kTer0) {
        value = ter_;
    } else if (address == itm::kTpr) {
        value = tpr_;
    } else if (address == itm::kTcr) {
        value = tcr_ | (frameBusy_ || !fifo_.empty() ? itm::kTcrBusy : 0u);
    } else if (address == itm::kLsr) {
        switch (config_.itmLock) {
            case ItmLockModel::NotImplemented:
                value = silicon::kItmLsrNoLock;
                break;
            case ItmLockModel::ShowsLockedAlways:
                value = silicon::kItmLsrLocked;
                break;
            default:
                value = locked_ ? silicon::kItmLsrLocked : silicon::kItmLsrUnlocked;
                break;
        }
    } else {
        idRegister(config_.itmId, address, value);
    }
    return true;
}

void TraceUnit::writeItm(uint32_t address, uint32_t value) {
    if (address == itm::kLar) {
        if (config_.itmLock != ItmLockModel::KeyIgnored &&
            config_.itmLock != ItmLockModel::NotImplemented) {
            locked_ = value != kCoreSightLockKey;
        }
        return;
    }
    if (locked_) {
        return;
    }
    if (address >= itm::kStimBase && address < itm::kStimEnd) {
        const auto port = static_cast<uint8_t>((address - itm::kStimBase) / 4);
        if (takeWrite(port, 4, value) == WriteResult::Taken) {
            ++record_.debuggerWrites;
        }
    } else if (address == itm::kTer0) {
        ter_ = value;
    } else if (address == itm::kTpr) {
        tpr_ = value & itm::kTprMask;
    } else if (address == itm::kTcr) {
        if ((value & itm::kTcrTsEna) && !(tcr_ & itm::kTcrTsEna)) {
            timestampFrom_ = cycle_;
        }
        tcr_ = value & itm::kTcrWritable;
    }
}

bool TraceUnit::readTpiu(uint32_t address, uint32_t& value) const {
    switch (address) {
        case tpiu::kSspsr:
            value = config_.tpiuSspsr;
            break;
        case tpiu::kCspsr:
            value = cspsr_;
            break;
        case tpiu::kAcpr:
            value = acpr_;
            break;
        case tpiu::kSppr:
            value = sppr_;
            break;
        case tpiu::kFfsr:
            value = silicon::kTpiuFfsrCortexM4;
            break;
        case tpiu::kFfcr:
            value = ffcr_;
            break;
        case tpiu::kType:
            value = config_.tpiuType;
            break;
        default:
            idRegister(config_.tpiuId, address, value);
            break;
    }
    return true;
}

void TraceUnit::writeTpiu(uint32_t address, uint32_t value) {
    switch (address) {
        case tpiu::kCspsr:
            cspsr_ = value & config_.tpiuSspsr;
            break;
        case tpiu::kAcpr:
            acpr_ = value & config_.tpiuAcprMask;
            break;
        case tpiu::kSppr:
            sppr_ = value & tpiu::kSpprMask;
            break;
        case tpiu::kFfcr:
            ffcr_ = value & tpiu::kFfcrWritable;
            break;
        default:
            break;  // read-only or not modelled
    }
}

}  // namespace dravik::sim
