// Interface clocks on each firmware family (fixed 1000 kHz, second-generation dividers,
// third-generation kHz), the setting conversions, the frequency lists and the probe frequency
// switch; and the bench's clock commands with their firmware and mode gates.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DbgDevFixture.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;
using Lines = std::vector<std::string>;
using List = std::vector<unsigned>;

constexpr unsigned char kSwd = 0;
constexpr unsigned char kJtag = 1;

// The message prints its frequencies with %d, so a request above INT_MAX shows as negative.
std::string Differs(unsigned com, unsigned applied, unsigned requested) {
    return " For Target communication " + std::to_string(com) +
           " (0:SWD/1:JTAG) real freq applied is " + std::to_string(static_cast<int>(applied)) +
           " KHz, requested freq was " + std::to_string(static_cast<int>(requested)) + " KHz.";
}

ExpectedCommand ModeQuery() {
    return In({0xF5}, 2);
}

ExpectedCommand SwdDivider(uint8_t lo, uint8_t hi) {
    return In({0xF2, 0x43, lo, hi}, 2);
}
ExpectedCommand JtagDivider(uint8_t lo, uint8_t hi) {
    return In({0xF2, 0x44, lo, hi}, 2);
}

ExpectedCommand SetFreq(uint8_t com, uint32_t kHz) {
    return In({0xF2, 0x61, com, 0x00, uint8_t(kHz), uint8_t(kHz >> 8), uint8_t(kHz >> 16),
               uint8_t(kHz >> 24)},
              8);
}

class ClocksTest : public BenchTest {
  protected:
    // One probe of generation `v` with debug firmware `j`, in `mode`, behind an open device object.
    DbgDev& OpenOn(uint8_t v, uint8_t j, uint8_t mode = sim::kModeIdle) {
        return OpenWith(TestProbe(v, j).mode(mode));
    }
    DbgDev& OpenWith(const sim::ProbeConfig& config) {
        dev_.reset();
        UseProbe(config);
        return OpenDevice();
    }
    sim::ProbeState& probeState() { return bench().probe(0).state; }

    static auto& swdClock(DbgDev& d) { return DbgDevTestPeer::swdClock(d); }
    static auto& jtagClock(DbgDev& d) { return DbgDevTestPeer::jtagClock(d); }
    static auto& swdKHz(DbgDev& d) { return DbgDevTestPeer::swdFreqKHz(d); }
    static auto& jtagKHz(DbgDev& d) { return DbgDevTestPeer::jtagFreqKHz(d); }
};

// --- conversions ---

TEST(ClockConversionTest, SettingToKHz) {
    const unsigned swd[] = {4000, 1800, 950, 480, 240, 125, 100, 50, 25, 15, 5};
    const unsigned jtag[] = {9000, 4500, 2250, 1125, 562, 281, 140};
    for (int s = 0; s < 11; ++s) {
        unsigned kHz = 0;
        EXPECT_EQ(0, DbgDev::ConvComClockToFreqKHz(0, DbgDev_SwClkT(s), DbgDev_JtagClkT(99), &kHz));
        EXPECT_EQ(swd[s], kHz) << s;
    }
    for (int s = 0; s < 7; ++s) {
        unsigned kHz = 0;
        EXPECT_EQ(0, DbgDev::ConvComClockToFreqKHz(1, DbgDev_SwClkT(99), DbgDev_JtagClkT(s), &kHz));
        EXPECT_EQ(jtag[s], kHz) << s;
    }
    const struct {
        unsigned char com;
        int sw, jt;
    } bad[] = {{0, 11, 0}, {0, -1, 0}, {1, 0, 7}, {1, 0, -1}, {2, 0, 0}, {255, 1, 3}};
    for (const auto& row : bad) {
        unsigned kHz = 4242;
        EXPECT_EQ(20, DbgDev::ConvComClockToFreqKHz(row.com, DbgDev_SwClkT(row.sw),
                                                    DbgDev_JtagClkT(row.jt), &kHz));
        EXPECT_EQ(4242u, kHz) << "left unchanged";
    }
    EXPECT_EQ(
        20, DbgDev::ConvComClockToFreqKHz(0, DbgDev_SwClk4000KHz, DbgDev_JtagClk9000KHz, nullptr));
}

