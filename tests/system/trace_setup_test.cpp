// DravikSetupDevice and its register helpers, against scripted register values: the order of every
// register access, the choices made from TPIU_TYPE and the host's flags, and the texts left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "DbgDevFixture.h"
#include "DravikTrace.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

constexpr unsigned kDemcr = 0xE000EDFC, kLsr = 0xE0000FB4, kLar = 0xE0000FB0, kType = 0xE0040FC8,
                   kAcpr = 0xE0040010, kSppr = 0xE00400F0, kTpr = 0xE0000E40, kTer = 0xE0000E00,
                   kTcr = 0xE0000E80;

std::vector<uint8_t> Le32(unsigned v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

class TraceSetupTest : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        ASSERT_NE(nullptr, GetDbgDev());
        ASSERT_EQ(0, g_dev->OpenDravik(nullptr, 0, 0u));
        bench().clearLog();
    }
    void TearDown() override {
        DravikCloseDevice();
        BenchTest::TearDown();
    }
    // The next debug register read answers `value`; the next write succeeds.
    void Read(unsigned value) {
        std::vector<uint8_t> rest{0, 0};
        auto word = Le32(value);
        rest.insert(rest.end(), word.begin(), word.end());
        bench().script(ScriptedAnswer::Status(0x0080, rest).When({0xF2, 0x36}));
    }
    void Write() { bench().script(ScriptedAnswer::Status(0x0080).When({0xF2, 0x35})); }
    // A verified write of a register reading `before` and then `after`.
    void CheckWrite(unsigned before, unsigned after) {
        Read(before);
        Write();
        Read(after);
    }
    static ExpectedCommand R(unsigned address) {
        ExpectedCommand e = In({0xF2, 0x36}, 8);
        auto a = Le32(address);
        e.cdb.insert(e.cdb.end(), a.begin(), a.end());
        e.cdb.push_back(0);
        return e;
    }
    static ExpectedCommand W(unsigned address, unsigned value) {
        ExpectedCommand e = In({0xF2, 0x35}, 2);
        auto a = Le32(address), v = Le32(value);
        e.cdb.insert(e.cdb.end(), a.begin(), a.end());
        e.cdb.insert(e.cdb.end(), v.begin(), v.end());
        e.cdb.push_back(0);
        return e;
    }
    // Scripts a whole successful setup with this TPIU_TYPE and ITM_LSR.
    void ScriptSetup(unsigned type, unsigned lsr, unsigned acprAfter, unsigned spprAfter) {
        CheckWrite(0x00000000, 0x01000000);  // DEMCR
        Read(lsr);
        Read(type);
        CheckWrite(0xFFFF0000, 0xFFFF0000 | acprAfter);  // ACPR
        CheckWrite(0x00000000, spprAfter);               // SPPR
        Read(0);                                         // TPR
        CheckWrite(0x00000000, 0xFFFFFFFF);              // TER0
        CheckWrite(0x0001000E, 0x00010001);              // TCR
        bench().script(ScriptedAnswer::Status(0x0080).When({0xF2, 0x40}));
    }
};

TEST_F(TraceSetupTest, TypicalSetupProgramsEveryRegisterInOrder) {
    ScriptSetup(0x00000CA0, 1, 35, 2);
    int fifo = 0;
    EXPECT_EQ(0, DravikSetupDevice(72000000, 36, -1, DRAVIK_TX_NRZ, &fifo));
    EXPECT_EQ(4, fifo);
    EXPECT_STREQ("Starting SWV Trace Reception", g_currentStep);
    EXPECT_STREQ("", g_errorMsg);
    EXPECT_TRUE(SentExactly({
        R(kDemcr),
        W(kDemcr, 0x01000000),
        R(kDemcr),
        R(kLsr),
        R(kType),
        R(kAcpr),
        W(kAcpr, 0xFFFF0023),
        R(kAcpr),
        R(kSppr),
        W(kSppr, 2),
        R(kSppr),
        R(kTpr),
        R(kTer),
        W(kTer, 0xFFFFFFFF),
        R(kTer),
        R(kTcr),
        W(kTcr, 0x00010001),
        R(kTcr),
        In({0xF2, 0x40, 0xA0, 0x0F, 0x80, 0x84, 0x1E, 0x00}, 2),
    }));
}

TEST_F(TraceSetupTest, ManchesterWinsWhenBothAreAllowedAndSupported) {
    ScriptSetup(0x00000CA0, 1, 35, 1);
    int fifo = 0;
    EXPECT_EQ(0, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ | DRAVIK_TX_MANCHESTER, &fifo));
    const auto sends = bench().sends();
    ASSERT_GT(sends.size(), 9u);
    EXPECT_EQ(1, sends[9].cdb[6]) << "TPIU_SPPR written with 1 (Manchester)";
}

