// DravikSetupDevice against the bench's trace model rather than scripted registers: what each
// TPIU_TYPE and ITM lock variant leads to, the registers the target is left with, and whether the
// probe's receiver then reads the line (only at a rate within its tolerance of the line's).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureFixture.h"
#include "target/trace/TraceRegisters.h"

namespace dravik::test {
namespace {

namespace itm = sim::trace::itm;
namespace tpiu = sim::trace::tpiu;

class SetupModelTest : public CaptureTest {
  protected:
    // The default probe with these trace blocks.
    void UseTrace(const sim::TraceConfig& trace) {
        sim::ProbeConfig config;
        config.target.trace = trace;
        UseProbe(config);
    }
    uint32_t Register(uint32_t address) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(TraceBlocks().read32(address, value, bench().clock.nowUs()));
        return value;
    }
    // Writes to the ITM_LAR address among the sends.
    size_t LarWrites() {
        size_t writes = 0;
        for (const sim::WireEntry& e : bench().sends()) {
            writes += e.cdb[1] == 0x35 && e.cdb[2] == 0xB0 && e.cdb[3] == 0x0F &&
                      e.cdb[4] == 0x00 && e.cdb[5] == 0xE0;
        }
        return writes;
    }
};

TEST_F(SetupModelTest, TransmitModeAndFifoSizeFollowTpiuType) {
    struct Row {
        const char* name;
        uint32_t tpiuType;
        int txModes;
        int result;
        int fifoSize;   // -1: left alone
        uint32_t sppr;  // TPIU_SPPR afterwards
        const char* error;
    };
    const Row rows[] = {
        {"default part, NRZ", sim::silicon::kTpiuTypeCortexM4, DRAVIK_TX_NRZ, 0, 4, 2, ""},
        {"both allowed: Manchester wins", sim::silicon::kTpiuTypeCortexM4,
         DRAVIK_TX_NRZ | DRAVIK_TX_MANCHESTER, 0, 4, 1, ""},
        {"FIFOSZ 0", sim::silicon::tpiuType(true, true, 0), DRAVIK_TX_NRZ, 403, -1, 1,
         "Unable to get FIFOSZ value"},
        {"FIFOSZ 5", sim::silicon::tpiuType(true, false, 5), DRAVIK_TX_NRZ, 0, 32, 2, ""},
        {"NRZ only, both allowed", sim::silicon::tpiuType(true, false, 2),
         DRAVIK_TX_NRZ | DRAVIK_TX_MANCHESTER, 0, 4, 2, ""},
        {"NRZ only, Manchester asked", sim::silicon::tpiuType(true, false, 2), DRAVIK_TX_MANCHESTER,
         403, -1, 1, "No TXMode selected, check flags"},
        {"Manchester only, both allowed", sim::silicon::tpiuType(false, true, 2),
         DRAVIK_TX_NRZ | DRAVIK_TX_MANCHESTER, 0, 4, 1, ""},
        {"Manchester only, NRZ asked", sim::silicon::tpiuType(false, true, 2), DRAVIK_TX_NRZ, 403,
         -1, 1, "No TXMode selected, check flags"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DravikCloseDevice();
        sim::TraceConfig trace;
        trace.tpiuType = row.tpiuType;
        UseTrace(trace);
        ASSERT_EQ(0, Select()) << g_errorMsg;
        fifoSize_ = -1;
        EXPECT_EQ(row.result, SetUpTrace(row.txModes));
        EXPECT_STREQ(row.error, g_errorMsg);
        EXPECT_EQ(row.fifoSize, fifoSize_);
        EXPECT_EQ(row.sppr, Register(tpiu::kSppr));
        EXPECT_EQ(row.result == 0 ? 35u : 0u, Register(tpiu::kAcpr));
        EXPECT_EQ(row.result == 0, Probe().swv().running());
    }
}

TEST_F(SetupModelTest, ItmLockVariants) {
    struct Row {
        const char* name;
        sim::ItmLockModel lock;
        int result;
        size_t larWrites;
        const char* error;
    };
    const Row rows[] = {
        {"locked at power-up, the key opens it", sim::ItmLockModel::Normal, 0, 1, ""},
        {"open at once: LSR reads 1, no key", sim::ItmLockModel::OpenFromStart, 0, 0, ""},
        {"no lock: LSR stays 0", sim::ItmLockModel::NotImplemented, 28, 1,
         "Unable to unlock ITM access"},
        {"lock shown set after the key: accepted", sim::ItmLockModel::ShowsLockedAlways, 0, 1, ""},
        // Accepted as well, but the ITM then ignores every write: the first check-write on it
        // fails.
        {"key ignored", sim::ItmLockModel::KeyIgnored, 28, 1,
         "Unable to verify ITM_TER0 register, expected: 4294967295, got: 0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DravikCloseDevice();
        sim::TraceConfig trace;
        trace.itmLock = row.lock;
        UseTrace(trace);
        ASSERT_EQ(0, Select()) << g_errorMsg;
        bench().clearLog();
        EXPECT_EQ(row.result, SetUpTrace());
        EXPECT_STREQ(row.error, g_errorMsg);
        EXPECT_EQ(row.larWrites, LarWrites());
    }
}

TEST_F(SetupModelTest, SeventyTwoMegahertzByThirtySixStartsTheReceiverAtTwoMegabits) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    bench().clearLog();
    ASSERT_EQ(0, SetUpTrace()) << g_errorMsg;
    EXPECT_EQ(35u, Register(tpiu::kAcpr) & 0xFFFF);
    EXPECT_EQ(kSwoRateBps, Probe().swv().rateBps());
    const auto sends = bench().sends();
    ASSERT_FALSE(sends.empty());
    EXPECT_TRUE(SendsAre({sends.back()}, {StartReceiver(kSwoRateBps)}));
    EXPECT_EQ(0x01000000u, Target().demcr() & 0x01000000u) << "TRCENA";
    EXPECT_EQ(0xFFFFFFFFu, Register(itm::kTer0));
    EXPECT_EQ(itm::kTcrItmEna, Register(itm::kTcr));
    EXPECT_EQ(sim::SwoEncoding::Nrz, TraceBlocks().swoLine().encoding);
    EXPECT_EQ(36u, TraceBlocks().swoLine().prescaler);
}

TEST_F(SetupModelTest, TcrKeepsOnlyItmEnaOfTheBitsItControls) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    // Firmware left timestamps, sync, DWT forwarding and a trace bus id on.
    const uint64_t now = bench().clock.nowUs();
    ASSERT_TRUE(TraceBlocks().write32(itm::kLar, sim::kCoreSightLockKey, now));
    ASSERT_TRUE(TraceBlocks().write32(itm::kTcr, 0x0001000F, now));
    ASSERT_EQ(0, SetUpTrace()) << g_errorMsg;
    EXPECT_EQ(0x00010001u, Register(itm::kTcr));
    ASSERT_EQ(0, DravikRunDevice(&status_));
    bench().clock.advance(2500);
    ASSERT_EQ(0, Poll());
    EXPECT_EQ(DefaultStream(1, 3), captured_) << "no timestamps between the packets";
}

TEST_F(SetupModelTest, StimulusMaskEnablesOnlyItsPorts) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    ASSERT_EQ(0, DravikSetupDevice(kTraceClockHz, kPrescaler, 0x2, DRAVIK_TX_NRZ, &fifoSize_));
    EXPECT_EQ(0x2u, Register(itm::kTer0));
    ASSERT_EQ(0, DravikRunDevice(&status_));
    bench().clock.advance(2500);
    ASSERT_EQ(0, Poll());
    // Only the counter on port 1 goes out.
    std::vector<uint8_t> counters;
    for (uint32_t n = 1; n <= 3; ++n) {
        counters.push_back(0x0B);
        const std::vector<uint8_t> word = Le32(n);
        counters.insert(counters.end(), word.begin(), word.end());
    }
    EXPECT_EQ(counters, captured_);