TEST(ClockConversionTest, KHzToTheFastestSettingNotAboveIt) {
    const struct {
        unsigned char com;
        unsigned kHz;
        int setting;  // -1: none (20)
    } rows[] = {
        {0, 0xFFFFFFFF, 0}, {0, 4000, 0}, {0, 3999, 1}, {0, 1800, 1}, {0, 1799, 2}, {0, 950, 2},
        {0, 949, 3},        {0, 480, 3},  {0, 240, 4},  {0, 239, 5},  {0, 125, 5},  {0, 100, 6},
        {0, 99, 7},         {0, 50, 7},   {0, 25, 8},   {0, 24, 9},   {0, 15, 9},   {0, 14, 10},
        {0, 5, 10},         {0, 4, -1},   {0, 0, -1},   {1, 9001, 0}, {1, 9000, 0}, {1, 8999, 1},
        {1, 4500, 1},       {1, 2250, 2}, {1, 1125, 3}, {1, 1124, 4}, {1, 562, 4},  {1, 561, 5},
        {1, 281, 5},        {1, 280, 6},  {1, 140, 6},  {1, 139, -1}, {1, 0, -1},   {2, 4000, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "com " << int(row.com) << " " << row.kHz << " kHz");
        DbgDev_SwClkT sw = DbgDev_SwClkT(77);
        DbgDev_JtagClkT jt = DbgDev_JtagClkT(77);
        const int result = DbgDev::ConvFreqKHzToComClock(row.com, &sw, &jt, row.kHz);
        EXPECT_EQ(row.setting < 0 ? 20 : 0, result);
        // Only the pointer of the chosen interface is written.
        EXPECT_EQ(row.com == 0 && row.setting >= 0 ? row.setting : 77, int(sw));
        EXPECT_EQ(row.com == 1 && row.setting >= 0 ? row.setting : 77, int(jt));
    }
    DbgDev_JtagClkT jt = DbgDev_JtagClkT(77);
    DbgDev_SwClkT sw = DbgDev_SwClkT(77);
    EXPECT_EQ(20, DbgDev::ConvFreqKHzToComClock(0, nullptr, &jt, 4000));
    EXPECT_EQ(20, DbgDev::ConvFreqKHzToComClock(1, &sw, nullptr, 9000));
    EXPECT_EQ(77, int(jt));
    EXPECT_EQ(77, int(sw));
}

// --- second generation: divider settings ---

struct DividerRow {
    unsigned char com;
    unsigned requestKHz;
    int setting;
    uint8_t lo, hi;  // the divider on the wire
    unsigned settingKHz;
};

const DividerRow kDividerRows[] = {
    {kSwd, 4000, 0, 0x00, 0x00, 4000},  {kSwd, 4001, 0, 0x00, 0x00, 4000},
    {kSwd, 1800, 1, 0x01, 0x00, 1800},  {kSwd, 3000, 1, 0x01, 0x00, 1800},
    {kSwd, 950, 2, 0x03, 0x00, 950},    {kSwd, 480, 3, 0x07, 0x00, 480},
    {kSwd, 240, 4, 0x0F, 0x00, 240},    {kSwd, 125, 5, 0x1F, 0x00, 125},
    {kSwd, 100, 6, 0x28, 0x00, 100},    {kSwd, 50, 7, 0x4F, 0x00, 50},
    {kSwd, 25, 8, 0x9E, 0x00, 25},      {kSwd, 15, 9, 0x09, 0x01, 15},
    {kSwd, 14, 10, 0x1E, 0x03, 5},      {kSwd, 5, 10, 0x1E, 0x03, 5},
    {kJtag, 9000, 0, 0x04, 0x00, 9000}, {kJtag, 20000, 0, 0x04, 0x00, 9000},
    {kJtag, 4500, 1, 0x08, 0x00, 4500}, {kJtag, 2250, 2, 0x10, 0x00, 2250},
    {kJtag, 1125, 3, 0x20, 0x00, 1125}, {kJtag, 562, 4, 0x40, 0x00, 562},
    {kJtag, 281, 5, 0x80, 0x00, 281},   {kJtag, 140, 6, 0x00, 0x01, 140},
    {kJtag, 141, 6, 0x00, 0x01, 140},
};