TEST_F(TraceSetupTest, NoUsableTransmitModeOrFifoSizeIsRefused) {
    struct Row {
        unsigned type;
        int flags;
        const char* error;
    };
    const Row rows[] = {
        {0x00000880, DRAVIK_TX_MANCHESTER, "No TXMode selected, check flags"},
        {0x00000480, DRAVIK_TX_NRZ, "No TXMode selected, check flags"},
        {0x00000C00, DRAVIK_TX_NRZ, "Unable to get FIFOSZ value"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        bench().clearScripts();
        CheckWrite(0, 0x01000000);
        Read(1);
        Read(row.type);
        int fifo = -7;
        EXPECT_EQ(403, DravikSetupDevice(72000000, 36, 1, row.flags, &fifo));
        EXPECT_STREQ(row.error, g_errorMsg);
        EXPECT_EQ(-7, fifo) << "no FIFO size stored";
    }
}

TEST_F(TraceSetupTest, FifoSizeIsStoredBeforeAnyTpiuWrite) {
    CheckWrite(0, 0x01000000);
    Read(1);
    Read(0x00000800 | (5u << 6));
    CheckWrite(0, 0x1234);  // ACPR does not take the value
    int fifo = 0;
    EXPECT_EQ(28, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ, &fifo));
    EXPECT_EQ(32, fifo);
    EXPECT_STREQ("Unable to verify TPIU_ACPR register, expected: 35, got: 4660", g_errorMsg);
    EXPECT_STREQ("Verifying written register TPIU_ACPR", g_currentStep);
}

TEST_F(TraceSetupTest, LockStatusDecidesWhetherTheKeyIsWritten) {
    // Locked (3), then unlocked (1): the key goes to ITM_LAR once.
    CheckWrite(0, 0x01000000);
    Read(3);
    Write();
    Read(1);
    Read(0x00000880);
    CheckWrite(0, 35);
    bench().script(ScriptedAnswer::Transport(0).When({0xF2, 0x36}));  // SPPR read fails
    int fifo = 0;
    EXPECT_EQ(3, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ, &fifo));
    EXPECT_STREQ("Unable to read TPIU_SPPR register, status: 3", g_errorMsg);
    const auto sends = bench().sends();
    ASSERT_GE(sends.size(), 5u);
    EXPECT_EQ(W(kLar, 0xC5ACCE55).cdb,
              std::vector<uint8_t>(sends[4].cdb.begin(), sends[4].cdb.begin() + 11));
}

TEST_F(TraceSetupTest, LockStayingAtZeroFailsAndOneStayingSetIsAccepted) {
    CheckWrite(0, 0x01000000);
    Read(0);
    Write();
    Read(0);
    int fifo = 0;
    EXPECT_EQ(28, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ, &fifo));
    EXPECT_STREQ("Unable to unlock ITM access", g_errorMsg);
    unsigned larWrites = 0;
    for (const auto& e : bench().sends()) {
        larWrites += e.cdb[1] == 0x35 && e.cdb[2] == 0xB0 && e.cdb[3] == 0x0F ? 1 : 0;
    }
    EXPECT_EQ(1u, larWrites);

    bench().clearLog();
    CheckWrite(0, 0x01000000);
    Read(3);
    Write();
    Read(3);  // still shows the lock: accepted, the setup goes on
    Read(0x00000880);
    bench().script(ScriptedAnswer::Transport(0).When({0xF2, 0x36}));
    EXPECT_EQ(3, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ, &fifo));
    EXPECT_STREQ("Unable to read TPIU_ACPR register, status: 3", g_errorMsg);
}

TEST_F(TraceSetupTest, StimulusMaskZeroWritesTer0BackUnchanged) {
    CheckWrite(0, 0x01000000);
    Read(1);
    Read(0x00000880);
    CheckWrite(0, 35);
    CheckWrite(0, 2);
    Read(0);
    CheckWrite(0x000000F0, 0x000000F0);  // TER0
    CheckWrite(0, 1);
    bench().script(ScriptedAnswer::Status(0x0080).When({0xF2, 0x40}));
    int fifo = 0;
    EXPECT_EQ(0, DravikSetupDevice(72000000, 36, 0, DRAVIK_TX_NRZ, &fifo));
    const auto sends = bench().sends();
    ASSERT_EQ(19u, sends.size());
    EXPECT_EQ(W(kTer, 0x000000F0).cdb,
              std::vector<uint8_t>(sends[13].cdb.begin(), sends[13].cdb.begin() + 11));
}

TEST_F(TraceSetupTest, PrescalerOutsideTheRegisterFailsTheAcprCheckBeforeDividing) {
    for (int prescaler : {0, -5, 65537}) {
        SCOPED_TRACE(prescaler);
        bench().clearScripts();
        CheckWrite(0, 0x01000000);
        Read(1);
        Read(0x00000880);
        CheckWrite(0, 0);
        int fifo = 0;
        EXPECT_EQ(28, DravikSetupDevice(72000000, prescaler, 1, DRAVIK_TX_NRZ, &fifo));
    }
}