    // Mask 0: TER0 written back as it is.
    ASSERT_EQ(0, DravikSetupDevice(kTraceClockHz, kPrescaler, 0, DRAVIK_TX_NRZ, &fifoSize_));
    EXPECT_EQ(0x2u, Register(itm::kTer0));
}

TEST_F(SetupModelTest, ReceiverReadsTheLineOnlyWithinThreePercentOfItsRate) {
    struct Row {
        int receiverPrescaler;  // what the host restarts the receiver with
        bool decodes;
    };
    const Row rows[] = {
        {36, true},   // 2000000: the line's rate
        {35, true},   // 2057142: +2.9 %
        {37, true},   // 1945945: -2.7 %
        {34, false},  // 2117647: +5.9 %
        {38, false},  // 1894736: -5.3 %
        {72, false},  // half the rate
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.receiverPrescaler);
        DravikCloseDevice();
        bench().reset();
        bench().clock.setManual(true);
        captured_.clear();
        StartCapture();
        ASSERT_EQ(0, DravikStartSWVRead(kTraceClockHz, row.receiverPrescaler));
        EXPECT_EQ(uint32_t(kTraceClockHz / row.receiverPrescaler), Probe().swv().rateBps());
        bench().clock.advance(20500);
        ASSERT_EQ(0, Poll());
        const std::vector<uint8_t> sent = Probe().swoPinBytes();
        ASSERT_EQ(DefaultStream(1, 21), sent);
        if (row.decodes) {
            EXPECT_EQ(sent, captured_);
            EXPECT_EQ(0u, Probe().swvGarbageBytes());
        } else {
            EXPECT_NE(sent, captured_);
            EXPECT_EQ(captured_.size(), Probe().swvGarbageBytes());
            // About receiver rate / line rate bytes for every byte on the line.
            const double expected = double(sent.size()) * 36.0 / row.receiverPrescaler;
            EXPECT_NEAR(expected, double(captured_.size()), 1.0);
        }
    }
}

TEST_F(SetupModelTest, TraceClockThatIsNotTheCoreClockGivesGarbage) {
    sim::TraceConfig trace;
    trace.coreClockHz = 48000000;  // the host still says 72 MHz
    UseTrace(trace);
    StartCapture();
    bench().clock.advance(10500);
    ASSERT_EQ(0, Poll());
    const std::vector<uint8_t> sent = Probe().swoPinBytes();
    ASSERT_EQ(DefaultStream(1, 11), sent) << "the target sends its lines, only slower";
    EXPECT_NE(sent, captured_);
    EXPECT_EQ(sent.size() * 3 / 2, captured_.size());
    EXPECT_EQ(captured_.size(), Probe().swvGarbageBytes());
}

TEST_F(SetupModelTest, ManchesterLineIsGarbageToTheProbesUart) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    ASSERT_EQ(0, SetUpTrace(DRAVIK_TX_MANCHESTER)) << g_errorMsg;
    EXPECT_EQ(sim::SwoEncoding::Manchester, TraceBlocks().swoLine().encoding);
    ASSERT_EQ(0, DravikRunDevice(&status_));
    bench().clock.advance(10500);
    ASSERT_EQ(0, Poll());
    EXPECT_EQ(DefaultStream(1, 11), Probe().swoPinBytes());
    EXPECT_FALSE(captured_.empty());
    EXPECT_EQ(captured_.size(), Probe().swvGarbageBytes());
}

}  // namespace
}  // namespace dravik::test
