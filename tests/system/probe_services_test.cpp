// Probe services: the target voltage formula, the LED, the volume name and the MCO selection, each
// with its firmware gate and the state it leaves in the probe.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DbgDevFixture.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

constexpr uint8_t kCanary = 0xEE;
constexpr float kUnset = -1.0f;

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

class ProbeServicesTest : public BenchTest {
  protected:
    sim::SimProbe& probe() { return bench().probe(0); }
};

// --- target voltage ---

struct VoltageRow {
    uint32_t reference;  // A
    uint32_t target;     // B
    uint32_t voltsBits;  // ((B + B) * 1.2f) / A in single precision
};

const VoltageRow kVoltageRows[] = {
    {4096, 2048, 0x3F99999A},  // 1.2f exactly
    {1500, 2062, 0x40532619},  // in double precision, then rounded, it would be 0x40532618
    {1000, 1028, 0x401DE69C},  // dividing before multiplying would give 0x401DE69B
};

TEST_F(ProbeServicesTest, VoltageIsComputedInSinglePrecisionInItsOrder) {
    for (const VoltageRow& row : kVoltageRows) {
        SCOPED_TRACE(row.reference);
        sim::ProbeConfig config;
        config.voltageReference = row.reference;
        config.voltageTarget = row.target;
        UseProbe(config);
        DbgDev& dev = OpenDevice();
        float volts = kUnset;
        EXPECT_EQ(0, dev.GetTargetVoltage(&volts));
        EXPECT_EQ(row.voltsBits, Bits(volts)) << volts;
        EXPECT_TRUE(SentExactly({In({0xF7}, 8)}));
    }
    EXPECT_EQ(0x3F99999Au, Bits(1.2f));
}

TEST_F(ProbeServicesTest, ZeroReferenceLeavesTheVoltageUnsetAndSucceeds) {
    sim::ProbeConfig config;
    config.voltageReference = 0;
    UseProbe(config);
    DbgDev& dev = OpenDevice();
    float volts = kUnset;
    EXPECT_EQ(0, dev.GetTargetVoltage(&volts));
    EXPECT_EQ(kUnset, volts);
    EXPECT_TRUE(SentExactly({In({0xF7}, 8)}));
}

TEST_F(ProbeServicesTest, NullVoltageStillReadsTheProbe) {
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(0, dev.GetTargetVoltage(nullptr));
    EXPECT_TRUE(SentExactly({In({0xF7}, 8)}));
}

TEST_F(ProbeServicesTest, FailedVoltageReadLeavesTheVoltageAlone) {
    DbgDev& dev = OpenDevice();
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure));
    float volts = kUnset;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.GetTargetVoltage(&volts));
    EXPECT_EQ(kUnset, volts);
    // No status word: 0x0081 in the first bytes is a reading, not an error.
    bench().script(ScriptedAnswer::Bytes({0x81, 0, 0, 0, 0x81, 0, 0, 0}));
    EXPECT_EQ(0, dev.GetTargetVoltage(&volts));
    EXPECT_EQ(2.4f, volts);
}

// --- LED ---

TEST_F(ProbeServicesTest, BlinkSendsItsCommandWithoutCommandLength) {
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(0, dev.BlinkDravikLed());
    EXPECT_EQ(0, dev.BlinkDravikLed());
    EXPECT_TRUE(SentExactly({In({0xF2, 0x49}, 2, 0), In({0xF2, 0x49}, 2, 0)}));
    EXPECT_TRUE(RecordsWellFormed(bench().log()));
    EXPECT_EQ(2u, probe().state.ledBlinks);
}

TEST_F(ProbeServicesTest, BlinkErrorStatusComesBack) {
    DbgDev& dev = OpenDevice();
    bench().script(ScriptedAnswer::Status(0x0081));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.BlinkDravikLed());
    EXPECT_EQ("Error (0x81) after target cmd F2 49 00 00 00 00 00 00 00 00", log_.last());
}

// --- volume name ---

struct VolumeNameRow {
    unsigned short size;
    size_t copied;
};

TEST_F(ProbeServicesTest, VolumeNameCopiesAtMostTwelveBytesWithoutTerminator) {
    for (const VolumeNameRow& row :
         {VolumeNameRow{5, 5}, VolumeNameRow{12, 12}, VolumeNameRow{40, 12}, VolumeNameRow{1, 1}}) {
        SCOPED_TRACE(row.size);
        DbgDev& dev = OpenDevice();
        std::vector<uint8_t> name(48, kCanary);
        EXPECT_EQ(0, dev.GetMassStorageVolumeName(name.data(), row.size));
        EXPECT_TRUE(SentExactly({In({0xF2, 0x4A}, 14, 0)}));
        std::vector<uint8_t> expected(48, kCanary);
        std::memcpy(expected.data(), "DRAVIK_BENCH", row.copied);
        EXPECT_EQ(expected, name);
    }
}

TEST_F(ProbeServicesTest, ShortVolumeNameIsPaddedWithZeros) {
    sim::ProbeConfig config;
    config.volumeName = "NODE";
    UseProbe(config);
    DbgDev& dev = OpenDevice();
    std::vector<uint8_t> name(13, kCanary);
    EXPECT_EQ(0, dev.GetMassStorageVolumeName(name.data(), 12));
    EXPECT_EQ((std::vector<uint8_t>{'N', 'O', 'D', 'E', 0, 0, 0, 0, 0, 0, 0, 0, kCanary}), name);
}

