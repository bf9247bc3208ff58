#include <gtest/gtest.h>

#include "dravik/swv/TraceDoctor.h"

namespace dravik::swv {
namespace {

// The registers as DravikSetupDevice leaves the bench's Cortex-M4 at 72 MHz / 36, NRZ, all ports,
// with the formatter bypassed.
TraceRegisters goodSetup() {
    TraceRegisters r;
    r.demcr = 0x01000000;
    r.itmLsr = 0x00000001;
    r.itmTcr = 0x00010001;
    r.itmTer0 = 0xFFFFFFFF;
    r.itmTpr = 0;
    r.tpiuAcpr = 35;
    r.tpiuSppr = 2;
    r.tpiuType = 0x00000CA0;
    r.tpiuFfcr = 0x00000100;
    return r;
}

TraceExpectations benchExpectations() {
    TraceExpectations e;
    e.clockHz = 72000000;
    e.rateBps = 2000000;
    return e;
}

std::vector<std::string> texts(const TraceRegisters& r,
                               const TraceExpectations& e = benchExpectations()) {
    std::vector<std::string> out;
    for (const Finding& finding : explainTraceRegisters(r, e)) {
        out.push_back(std::string(severityName(finding.severity)) + ": " + finding.text);
    }
    return out;
}

TEST(TraceDoctor, AGoodSetupHasNothingToExplain) {
    EXPECT_TRUE(texts(goodSetup()).empty());
}

TEST(TraceDoctor, RegistersThatCouldNotBeReadAreNotJudged) {
    EXPECT_TRUE(texts(TraceRegisters{}).empty());
}

struct OneSetting {
    const char* name;
    void (*change)(TraceRegisters&);
    const char* finding;
};

void PrintTo(const OneSetting& setting, std::ostream* os) {
    *os << setting.name;
}

class TraceDoctorSettings : public testing::TestWithParam<OneSetting> {};

TEST_P(TraceDoctorSettings, ExplainsTheOneWrongSetting) {
    TraceRegisters r = goodSetup();
    GetParam().change(r);
    EXPECT_EQ(texts(r), std::vector<std::string>{GetParam().finding});
}

INSTANTIATE_TEST_SUITE_P(
    Registers, TraceDoctorSettings,
    testing::Values(
        OneSetting{"TraceOff", [](TraceRegisters& r) { r.demcr = 0; },
                   "problem: DEMCR.TRCENA is clear, so the DWT, ITM and TPIU are switched off"},
        OneSetting{"ItmLocked", [](TraceRegisters& r) { r.itmLsr = 3; },
                   "problem: the ITM is locked (ITM_LSR.SLK is set), so writes to its registers "
                   "are ignored"},
        OneSetting{"ItmOff", [](TraceRegisters& r) { r.itmTcr = 0x00010000; },
                   "problem: the ITM is disabled (ITM_TCR.ITMENA is clear), so it sends no "
                   "packets"},
        OneSetting{"NoPorts", [](TraceRegisters& r) { r.itmTer0 = 0; },
                   "problem: every stimulus port is disabled in ITM_TER0"},
        OneSetting{"Port0Off", [](TraceRegisters& r) { r.itmTer0 = 0xFFFFFFFE; },
                   "warning: stimulus port 0 is disabled in ITM_TER0"},
        OneSetting{"SomePortsOff", [](TraceRegisters& r) { r.itmTer0 = 0x00000003; },
                   "warning: stimulus ports 2-31 are disabled in ITM_TER0"},
        OneSetting{"Privileged", [](TraceRegisters& r) { r.itmTpr = 0x5; },
                   "note: stimulus ports 0-7, 16-23 take writes from privileged code only "
                   "(ITM_TPR 0x00000005)"},
        OneSetting{"SwoClock", [](TraceRegisters& r) { r.itmTcr = 0x00010011; },
                   "note: ITM_TCR.SWOENA is set: local timestamps count the TPIU's clock and "
                   "stop while the line is idle"},
        OneSetting{"SyncOff", [](TraceRegisters& r) { r.dwtCtrl = 0x40000000; },
                   "note: ITM synchronisation packets are off (ITM_TCR.SYNCENA=0, "
                   "DWT_CTRL.CYCCNTENA=0 SYNCTAP=0 NOCYCCNT=0): after a damaged byte the decoder "
                   "may stay lost"},
        OneSetting{"SyncOn",
                   [](TraceRegisters& r) {
                       r.dwtCtrl = 0x40000801;
                       r.itmTcr = 0x00010005;
                   },
                   "note: ITM synchronisation packets are on: one every 2^26 cycles (0.93 s at "
                   "72000000 Hz)"},
        OneSetting{"Parallel", [](TraceRegisters& r) { r.tpiuSppr = 0; },
                   "problem: TPIU_SPPR selects the parallel trace port, so nothing goes out on "
                   "SWO"},
        OneSetting{"Reserved", [](TraceRegisters& r) { r.tpiuSppr = 3; },
                   "problem: TPIU_SPPR holds the reserved value 3, so no SWO protocol is "
                   "selected"},
        OneSetting{"Manchester", [](TraceRegisters& r) { r.tpiuSppr = 1; },
                   "problem: TPIU_SPPR selects Manchester encoding, which the probe's receiver (a "
                   "UART, NRZ only) reads as garbage"},
        OneSetting{"NrzUnsupported", [](TraceRegisters& r) { r.tpiuType = 0x00000480; },
                   "problem: TPIU_SPPR selects NRZ, which this TPIU does not support "
                   "(TPIU_TYPE.NRZVALID is clear)"},
        OneSetting{"NoFifo", [](TraceRegisters& r) { r.tpiuType = 0x00000C00; },
                   "warning: TPIU_TYPE reports no FIFO size (FIFOSZ is 0), which the trace "
                   "setup refuses"},
        OneSetting{"WrongDivider", [](TraceRegisters& r) { r.tpiuAcpr = 71; },
                   "problem: TPIU_ACPR divides the 72000000 Hz clock by 72, giving 1000000 bit/s, "
                   "-50.0 % off the 2000000 bit/s the probe receives at"},
        OneSetting{"Formatter", [](TraceRegisters& r) { r.tpiuFfcr = 0x00000102; },
                   "warning: the TPIU formatter is on, so the stream is framed"}),
    [](const testing::TestParamInfo<OneSetting>& info) { return info.param.name; });

TEST(TraceDoctor, ATpiuWithoutSwoAlsoCannotTakeTheSelectedProtocol) {
    TraceRegisters r = goodSetup();
    r.tpiuType = 0x00000080;
    EXPECT_EQ(texts(r), (std::vector<std::string>{
                            "problem: TPIU_TYPE shows neither NRZ nor Manchester support: this "
                            "TPIU has no SWO output",
                            "problem: TPIU_SPPR selects NRZ, which this TPIU does not support "
                            "(TPIU_TYPE.NRZVALID is clear)"}));
}

TEST(TraceDoctor, ADividerWithinThreePercentIsFine) {
    TraceRegisters r = goodSetup();
    r.tpiuAcpr = 36;  // 72 MHz / 37: 2.7 % slow
    EXPECT_TRUE(texts(r).empty());
}

TEST(TraceDoctor, WithoutAnExpectedRateTheDividerIsNotJudged) {
    TraceRegisters r = goodSetup();
    r.tpiuAcpr = 0;
    EXPECT_TRUE(texts(r, TraceExpectations{}).empty());
}

TEST(TraceDoctor, OnlyTheWantedPortsCount) {
    TraceRegisters r = goodSetup();
    r.itmTer0 = 0x00000001;
    TraceExpectations e = benchExpectations();
    e.portMask = 0x1;
    EXPECT_TRUE(texts(r, e).empty());
    e.portMask = 0x6;
    EXPECT_EQ(texts(r, e), std::vector<std::string>{
                               "problem: stimulus ports 1-2 are disabled in ITM_TER0, so none of "
                               "the wanted ports sends"});
}

TEST(TraceDoctor, TraceBusIdZeroMattersOnlyWithTheFormatter) {
    TraceRegisters r = goodSetup();
    r.itmTcr = 0x00000001;
    EXPECT_TRUE(texts(r).empty());
    r.tpiuFfcr = 0x00000102;
    EXPECT_EQ(texts(r),
              (std::vector<std::string>{"warning: ITM_TCR.TraceBusID is 0 while the TPIU formatter "
                                        "is on: a formatter drops trace of ID 0",
                                        "warning: the TPIU formatter is on, so the stream is "
                                        "framed"}));
}

TEST(TraceDoctor, EveryFindingBlockingTraceSaysWhatToDo) {
    TraceRegisters r;
    r.demcr = 0;
    r.itmLsr = 3;
    r.itmTcr = 0;
    r.itmTer0 = 0;
    r.tpiuSppr = 0;
    for (const Finding& finding : explainTraceRegisters(r, benchExpectations())) {
        EXPECT_EQ(finding.severity, Severity::Blocking) << finding.text;
        EXPECT_FALSE(finding.hint.empty()) << finding.text;
    }
}

TEST(TraceDoctorDescriptions, ShowTheFields) {
    EXPECT_EQ(describeItmTcr(0x0081031F),
              "ITMENA=1 TSENA=1 SYNCENA=1 DWTENA=1 SWOENA=1 TSPrescale=3 TraceBusID=1 BUSY=1");
    EXPECT_EQ(describeItmLsr(0), "no lock");
    EXPECT_EQ(describeItmLsr(1), "unlocked");
    EXPECT_EQ(describeItmLsr(3), "locked");
    EXPECT_EQ(describeTpiuType(0x00000CA0), "NRZ yes, Manchester yes, FIFO 4 bytes");
    EXPECT_EQ(describeTpiuSppr(2), "SWO NRZ");
    EXPECT_EQ(describeTpiuSppr(1), "SWO Manchester");
    EXPECT_EQ(describeTpiuSppr(0), "parallel port");
    EXPECT_EQ(describeTpiuFfcr(0x102), "formatter on");
    EXPECT_EQ(describeTpiuFfcr(0x100), "formatter bypassed");
    EXPECT_EQ(describeTpiuAcpr(35, 72000000), "prescaler 36 (2000000 bit/s from 72000000 Hz)");
    EXPECT_EQ(describeTpiuAcpr(35, 0), "prescaler 36");
}

TEST(TraceDoctorDescriptions, PortSetsAsRanges) {
    EXPECT_EQ(describePortSet(0), "none");
    EXPECT_EQ(describePortSet(0x1), "0");
    EXPECT_EQ(describePortSet(0xFFFFFFFF), "0-31");
    EXPECT_EQ(describePortSet(0x8000003D), "0, 2-5, 31");
}

}  // namespace
}  // namespace dravik::swv