TEST_F(ClocksTest, SecondGenerationSendsTheDividerOfTheNearestLowerSetting) {
    DbgDev& dev = OpenOn(2, 24);
    for (const DividerRow& row : kDividerRows) {
        SCOPED_TRACE(testing::Message() << "com " << int(row.com) << " " << row.requestKHz);
        bench().clearLog();
        log_.clear();
        swdClock(dev) = DbgDev_SwClk50KHz;
        jtagClock(dev) = DbgDev_JtagClk281KHz;
        swdKHz(dev) = 50;
        jtagKHz(dev) = 281;
        const bool exact = row.settingKHz == row.requestKHz;
        EXPECT_EQ(exact ? 0 : 36, dev.SetComFreq(row.com, row.requestKHz));
        if (row.com == kSwd) {
            EXPECT_TRUE(SentExactly({ModeQuery(), SwdDivider(row.lo, row.hi)}));
            EXPECT_EQ(row.setting, swdClock(dev));
            EXPECT_EQ(row.settingKHz, swdKHz(dev));
            EXPECT_EQ(DbgDev_JtagClk281KHz, jtagClock(dev));
            EXPECT_EQ(281u, jtagKHz(dev));
            EXPECT_EQ(row.lo | row.hi << 8, probeState().swdDivider);
        } else {
            EXPECT_TRUE(SentExactly({ModeQuery(), JtagDivider(row.lo, row.hi)}));
            EXPECT_EQ(row.setting, jtagClock(dev));
            EXPECT_EQ(row.settingKHz, jtagKHz(dev));
            EXPECT_EQ(DbgDev_SwClk50KHz, swdClock(dev));
            EXPECT_EQ(50u, swdKHz(dev));
            EXPECT_EQ(row.lo | row.hi << 8, probeState().jtagDivider);
        }
        EXPECT_EQ(row.settingKHz, probeState().appliedKHz[row.com]);
        if (exact) {
            EXPECT_TRUE(log_.lines().empty());
        } else {
            EXPECT_EQ(Lines{Differs(row.com, row.settingKHz, row.requestKHz)}, log_.lines());
        }
    }
}

TEST_F(ClocksTest, SecondGeneration3000KHzGivesSetting1AndTheWarning) {
    DbgDev& dev = OpenOn(2, 24);
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetComFreq(kSwd, 3000));
    EXPECT_TRUE(SentExactly({In({0xF5}, 2), In({0xF2, 0x43, 0x01, 0x00}, 2)}));
    EXPECT_EQ(DbgDev_SwClk1800KHz, swdClock(dev));
    EXPECT_EQ(1800u, swdKHz(dev));
    EXPECT_EQ(Lines{" For Target communication 0 (0:SWD/1:JTAG) real freq applied is 1800 KHz, "
                    "requested freq was 3000 KHz."},
              log_.lines());
}

TEST_F(ClocksTest, SecondGeneration15KHzIsSetting9ButNotInTheList) {
    DbgDev& dev = OpenOn(2, 24);
    EXPECT_EQ(0, dev.SetComFreq(kSwd, 15));
    EXPECT_TRUE(SentExactly({In({0xF5}, 2), In({0xF2, 0x43, 0x09, 0x01}, 2)}));
    EXPECT_EQ(DbgDev_SwClk15KHz, swdClock(dev));
    EXPECT_EQ(15u, swdKHz(dev));
    EXPECT_EQ(265, probeState().swdDivider);

    bench().clearLog();
    unsigned current = 0, count = 0;
    List list(10, 0xEE);
    EXPECT_EQ(0, dev.GetComFreq(kSwd, &current, &count, list.data()));
    EXPECT_EQ(15u, current);
    EXPECT_EQ(10u, count);
    EXPECT_EQ((List{4000, 1800, 950, 480, 240, 125, 100, 50, 25, 5}), list);
    EXPECT_TRUE(SentExactly({})) << "second-generation lists are known without asking";

    EXPECT_EQ(0, dev.GetComFreq(kJtag, &current, &count, list.data()));
    EXPECT_EQ(1125u, current);
    EXPECT_EQ(7u, count);
    EXPECT_EQ((List{9000, 4500, 2250, 1125, 562, 281, 140, 0, 0, 0}), list);
}

TEST_F(ClocksTest, SecondGenerationRequestsBelowEverySettingChangeNothing) {
    DbgDev& dev = OpenOn(2, 24);
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SetComFreq(kSwd, 4));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SetComFreq(kJtag, 139));
    EXPECT_TRUE(SentExactly({}));
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_EQ(DbgDev_SwClk1800KHz, swdClock(dev));
    EXPECT_EQ(DbgDev_JtagClk1125KHz, jtagClock(dev));
    EXPECT_EQ(1800u, swdKHz(dev));
    EXPECT_EQ(1125u, jtagKHz(dev));
}

TEST_F(ClocksTest, OutOfRangeSettingsProgramTheDefaultDividers) {
    DbgDev& dev = OpenOn(2, 24);
    swdKHz(dev) = 777;
    jtagKHz(dev) = 888;
    EXPECT_EQ(0, dev.SetSwClockFreq(DbgDev_SwClkT(11)));
    EXPECT_EQ(0, dev.SetJtagClockFreq(DbgDev_JtagClkT(7)));
    EXPECT_TRUE(
        SentExactly({ModeQuery(), SwdDivider(0x01, 0x00), ModeQuery(), JtagDivider(0x20, 0x00)}));
    EXPECT_EQ(11, swdClock(dev));
    EXPECT_EQ(7, jtagClock(dev));
    EXPECT_EQ(777u, swdKHz(dev)) << "the conversion failed: kHz kept";
    EXPECT_EQ(888u, jtagKHz(dev));

    // The remembered setting has no frequency, so the list cannot be reported.
    unsigned current = 5, count = 6;
    List list(10, 0xEE);
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetComFreq(kSwd, &current, &count, list.data()));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetComFreq(kJtag, &current, &count, list.data()));
    EXPECT_EQ(5u, current);
    EXPECT_EQ(6u, count);
    EXPECT_EQ(List(10, 0xEE), list);
}

