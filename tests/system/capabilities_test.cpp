// Firmware capability predicates, IsOldFwVersion and GetDravikGeneration over every generation V in
// 0..4 and debug firmware J in 0..63, against the firmware table written out here independently.
#include <gtest/gtest.h>

#include "DbgDev.h"
#include "DbgDevTestPeer.h"

namespace dravik::test {
namespace {

constexpr int kNever =
    64;  // beyond every J tested: the predicate is false for the whole generation
constexpr int kGenerations = 5;

struct PredicateRow {
    const char* name;
    bool (DbgDev::*predicate)() const;
    int firstJ[kGenerations];  // per V = 0..4: the first J for which the predicate holds
};

const PredicateRow kPredicates[] = {
    //                                                              V0      V1      V2      V3 V4
    {"FpuAndBoardType", &DbgDev::IsFpuAndBoardTypeFwCmdSupport, {kNever, kNever, 15, 0, 0}},
    {"JtagConnUnderReset", &DbgDev::IsJtagConnUnderResetFwSupport, {kNever, kNever, 15, 0, 0}},
    {"GetSetSwitchFreq", &DbgDev::IsGetSetSwitchFreqFwCmdSupport, {kNever, kNever, kNever, 0, 0}},
    {"TcpAndAp", &DbgDev::IsTcpAndApFwCmdSupport, {0, kNever, 28, 0, 0}},
    {"LedAndDiskName", &DbgDev::IsLedAndDiskNameFwCmdSupport, {0, kNever, 28, 0, 0}},
    {"VoltageNrstAndSwv", &DbgDev::IsVoltageNrstAndSwvFwCmdSupport, {0, kNever, 13, 0, 0}},
    {"SwdClk", &DbgDev::IsSwdClkFwCmdSupport, {0, kNever, 22, kNever, kNever}},
    {"JtagClk", &DbgDev::IsJtagClkFwCmdSupport, {0, kNever, 24, kNever, kNever}},
    {"DapReg", &DbgDev::IsDapRegFwCmdSupport, {0, kNever, 24, 0, 0}},
    {"McoSelAndRW16bit", &DbgDev::IsMcoSelAndRW16bitFwCmdSupport, {0, kNever, 26, 0, 0}},
};

// IsOldFwVersion holds from J0 up to this J (-1: never).
constexpr int kLastOldJ[kGenerations] = {-1, 12, 29, 0, -1};
constexpr int kGeneration[kGenerations] = {3, 1, 2, 3, 3};

TEST(CapabilitiesTest, EveryPredicateFollowsTheFirmwareTable) {
    DbgDev dev(DRAVIK_USB_INTERFACE);
    for (int v = 0; v < kGenerations; ++v) {
        for (int j = 0; j < 64; ++j) {
            DbgDevTestPeer::SetVersion(dev, v, j);
            for (const PredicateRow& row : kPredicates) {
                EXPECT_EQ(j >= row.firstJ[v], (dev.*row.predicate)())
                    << row.name << " at V" << v << ".J" << j;
            }
            EXPECT_EQ(j <= kLastOldJ[v], dev.IsOldFwVersion()) << "V" << v << ".J" << j;
            EXPECT_EQ(kGeneration[v], dev.GetDravikGeneration()) << "V" << v << ".J" << j;
        }
    }
}

TEST(CapabilitiesTest, ANewObjectSeesVersionZero) {
    DbgDev dev(DRAVIK_USB_INTERFACE);
    EXPECT_TRUE(dev.IsTcpAndApFwCmdSupport());
    EXPECT_TRUE(dev.IsSwdClkFwCmdSupport());
    EXPECT_TRUE(dev.IsJtagClkFwCmdSupport());
    EXPECT_FALSE(dev.IsFpuAndBoardTypeFwCmdSupport());
    EXPECT_FALSE(dev.IsGetSetSwitchFreqFwCmdSupport());
    EXPECT_FALSE(dev.IsOldFwVersion());
    EXPECT_EQ(3, dev.GetDravikGeneration());
}

TEST(CapabilitiesTest, GenerationsAboveTheTableCountAsThird) {
    DbgDev dev(DRAVIK_USB_INTERFACE);
    DbgDevTestPeer::SetVersion(dev, 255, 0);
    EXPECT_EQ(3, dev.GetDravikGeneration());
    EXPECT_TRUE(dev.IsGetSetSwitchFreqFwCmdSupport());
    EXPECT_FALSE(dev.IsSwdClkFwCmdSupport());
    EXPECT_FALSE(dev.IsOldFwVersion());
}

}  // namespace
}  // namespace dravik::test
