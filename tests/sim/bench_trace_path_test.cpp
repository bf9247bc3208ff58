// The bench's trace path: every target's trace blocks, what advancing a probe hands to its SWV
// receiver (the line as the receiver reads it, nothing while it is stopped), and the firmware
// starting over when the core leaves reset.
#include <gtest/gtest.h>

#include <vector>

#include "CaptureFixture.h"
#include "target/trace/TraceRegisters.h"

namespace dravik::test {
namespace {

namespace itm = sim::trace::itm;
namespace tpiu = sim::trace::tpiu;

class BenchTracePathTest : public TargetTest {
  protected:
    // Programs the trace blocks over the target's bus as a host would, the core left running.
    // A system reset first starts the firmware from its first line: it has been running (with
    // its writes ignored) since the bench clock started.
    void SetUpSwo(uint32_t acpr = 35) {
        sim::CortexM& target = Target();
        const uint64_t now = Now();
        ASSERT_EQ(sim::BusStatus::Ok,
                  target.write(armv7m::kAircr, sim::AccessSize::Word, 0x05FA0004, now));
        ASSERT_EQ(sim::RunState::Running, target.runState());
        ASSERT_EQ(sim::BusStatus::Ok,
                  target.write(armv7m::kDemcr, sim::AccessSize::Word, 0x01000000, now));
        for (const auto& [address, value] :
             std::vector<std::pair<uint32_t, uint32_t>>{{itm::kLar, sim::kCoreSightLockKey},
                                                        {tpiu::kAcpr, acpr},
                                                        {tpiu::kSppr, tpiu::kSpprNrz},
                                                        {itm::kTer0, 0xFFFFFFFF},
                                                        {itm::kTcr, itm::kTcrItmEna}}) {
            ASSERT_EQ(sim::BusStatus::Ok, target.write(address, sim::AccessSize::Word, value, now));
        }
    }
    sim::SimProbe& Probe() { return bench().probe(0); }
    std::vector<uint8_t> Drain() {
        std::vector<uint8_t> bytes(Probe().swv().pending());
        Probe().swv().take(bytes.data(), bytes.size());
        return bytes;
    }
    // Moves the bench clock on and lets the probe catch up, as the next exchange would.
    void Advance(uint64_t us) {
        bench().clock.advance(us);
        Probe().advanceTo(Now());
    }
};

TEST_F(BenchTracePathTest, EveryTargetGetsTraceBlocksBuiltFromItsConfiguration) {
    sim::ProbeConfig config = DebugProbe();
    config.target.trace.coreClockHz = 48000000;
    config.target.trace.tpiuType = sim::silicon::tpiuType(true, false, 3);
    UseProbe(config);
    config.serial = "NO-TARGET";
    config.targetAttached = false;
    bench().addProbe(config);

    sim::TraceUnit* unit = bench().probe(0).traceUnit();
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(48000000u, unit->config().coreClockHz);
    uint32_t type = 0;
    // Reached over the target's bus: the blocks are attached to it.
    ASSERT_EQ(sim::BusStatus::Ok,
              bench().probe(0).target()->read(tpiu::kType, sim::AccessSize::Word, type, 0));
    EXPECT_EQ(sim::silicon::tpiuType(true, false, 3), type);
    EXPECT_EQ(48000000u, unit->traceClockHz()) << "the TPIU divides the core clock";
    // The DWT too, behind TRCENA; its PC sampler sees the core's PC.
    sim::CortexM& target = *bench().probe(0).target();
    ASSERT_EQ(sim::BusStatus::Ok,
              target.write(armv7m::kDemcr, sim::AccessSize::Word, armv7m::demcr::kTrcena, 0));
    uint32_t dwtCtrl = 0;
    uint32_t pcsr = 0;
    ASSERT_EQ(sim::BusStatus::Ok, target.read(0xE0001000, sim::AccessSize::Word, dwtCtrl, 0));
    ASSERT_EQ(sim::BusStatus::Ok, target.read(0xE000101C, sim::AccessSize::Word, pcsr, 0));
    EXPECT_EQ(sim::silicon::kDwtCtrlCortexM4, dwtCtrl);
    EXPECT_EQ(target.programCounter(), pcsr);
    EXPECT_EQ(sim::silicon::kFlashBase + sim::silicon::kResetHandlerOffset, pcsr);
    EXPECT_EQ(nullptr, bench().probe(1).traceUnit());
    EXPECT_TRUE(bench().probe(1).swoPinBytes().empty());
}

TEST_F(BenchTracePathTest, RunningReceiverGetsWhatLeftThePin) {
    Connect();
    SetUpSwo();
    Probe().startSwv(kSwoRateBps, 4000);
    Advance(3500);
    EXPECT_EQ(DefaultStream(1, 4), Drain());
    EXPECT_EQ(DefaultStream(1, 4), Probe().swoPinBytes());
    Advance(1000);
    EXPECT_EQ(DefaultIteration(5), Drain());
}

TEST_F(BenchTracePathTest, StoppedReceiverCollectsNothingThenOrLater) {
    Connect();
    SetUpSwo();
    Advance(2500);  // never started: lines 1 to 3 unheard
    EXPECT_EQ(0u, Probe().swv().pending());
    Probe().startSwv(kSwoRateBps, 4000);
    Advance(1000);
    Probe().swv().stop();
    Advance(5000);
    EXPECT_EQ(DefaultIteration(4), Drain()) << "only what arrived while it ran";
    EXPECT_EQ(15u, Probe().swv().counters().received);
    Probe().startSwv(kSwoRateBps, 4000);
    Advance(1000);
    EXPECT_EQ(DefaultIteration(10), Drain());
}

TEST_F(BenchTracePathTest, ReceiverStartedDirectlyReadsAtItsOwnRate) {
    Connect();
    SetUpSwo();
    Probe().swv().start(1000000, 4000);  // half the line's rate: garbage
    Advance(2500);
    const std::vector<uint8_t> got = Drain();
    EXPECT_EQ(DefaultStream(1, 3).size() / 2, got.size());
    EXPECT_EQ(got.size(), Probe().swvGarbageBytes());
    Probe().swv().start(kSwoRateBps, 4000);
    Advance(1000);
    EXPECT_EQ(DefaultIteration(4), Drain());
}

TEST_F(BenchTracePathTest, FirmwareStartsOverWhenTheCoreLeavesReset) {
    DbgDev& dev = Connect();
    SetUpSwo();
    Probe().startSwv(kSwoRateBps, 4000);
    Advance(2500);
    EXPECT_EQ(DefaultStream(1, 3), Drain());
    // A system reset: the trace registers keep their values, the program begins again.
    ASSERT_EQ(0, dev.WriteDebugRegister(armv7m::kAircr, 0x05FA0004, 0));
    Advance(2500);
    EXPECT_EQ(DefaultStream(1, 3), Drain());
}

TEST_F(BenchTracePathTest, PowerCycleSilencesTheLine) {
    Connect();
    SetUpSwo();
    Probe().startSwv(kSwoRateBps, 4000);
    Advance(1500);
    Probe().powerCycle();
    EXPECT_FALSE(Probe().swv().running());
    uint32_t tcr = 1;
    ASSERT_EQ(sim::BusStatus::Ok, Target().read(itm::kTcr, sim::AccessSize::Word, tcr, Now()));
    EXPECT_EQ(0u, tcr);
    Probe().startSwv(kSwoRateBps, 4000);
    Advance(5000);
    EXPECT_EQ(0u, Probe().swv().pending()) << "trace is off after power-on";
}

}  // namespace
}  // namespace dravik::test