TEST_F(ClocksTest, SettingsAreOnlyRememberedOutsideIdleAndDebugModes) {
    for (uint8_t mode : {uint8_t(sim::kModeDfu), uint8_t(sim::kModeMonowire), uint8_t(0x7F)}) {
        SCOPED_TRACE(int(mode));
        DbgDev& dev = OpenOn(2, 24, mode);
        EXPECT_EQ(0, dev.SetSwClockFreq(DbgDev_SwClk240KHz));
        EXPECT_EQ(0, dev.SetJtagClockFreq(DbgDev_JtagClk562KHz));
        EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetComFreq(kSwd, 30));
        EXPECT_TRUE(SentExactly({ModeQuery(), ModeQuery(), ModeQuery()}));
        EXPECT_EQ(DbgDev_SwClk25KHz, swdClock(dev));
        EXPECT_EQ(25u, swdKHz(dev));
        EXPECT_EQ(DbgDev_JtagClk562KHz, jtagClock(dev));
        EXPECT_EQ(562u, jtagKHz(dev));
        EXPECT_EQ(1, probeState().swdDivider) << "nothing programmed";
    }
}

TEST_F(ClocksTest, DebugModeTakesClockCommandsToo) {
    DbgDev& dev = OpenOn(2, 24);
    ASSERT_EQ(0, dev.JTAG_Enter(0));
    bench().clearLog();
    EXPECT_EQ(0, dev.SetJtagClockFreq(DbgDev_JtagClk4500KHz));
    EXPECT_TRUE(SentExactly({ModeQuery(), JtagDivider(0x08, 0x00)}));
    EXPECT_EQ(4500u, probeState().appliedKHz[1]);
}

TEST_F(ClocksTest, SecondGenerationFailuresOfTheSetter) {
    DbgDev& dev = OpenOn(2, 24);
    bench().script(ScriptedAnswer::Transport(0).When({0xF5}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.SetSwClockFreq(DbgDev_SwClk480KHz));
    EXPECT_EQ(DbgDev_SwClk480KHz, swdClock(dev)) << "stored before the probe is asked";
    EXPECT_EQ(480u, swdKHz(dev));
}

// A setting the setter could not apply is neither remembered nor reported as the warning 36: the
// setter's code comes back and the clock members stay as they were, whether the command or the
// mode query failed, and whether or not the setting differs from the request.
TEST_F(ClocksTest, SecondGenerationKHzRequestKeepsTheClockWhenTheSetterFails) {
    const struct {
        unsigned kHz;
        ScriptedAnswer failure;
        int result;
    } rows[] = {
        {950, ScriptedAnswer::Status(0x0081).When({0xF2, 0x43}), DBGDEV_PROBE_ERROR},
        {1000, ScriptedAnswer::Status(0x0081).When({0xF2, 0x43}), DBGDEV_PROBE_ERROR},
        {1000, ScriptedAnswer::Transport(0).When({0xF5}), DBGDEV_EXCHANGE_FAILURE},
    };
    DbgDev& dev = OpenOn(2, 24);
    ASSERT_EQ(0, dev.SetComFreq(kSwd, 240));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kHz);
        log_.clear();
        bench().script(row.failure);
        EXPECT_EQ(row.result, dev.SetComFreq(kSwd, row.kHz));
        EXPECT_EQ(DbgDev_SwClk240KHz, swdClock(dev));
        EXPECT_EQ(240u, swdKHz(dev));
        EXPECT_FALSE(log_.contains(Differs(0, 950, row.kHz)));
    }
    // After a setter that succeeds, a differing setting is the warning.
    log_.clear();
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetComFreq(kSwd, 1000));
    EXPECT_EQ(950u, swdKHz(dev));
    EXPECT_EQ(Lines{Differs(0, 950, 1000)}, log_.lines());
}