// The ends of the prescaler's range, the truncating division and the ends of FIFOSZ.
TEST_F(TraceSetupTest, PrescalerAndFifoSizeAtTheEndsOfTheirRanges) {
    const struct {
        int clock;
        int prescaler;
        unsigned type;
        int fifo;
        uint32_t rate;
    } rows[] = {
        {72000000, 1, 0x00000840, 2, 72000000},    // FIFOSZ 1
        {72000001, 65536, 0x000009C0, 128, 1098},  // FIFOSZ 7; 1098.6 truncated
        {99999, 7, 0x00000880, 4, 14285},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.prescaler);
        bench().clearLog();
        const unsigned acpr = static_cast<unsigned>(row.prescaler - 1);
        ScriptSetup(row.type, 1, acpr, 2);
        int fifo = 0;
        EXPECT_EQ(0, DravikSetupDevice(row.clock, row.prescaler, -1, DRAVIK_TX_NRZ, &fifo));
        EXPECT_EQ(row.fifo, fifo);
        const auto sends = bench().sends();
        ASSERT_EQ(19u, sends.size());
        EXPECT_TRUE(SendsAre({sends[6], sends[18]},
                             {W(kAcpr, 0xFFFF0000 | acpr),
                              In({0xF2, 0x40, 0xA0, 0x0F, uint8_t(row.rate), uint8_t(row.rate >> 8),
                                  uint8_t(row.rate >> 16), uint8_t(row.rate >> 24)},
                                 2)}));
    }
}

// The probe cannot receive at a rate of 0 or below; a prescaler in range shows it at once.
TEST_F(TraceSetupTest, RateOfZeroOrBelowIsRefusedBeforeAnyTraffic) {
    for (const int clock : {0, 35, -72000000}) {
        SCOPED_TRACE(clock);
        int fifo = 7;
        EXPECT_EQ(20, DravikSetupDevice(clock, 36, 1, DRAVIK_TX_NRZ, &fifo));
        EXPECT_EQ("Unable to setup device, no SWO rate from " + std::to_string(clock) + " / 36",
                  std::string(g_errorMsg));
        EXPECT_EQ(7, fifo);
        EXPECT_TRUE(bench().sends().empty());
    }
}

TEST_F(TraceSetupTest, ReceiverStartFailureNamesItsStatus) {
    CheckWrite(0, 0x01000000);
    Read(1);
    Read(0x00000880);
    CheckWrite(0, 35);
    CheckWrite(0, 2);
    Read(0);
    CheckWrite(0, 0xFFFFFFFF);
    CheckWrite(0, 1);
    bench().script(ScriptedAnswer::Status(0x0081).When({0xF2, 0x40}));
    int fifo = 0;
    EXPECT_EQ(19, DravikSetupDevice(72000000, 36, -1, DRAVIK_TX_NRZ, &fifo));
    EXPECT_STREQ("Unable to start SWV Trace Reception, status: 19", g_errorMsg);
}

TEST_F(TraceSetupTest, ValueOutsideTheMaskAlwaysFailsTheCheckAfterWriting) {
    Read(0x00000000);
    Write();
    Read(0xFFFFFFFF);
    EXPECT_EQ(28, ReadWriteCheckDebugRegister(*g_dev, 0x20000000, "SOME_REG", 0x0F, 0x10));
    EXPECT_STREQ("Unable to verify SOME_REG register, expected: 16, got: 15", g_errorMsg);
    ASSERT_EQ(3u, bench().sends().size());
    EXPECT_EQ(0x10, bench().sends()[1].cdb[6]) << "written: masked bits cleared plus the value";
}

TEST_F(TraceSetupTest, RegisterHelpersNameTheRegisterInTheirTexts) {
    bench().script(ScriptedAnswer::Status(0x0005).When({0xF2, 0x36}));
    unsigned value = 0;
    EXPECT_EQ(4, ReadDebugRegister(*g_dev, kLsr, "ITM_LSR", &value));
    EXPECT_STREQ("Reading register ITM_LSR", g_currentStep);
    EXPECT_STREQ("Unable to read ITM_LSR register, status: 4", g_errorMsg);
    bench().script(ScriptedAnswer::Transport(0).When({0xF2, 0x35}));
    EXPECT_EQ(3, WriteDebugRegister(*g_dev, kLar, "ITM_LAR", 1));
    EXPECT_STREQ("Writing register ITM_LAR", g_currentStep);
    EXPECT_STREQ("Unable to write ITM_LAR register, status: 3", g_errorMsg);
}

TEST_F(TraceSetupTest, NullFifoSizeIsRefusedBeforeAnyTraffic) {
    EXPECT_EQ(20, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ, nullptr));
    EXPECT_TRUE(bench().sends().empty());
}

}  // namespace
}  // namespace dravik::test
