// The flash patch and breakpoint unit's registers: identification in FP_CTRL, the KEY rule for
// ENABLE, comparators by revision, FP_REMAP and the end of the comparator range.

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

struct FpCtrlCase {
    FpbConfig fpb;
    uint32_t fpCtrl;
};

class TargetFpCtrl : public ::testing::TestWithParam<FpCtrlCase> {};

TEST_P(TargetFpCtrl, IdentifiesRevisionAndComparatorCounts) {
    TargetConfig config;
    config.fpb = GetParam().fpb;
    TargetHarness h(config);
    EXPECT_EQ(h.read32(reg::kFpCtrl), GetParam().fpCtrl);
    EXPECT_EQ(fpCtrlResetValue(GetParam().fpb), GetParam().fpCtrl);
}

INSTANTIATE_TEST_SUITE_P(Configurations, TargetFpCtrl,
                         ::testing::Values(FpCtrlCase{FpbConfig{}, silicon::kFpCtrlCortexM4},
                                           FpCtrlCase{FpbConfig{1, 2, 0, false}, 0x00000020},
                                           FpCtrlCase{FpbConfig{2, 8, 0, false}, 0x10000080},
                                           FpCtrlCase{FpbConfig{1, 15, 15, true}, 0x00000FF0},
                                           FpCtrlCase{FpbConfig{2, 0, 0, true}, 0x10000000},
                                           // Above 15 the count continues in bits 14:12.
                                           FpCtrlCase{FpbConfig{1, 0x35, 1, true}, 0x00003150},
                                           FpCtrlCase{FpbConfig{2, 127, 15, true}, 0x10007FF0}));

TEST(TargetFpb, EnableChangesOnlyWithKey) {
    TargetHarness h;
    h.write32(reg::kFpCtrl, reg::fpctrl::kEnable);
    EXPECT_EQ(h.read32(reg::kFpCtrl), silicon::kFpCtrlCortexM4);
    h.write32(reg::kFpCtrl, reg::fpctrl::kEnable | reg::fpctrl::kKey);
    EXPECT_EQ(h.read32(reg::kFpCtrl), silicon::kFpCtrlCortexM4 | 1u);
    h.write32(reg::kFpCtrl, 0);
    EXPECT_EQ(h.read32(reg::kFpCtrl), silicon::kFpCtrlCortexM4 | 1u);
    // The identification fields are read-only.
    h.write32(reg::kFpCtrl, 0xFFFFFFFE);
    EXPECT_EQ(h.read32(reg::kFpCtrl), silicon::kFpCtrlCortexM4);
}

TEST(TargetFpb, RevisionOneComparatorsKeepReplaceCompAndEnable) {
    TargetHarness h;
    const uint32_t written[] = {0x48000101, 0xC8000101, 0x88000101, 0, 0xFFFFFFFF};
    const uint32_t readBack[] = {0x48000101, 0xC8000101, 0x88000101, 0, 0xDFFFFFFD};
    for (unsigned i = 0; i < 5; ++i) {
        h.write32(reg::fpComp(i), written[i]);
    }
    for (unsigned i = 0; i < 5; ++i) {
        EXPECT_EQ(h.read32(reg::fpComp(i)), readBack[i]) << i;
    }
}

TEST(TargetFpb, RevisionTwoComparatorsKeepTheWholeAddress) {
    TargetConfig config;
    config.fpb = FpbConfig{2, 8, 0, false};
    TargetHarness h(config);
    h.write32(reg::fpComp(7), 0x08000101);
    h.write32(reg::fpComp(0), 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::fpComp(7)), 0x08000101u);
    EXPECT_EQ(h.read32(reg::fpComp(0)), 0xFFFFFFFFu);
}

TEST(TargetFpb, ComparatorsBeyondTheImplementedOnesFault) {
    TargetHarness h;  // 6 code + 2 literal
    h.write32(reg::fpComp(7), 0x08000105);
    EXPECT_EQ(h.read32(reg::fpComp(7)), 0x08000105u);
    uint32_t v = 0;
    EXPECT_EQ(h.core.read(reg::fpComp(8), AccessSize::Word, v, h.tick()), BusStatus::Fault);
    EXPECT_EQ(h.core.write(reg::fpComp(8), AccessSize::Word, 0, h.tick()), BusStatus::Fault);
    EXPECT_EQ(h.core.read(reg::kFpCtrl + 0xFD0, AccessSize::Word, v, h.tick()), BusStatus::Fault);
}

TEST(TargetFpb, RemapKeepsItsAddressBitsWhenSupported) {
    TargetHarness h;
    EXPECT_EQ(h.read32(reg::kFpRemap), silicon::kFpRemapCortexM4);
    h.write32(reg::kFpRemap, 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::kFpRemap), 0x3FFFFFE0u);

    TargetConfig config;
    config.fpb.remapSupported = false;
    TargetHarness unsupported(config);
    unsupported.write32(reg::kFpRemap, 0xFFFFFFFF);
    EXPECT_EQ(unsupported.read32(reg::kFpRemap), 0u);
}

}  // namespace
}  // namespace dravik::sim::testing