TEST_F(ClocksTest, EachInterfaceHasItsOwnGate) {
    DbgDev& dev = OpenOn(2, 22);  // SWD clock command from J22, JTAG clock command from J24
    EXPECT_EQ(0, dev.SetComFreq(kSwd, 950));
    EXPECT_TRUE(SentExactly({ModeQuery(), SwdDivider(0x03, 0x00)}));
    bench().clearLog();
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetComFreq(kJtag, 2250));
    EXPECT_EQ(1000u, jtagKHz(dev));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.SetJtagClockFreq(DbgDev_JtagClk2250KHz));
    EXPECT_EQ(
        "The detected Orvane firmware version (V2.J22) does not support the JCLK frequency "
        "selection. Default frequency kept.",
        log_.last());
    EXPECT_EQ(DbgDev_JtagClk1125KHz, jtagClock(dev));
    EXPECT_TRUE(SentExactly({}));
}

// --- fixed-clock firmware ---

TEST_F(ClocksTest, FixedClockFirmwareRunsAt1000KHz) {
    const struct {
        unsigned kHz;
        int result;
        bool message;
    } rows[] = {{1000, 0, false}, {999, 20, false}, {2000, 36, true}, {0, 20, false}};
    const struct { uint8_t v, j; } firmwares[] = {{2, 21}, {1, 13}};
    for (const auto& fw : firmwares) {
        DbgDev& dev = OpenOn(fw.v, fw.j);
        for (unsigned char com : {kSwd, kJtag}) {
            for (const auto& row : rows) {
                SCOPED_TRACE(testing::Message() << "V" << int(fw.v) << ".J" << int(fw.j) << " com "
                                                << int(com) << " " << row.kHz);
                log_.clear();
                swdKHz(dev) = 4321;
                jtagKHz(dev) = 4321;
                EXPECT_EQ(row.result, dev.SetComFreq(com, row.kHz));
                EXPECT_EQ(com == kSwd ? 1000u : 4321u, swdKHz(dev));
                EXPECT_EQ(com == kJtag ? 1000u : 4321u, jtagKHz(dev));
                if (row.message) {
                    EXPECT_EQ(Lines{Differs(com, 1000, row.kHz)}, log_.lines());
                } else {
                    EXPECT_TRUE(log_.lines().empty());
                }
            }
        }
        unsigned current = 0, count = 0;
        List list(10, 0xEE);
        EXPECT_EQ(0, dev.GetComFreq(kJtag, &current, &count, list.data()));
        EXPECT_EQ(1000u, current);
        EXPECT_EQ(1u, count);
        EXPECT_EQ((List{1000, 0, 0, 0, 0, 0, 0, 0, 0, 0}), list);
        EXPECT_TRUE(SentExactly({}));
    }
}

TEST_F(ClocksTest, FixedClockFirmwareRefusesTheSettings) {
    DbgDev& dev = OpenOn(2, 21);
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.SetSwClockFreq(DbgDev_SwClk4000KHz));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.SetJtagClockFreq(DbgDev_JtagClk9000KHz));
    EXPECT_EQ((Lines{"The detected Orvane firmware version (V2.J21) does not support the SWCLK "
                     "frequency selection. Default frequency kept.",
                     "The detected Orvane firmware version (V2.J21) does not support the JCLK "
                     "frequency selection. Default frequency kept."}),
              log_.lines());
    EXPECT_EQ(DbgDev_SwClk1800KHz, swdClock(dev));
    EXPECT_EQ(DbgDev_JtagClk1125KHz, jtagClock(dev));
    EXPECT_TRUE(SentExactly({}));
}

// --- arguments and state common to all families ---

TEST_F(ClocksTest, ComOtherThanSwdOrJtagIsRefused) {
    for (uint8_t v : {uint8_t(2), uint8_t(3)}) {
        DbgDev& dev = OpenOn(v, v == 2 ? 24 : 7);
        log_.clear();
        unsigned current = 0, count = 0, list[10] = {};
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SetComFreq(2, 1000));
        EXPECT_EQ(Lines{"Com parameter, 2, is not set to JTAG or SWD."}, log_.lines());
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetComFreq(2, &current, &count, list));
        EXPECT_EQ("Com parameter, 2, is not set to JTAG or SWD.", log_.last());
        log_.clear();
        // A null pointer is refused before the interface is looked at, without a message.
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetComFreq(2, nullptr, &count, list));
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetComFreq(0, &current, nullptr, list));
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetComFreq(0, &current, &count, nullptr));
        EXPECT_TRUE(log_.lines().empty());
        EXPECT_TRUE(SentExactly({}));
    }
}

TEST_F(ClocksTest, EverythingNeedsAnOpenProbe) {
    DbgDev& dev = MakeDevice();
    unsigned current = 0, count = 0, list[10] = {}, value = 9;
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.SetSwClockFreq(DbgDev_SwClk4000KHz));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.SetJtagClockFreq(DbgDev_JtagClk9000KHz));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.SetComFreq(0, 1000));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.GetComFreq(0, &current, &count, list));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.GetComFreq(0, nullptr, nullptr, nullptr));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.SwitchDravikFreq(2, &value));
    EXPECT_EQ(9u, value);
    EXPECT_EQ(DbgDev_SwClk1800KHz, swdClock(dev));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(log_.lines().empty());
}