TEST_F(ProbeServicesTest, VolumeNameBadArgumentsAndErrorsLeaveTheNameAlone) {
    DbgDev& dev = OpenDevice();
    uint8_t name[12];
    std::memset(name, kCanary, sizeof name);
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetMassStorageVolumeName(nullptr, 12));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetMassStorageVolumeName(name, 0));
    EXPECT_TRUE(bench().log().empty());
    bench().script(ScriptedAnswer::Status(0x0081, std::vector<uint8_t>(12, 'X')));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.GetMassStorageVolumeName(name, 12));
    EXPECT_EQ(std::vector<uint8_t>(12, kCanary), std::vector<uint8_t>(name, name + 12));
}

// --- firmware gates ---

// LED and volume name came with V2.J28, the voltage with V2.J13; the gate precedes every argument.
TEST_F(ProbeServicesTest, OldFirmwareIsRefusedBeforeAnythingIsSent) {
    UseProbe(TestProbe(2, 12));
    DbgDev& dev = OpenDevice();
    float volts = kUnset;
    uint8_t name[12] = {};
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetTargetVoltage(&volts));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.BlinkDravikLed());
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetMassStorageVolumeName(name, 12));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetMassStorageVolumeName(nullptr, 0));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(kUnset, volts);
    EXPECT_EQ((std::vector<std::string>{
                  "The detected Orvane firmware version (V2.J12) does not support the target "
                  "voltage reading.",
                  "The detected Orvane firmware version (V2.J12) does not support the LED blink "
                  "command.",
                  "The detected Orvane firmware version (V2.J12) does not support the mass storage "
                  "volume name reading.",
                  "The detected Orvane firmware version (V2.J12) does not support the mass storage "
                  "volume name reading.",
              }),
              log_.lines());
}

TEST_F(ProbeServicesTest, GatesOpenAtTheirFirstFirmware) {
    UseProbe(TestProbe(2, 27));
    DbgDev& dev = OpenDevice();
    float volts = kUnset;
    EXPECT_EQ(0, dev.GetTargetVoltage(&volts));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.BlinkDravikLed());
    EXPECT_TRUE(SentExactly({In({0xF7}, 8)}));

    UseProbe(TestProbe(2, 28));
    DbgDev& newer = OpenDevice();
    uint8_t name[12] = {};
    EXPECT_EQ(0, newer.BlinkDravikLed());
    EXPECT_EQ(0, newer.GetMassStorageVolumeName(name, 12));
    EXPECT_EQ(1u, probe().state.ledBlinks);
}

// --- MCO output selection ---

struct McoRow {
    int selection;
    uint8_t withSwitch;     // code sent by third-generation firmware
    uint8_t withoutSwitch;  // code sent by V2 firmware with the MCO selection
};

const McoRow kMcoRows[] = {
    {0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 2},
};

TEST_F(ProbeServicesTest, McoSelectionSendsItsCodeAndTheProbeKeepsIt) {
    for (const McoRow& row : kMcoRows) {
        for (const bool withSwitch : {true, false}) {
            SCOPED_TRACE(std::to_string(row.selection) + (withSwitch ? " V3" : " V2.J26"));
            UseProbe(withSwitch ? sim::ProbeConfig{} : TestProbe(2, 26).config);
            DbgDev& dev = OpenDevice();
            probe().state.mcoSelection = 0xFF;
            const uint8_t code = withSwitch ? row.withSwitch : row.withoutSwitch;
            EXPECT_EQ(0, dev.SelectMcoOutput(static_cast<DbgDev_McoSelT>(row.selection)));
            EXPECT_TRUE(SentExactly({In({0xFA, code}, 2)}));
            EXPECT_EQ(code, probe().state.mcoSelection);
        }
    }
}

TEST_F(ProbeServicesTest, McoSelectionOutOfRangeIsRefusedWithItsMessage) {
    DbgDev& dev = OpenDevice();
    for (const int selection : {5, 7, -1}) {
        log_.clear();
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SelectMcoOutput(static_cast<DbgDev_McoSelT>(selection)));
        EXPECT_EQ("Wrong parameter (" + std::to_string(selection) + ") in DbgDev::SelectMcoOutput.",
                  log_.last());
    }
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(ProbeServicesTest, McoSelectionWithoutTheCapabilityIsRefusedBeforeTheValue) {
    UseProbe(TestProbe(2, 25));
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.SelectMcoOutput(static_cast<DbgDev_McoSelT>(7)));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.SelectMcoOutput(DbgDev_McoHse));
    EXPECT_EQ(2u, log_.lines().size());
    EXPECT_EQ(
        "The detected Dravik firmware version (V2.J25) does not support the MCO output "
        "selection. Default output (HSE) kept.",
        log_.last());
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(ProbeServicesTest, McoSelectionOnAClosedProbeGives26BeforeTheGate) {
    DbgDev& dev = MakeDevice();  // no version read: every gate would be false
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.SelectMcoOutput(DbgDev_McoSel1));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.SelectMcoOutput(static_cast<DbgDev_McoSelT>(7)));
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_TRUE(bench().log().empty());
}

}  // namespace
}  // namespace dravik::test