// --- third generation: kHz requests ---

struct KHzRow {
    unsigned char com;
    unsigned requestKHz;
    unsigned appliedKHz;  // what the bench's probe applies from its list
};

const KHzRow kKHzRows[] = {
    {kSwd, 8000, 8000}, {kSwd, 4000, 3300},         {kSwd, 1, 5},      {kSwd, 100000, 24000},
    {kSwd, 5, 5},       {kJtag, 16000, 16000},      {kJtag, 800, 750}, {kJtag, 700, 750},
    {kJtag, 0, 750},    {kJtag, 0xFFFFFFFF, 21333},
};

TEST_F(ClocksTest, ThirdGenerationSendsKHzAndKeepsWhatTheProbeApplied) {
    DbgDev& dev = OpenOn(3, 7);
    for (const KHzRow& row : kKHzRows) {
        SCOPED_TRACE(testing::Message() << "com " << int(row.com) << " " << row.requestKHz);
        bench().clearLog();
        log_.clear();
        swdKHz(dev) = 11;
        jtagKHz(dev) = 22;
        const bool exact = row.appliedKHz == row.requestKHz;
        EXPECT_EQ(exact ? 0 : 36, dev.SetComFreq(row.com, row.requestKHz));
        EXPECT_TRUE(SentExactly({ModeQuery(), SetFreq(row.com, row.requestKHz)}));
        EXPECT_EQ(row.com == kSwd ? row.appliedKHz : 11u, swdKHz(dev));
        EXPECT_EQ(row.com == kJtag ? row.appliedKHz : 22u, jtagKHz(dev));
        EXPECT_EQ(row.appliedKHz, probeState().appliedKHz[row.com]);
        if (exact) {
            EXPECT_TRUE(log_.lines().empty());
        } else {
            EXPECT_EQ(Lines{Differs(row.com, row.appliedKHz, row.requestKHz)}, log_.lines());
        }
    }
    EXPECT_EQ(DbgDev_SwClk1800KHz, swdClock(dev)) << "kHz requests leave the settings alone";
    EXPECT_EQ(DbgDev_JtagClk1125KHz, jtagClock(dev));
}

TEST_F(ClocksTest, ThirdGenerationRequestBytesAreLittleEndian) {
    DbgDev& dev = OpenOn(3, 7);
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetComFreq(kSwd, 0x00012345));
    EXPECT_TRUE(
        SentExactly({In({0xF5}, 2), In({0xF2, 0x61, 0x00, 0x00, 0x45, 0x23, 0x01, 0x00}, 8)}));
}

TEST_F(ClocksTest, ThirdGenerationSettingsGoThroughTheKHzCommand) {
    DbgDev& dev = OpenOn(3, 7);
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetSwClockFreq(DbgDev_SwClk950KHz));
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetJtagClockFreq(DbgDev_JtagClk562KHz));
    EXPECT_EQ(DBGDEV_FREQUENCY_DIFFERS, dev.SetSwClockFreq(DbgDev_SwClkT(42)));
    EXPECT_TRUE(SentExactly({
        ModeQuery(),
        ModeQuery(),
        In({0xF2, 0x61, 0x00, 0x00, 0xB6, 0x03, 0x00, 0x00}, 8),
        ModeQuery(),
        ModeQuery(),
        In({0xF2, 0x61, 0x01, 0x00, 0x32, 0x02, 0x00, 0x00}, 8),
        ModeQuery(),
        ModeQuery(),
        In({0xF2, 0x61, 0x00, 0x00, 0x08, 0x07, 0x00, 0x00}, 8),
    }));
    EXPECT_EQ(42, swdClock(dev));
    EXPECT_EQ(1000u, swdKHz(dev)) << "1800 requested for an unknown setting, 1000 applied";
    EXPECT_EQ(DbgDev_JtagClk562KHz, jtagClock(dev));
    EXPECT_EQ(750u, jtagKHz(dev));
}

TEST_F(ClocksTest, ThirdGenerationOutsideIdleAndDebugOnlyRemembers) {
    for (uint8_t mode : {sim::kModeDfu, sim::kModeMonowire}) {
        SCOPED_TRACE(int(mode));
        DbgDev& dev = OpenOn(3, 7, mode);
        EXPECT_EQ(0, dev.SetComFreq(kSwd, 4000));
        EXPECT_EQ(4000u, swdKHz(dev));
        EXPECT_EQ(0, dev.SetComFreq(kJtag, 3));
        EXPECT_EQ(3u, jtagKHz(dev));
        unsigned current = 1, count = 2;
        List list(10, 0xEE);
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetComFreq(kSwd, &current, &count, list.data()));
        EXPECT_EQ(1u, current);
        EXPECT_EQ(2u, count);
        EXPECT_EQ(List(10, 0xEE), list);
        unsigned value = 0xABCD;
        EXPECT_EQ(0, dev.SwitchDravikFreq(2, &value));
        EXPECT_EQ(0xABCDu, value) << "untouched";
        EXPECT_TRUE(SentExactly({ModeQuery(), ModeQuery(), ModeQuery(), ModeQuery()}));
        EXPECT_EQ(1, probeState().probeFreqDivider);
    }
}

// Debug mode takes the third generation's list and switch commands as idle mode does.
TEST_F(ClocksTest, ThirdGenerationListAndSwitchInDebugMode) {
    DbgDev& dev = OpenOn(3, 7, sim::kModeDebug);
    unsigned current = 0, count = 0;
    List list(10, 0xEE);
    EXPECT_EQ(0, dev.GetComFreq(kSwd, &current, &count, list.data()));
    EXPECT_EQ(7u, count);
    EXPECT_EQ(24000u, list[0]);
    unsigned value = 0x1234;
    EXPECT_EQ(0, dev.SwitchDravikFreq(2, &value));
    EXPECT_EQ(0u, value);
    EXPECT_TRUE(SentExactly(
        {ModeQuery(), In({0xF2, 0x62, 0x00}, 52), ModeQuery(), In({0xF2, 0x63, 0x02}, 8)}));
    EXPECT_EQ(2, probeState().probeFreqDivider);

    // A mode query that fails ends the switch with its code, the value untouched.
    bench().clearLog();
    bench().script(ScriptedAnswer::Transport(0).When({0xF5}));
    value = 0x1234;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.SwitchDravikFreq(4, &value));
    EXPECT_EQ(0x1234u, value);
    EXPECT_TRUE(SentExactly({ModeQuery()}));
    EXPECT_EQ(2, probeState().probeFreqDivider);
}

TEST_F(ClocksTest, ThirdGenerationFailures) {
    DbgDev& dev = OpenOn(3, 7);
    bench().script(ScriptedAnswer::Transport(0).When({0xF5}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.SetComFreq(kSwd, 8000));
    EXPECT_EQ(8000u, swdKHz(dev)) << "stored before the probe is asked";

    // A refused request keeps the requested kHz, whatever the answer's bytes 4-7 say.
    bench().script(ScriptedAnswer::Status(0x0081, {0, 0, 0x88, 0x13, 0, 0}).When({0xF2, 0x61}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.SetComFreq(kSwd, 3300));
    EXPECT_EQ(3300u, swdKHz(dev));

    unsigned current = 1, count = 2;
    List list(10, 0xEE);
    bench().script(ScriptedAnswer::Status(0x0081).When({0xF2, 0x62}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.GetComFreq(kJtag, &current, &count, list.data()));
    EXPECT_EQ(1u, current);
    EXPECT_EQ(2u, count);
    EXPECT_EQ(List(10, 0xEE), list);
    bench().script(ScriptedAnswer::Transport(0).When({0xF5}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.GetComFreq(kJtag, &current, &count, list.data()));
}

TEST_F(ClocksTest, ThirdGenerationListsComeFromTheProbe) {
    DbgDev& dev = OpenOn(3, 7);
    ASSERT_EQ(0, dev.SetComFreq(kSwd, 8000));
    ASSERT_EQ(0, dev.SetComFreq(kJtag, 1777));
    bench().clearLog();
    unsigned current = 0, count = 0;
    List list(10, 0xEE);
    EXPECT_EQ(0, dev.GetComFreq(kSwd, &current, &count, list.data()));
    EXPECT_EQ(8000u, current);
    EXPECT_EQ(7u, count);
    EXPECT_EQ((List{24000, 8000, 3300, 1000, 200, 50, 5, 0, 0, 0}), list);
    EXPECT_EQ(0, dev.GetComFreq(kJtag, &current, &count, list.data()));
    EXPECT_EQ(1777u, current);
    EXPECT_EQ(6u, count);
    EXPECT_EQ((List{21333, 16000, 12000, 8000, 1777, 750, 0, 0, 0, 0}), list);
    EXPECT_TRUE(SentExactly(
        {ModeQuery(), In({0xF2, 0x62, 0x00}, 52), ModeQuery(), In({0xF2, 0x62, 0x01}, 52)}));
}

TEST_F(ClocksTest, ThirdGenerationListIsCopiedAsItComes) {
    DbgDev& dev = OpenOn(3, 7);
    std::vector<uint8_t> rest{0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x80};
    for (uint32_t i = 1; i <= 11; ++i) {  // eleven entries: the eleventh does not fit
        const uint32_t f = i * 0x01010101u;
        for (int b = 0; b < 4; ++b) {
            rest.push_back(uint8_t(f >> (8 * b)));
        }
    }
    bench().script(ScriptedAnswer::Status(0x0080, rest).When({0xF2, 0x62}));
    unsigned current = 0, count = 0;
    unsigned list[11] = {};
    list[10] = 0xEE;
    EXPECT_EQ(0, dev.GetComFreq(kSwd, &current, &count, list));
    EXPECT_EQ(10000u, current);
    EXPECT_EQ(0x8001000Cu, count) << "whatever the probe says, all 32 bits";
    for (unsigned i = 0; i < 10; ++i) {
        EXPECT_EQ((i + 1) * 0x01010101u, list[i]) << i;
    }
    EXPECT_EQ(0xEEu, list[10]) << "exactly ten entries are written";
}

// --- third generation: the probe frequency switch ---

TEST_F(ClocksTest, SwitchAcceptsDividers124Only) {
    DbgDev& dev = OpenOn(3, 7);
    for (unsigned char divider : {0, 3, 5, 8, 255}) {
        SCOPED_TRACE(int(divider));
        log_.clear();
        unsigned value = 0x55;
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SwitchDravikFreq(divider, &value));
        EXPECT_EQ(
            Lines{"divider not supported, " + std::to_string(divider) + ", (1, 2 or 4 supported)."},
            log_.lines());
        EXPECT_EQ(0x55u, value);
    }
    EXPECT_TRUE(SentExactly({}));
}

TEST_F(ClocksTest, SwitchRefusesANullValueBeforeSendingAnything) {
    DbgDev& dev = OpenOn(3, 7);
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SwitchDravikFreq(2, nullptr));
    EXPECT_TRUE(SentExactly({}));
    EXPECT_EQ(1, probeState().probeFreqDivider);
}

TEST_F(ClocksTest, SwitchNeedsTheThirdGeneration) {
    DbgDev& dev = OpenOn(2, 30);
    unsigned value = 0x55;
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.SwitchDravikFreq(2, &value));
    EXPECT_EQ(Lines{"The detected Orvane firmware version (V2.J30) does not support the "
                    "communication frequency selection (support started on V3). Default "
                    "frequency kept."},
              log_.lines());
    EXPECT_EQ(0x55u, value);
    EXPECT_TRUE(SentExactly({}));
}

TEST_F(ClocksTest, SwitchWithoutSettingChangesGivesZero) {
    DbgDev& dev = OpenOn(3, 7);
    for (unsigned char divider : {4, 2, 1}) {
        SCOPED_TRACE(int(divider));
        bench().clearLog();
        unsigned value = 0x1234;
        EXPECT_EQ(0, dev.SwitchDravikFreq(divider, &value));
        EXPECT_EQ(0u, value);
        EXPECT_TRUE(SentExactly({ModeQuery(), In({0xF2, 0x63, divider}, 8)}));
        EXPECT_EQ(divider, probeState().probeFreqDivider);
    }
    // Bytes 4-7 of a plain success are not handed on.
    bench().script(ScriptedAnswer::Status(0x0080, {0, 0, 1, 2, 3, 4}).When({0xF2, 0x63}));
    unsigned value = 0x1234;
    EXPECT_EQ(0, dev.SwitchDravikFreq(2, &value));
    EXPECT_EQ(0u, value);
    // Nor those of another failure.
    bench().script(ScriptedAnswer::Status(0x0081, {0, 0, 1, 2, 3, 4}).When({0xF2, 0x63}));
    value = 0x1234;
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.SwitchDravikFreq(2, &value));
    EXPECT_EQ(0u, value);
}

TEST_F(ClocksTest, SwitchThatChangedSettingsHandsOnTheValue) {
    sim::ProbeConfig config = TestProbe(3, 7).mode(sim::kModeIdle);
    config.switchFreqChangesSettings = true;
    config.switchFreqValue = 0xDEADBEEF;
    DbgDev& dev = OpenWith(config);
    unsigned value = 0;
    EXPECT_EQ(DBGDEV_SETTINGS_CHANGED, dev.SwitchDravikFreq(4, &value));
    EXPECT_EQ(0xDEADBEEFu, value);
    EXPECT_TRUE(SentExactly({ModeQuery(), In({0xF2, 0x63, 0x04}, 8)}));
    EXPECT_EQ(Lines{"Some Dravik settings have been automatically modified during the Dravik freq "
                    "switch: 0x40"},
              log_.lines());
    EXPECT_EQ(4, probeState().probeFreqDivider);
}

}  // namespace
}  // namespace dravik::test
