// Breakpoints: FPB comparators for both revisions as exact register values and as the model's
// comparators read them back, the software list against the model's SRAM, the bulk operations,
// and the probe's own flash patch commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;
using Commands = std::vector<ExpectedCommand>;

constexpr uint32_t kFpCtrl = armv7m::kFpCtrl;
constexpr uint32_t kSram = sim::silicon::kSramBase;
constexpr uint32_t kBp = 0x20001000;   // a software breakpoint address
constexpr uint32_t kBp2 = 0x20001006;  // another one, two bytes into a word

const ExpectedCommand kFpCtrlRead = DebugRead(kFpCtrl);
const ExpectedCommand kFpbOn = DebugWrite(kFpCtrl, 3);

ExpectedCommand CompWrite(unsigned n, uint32_t value) {
    return DebugWrite(armv7m::fpComp(n), value);
}

// A 2-byte access at an even address is one 16-bit transfer, then the long status query.
Commands Read2(uint32_t address) {
    ExpectedCommand read;
    read.cdb = Cdb({{0xF2, 0x47}, Le32(address), {0x02, 0x00, 0x00}});
    read.length = 2;
    return {read, In({0xF2, 0x3E}, 12)};
}
Commands Write2(uint32_t address, std::vector<uint8_t> bytes) {
    ExpectedCommand write;
    write.cdb = Cdb({{0xF2, 0x48}, Le32(address), {0x02, 0x00, 0x00}});
    write.direction = 0;
    write.length = 2;
    write.sent = std::move(bytes);
    return {write, In({0xF2, 0x3E}, 12)};
}

Commands Join(std::initializer_list<Commands> parts) {
    Commands all;
    for (const Commands& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<uint8_t> Canary(uint32_t address) {
    return {sim::sramCanaryByte(address - kSram), sim::sramCanaryByte(address + 1 - kSram)};
}
const std::vector<uint8_t> kBkpt = {0xBE, 0xBE};

class BreakpointsTest : public TargetTest {
  protected:
    // A connected third-generation probe; the default target has a revision 1 FPB with 6 code
    // comparators.
    DbgDev& Connected(sim::ProbeConfig config = DebugProbe()) {
        UseProbe(config);
        DbgDev& dev = OpenDevice();
        EXPECT_EQ(0, dev.OpenTarget(1, 0, 0, 0, 1));
        bench().clearLog();
        log_.clear();
        return dev;
    }
    DbgDev& ConnectedRev2() {
        sim::ProbeConfig config = DebugProbe();
        config.target.fpb.revision = 2;
        return Connected(config);
    }
    uint32_t ModelRegister(uint32_t address) {
        uint32_t value = 0;
        EXPECT_EQ(sim::BusStatus::Ok, Target().read(address, sim::AccessSize::Word, value, Now()));
        return value;
    }
    uint32_t ModelComp(unsigned n) { return ModelRegister(armv7m::fpComp(n)); }
    bool FpbEnabled() { return (ModelRegister(kFpCtrl) & armv7m::fpctrl::kEnable) != 0; }
    std::vector<uint8_t> Sram(uint32_t address) {
        std::vector<uint8_t> bytes(2);
        EXPECT_TRUE(Target().peekMemory(address, bytes.data(), 2));
        return bytes;
    }
    // By value: the shadow table is packed, its fields cannot be bound to references.
    static uint8_t SlotState(DbgDev& dev, int n) {
        return DbgDevTestPeer::flashPatch(dev)[n].state;
    }
    static uint32_t SlotAddress(DbgDev& dev, int n) {
        return DbgDevTestPeer::flashPatch(dev)[n].address;
    }
    static std::vector<SW_BKPT>& List(DbgDev& dev) { return DbgDevTestPeer::softBreakpoints(dev); }
};

// ---- Hardware breakpoints

TEST_F(BreakpointsTest, RevisionOneSharesAComparatorBetweenTheHalfWordsOfAWord) {
    DbgDev& dev = Connected();
    const struct {
        bool set;
        uint32_t address;
        Commands commands;
        uint32_t comp0;
        uint8_t state;
        uint32_t slotAddress;
        uint8_t used;
    } steps[] = {
        {true,
         0x08000100,
         {kFpCtrlRead, CompWrite(0, 0x48000101), kFpbOn},
         0x48000101,
         1,
         0x08000100,
         1},
        {true, 0x08000102, {CompWrite(0, 0xC8000101), kFpbOn}, 0xC8000101, 2, 0x08000100, 1},
        {false, 0x08000100, {CompWrite(0, 0x88000101), kFpbOn}, 0x88000101, 1, 0x08000102, 1},
        {false, 0x08000102, {CompWrite(0, 0)}, 0, 0, 0x08000102, 0},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(std::string(s.set ? "set " : "clear ") + std::to_string(s.address));
        bench().clearLog();
        EXPECT_EQ(
            0, s.set ? dev.SetBreakpoint(s.address, 1, 0) : dev.ClearBreakpoint(s.address, 1, 0));
        EXPECT_TRUE(SentExactly(s.commands));
        EXPECT_EQ(s.comp0, ModelComp(0));
        EXPECT_EQ(s.state, SlotState(dev, 0));
        EXPECT_EQ(s.slotAddress, SlotAddress(dev, 0));
        EXPECT_EQ(s.used, DbgDevTestPeer::flashPatchUsed(dev));
        EXPECT_TRUE(FpbEnabled()) << "FP_CTRL is never written with 0";
    }
    EXPECT_FALSE(DbgDevTestPeer::fpbRev2(dev));
    EXPECT_EQ(6, DbgDevTestPeer::fpbCodeComparators(dev));
}

TEST_F(BreakpointsTest, RevisionOneClearsEitherHalfOfASharedComparator) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000100, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000103, 1, 0));  // bit 0 ignored: the upper half-word
    bench().clearLog();
    EXPECT_EQ(0, dev.ClearBreakpoint(0x08000102, 1, 0));
    EXPECT_TRUE(SentExactly({CompWrite(0, 0x48000101), kFpbOn}));
    EXPECT_EQ(1, SlotState(dev, 0));
    EXPECT_EQ(0x08000100u, SlotAddress(dev, 0));
    EXPECT_EQ(0x48000101u, ModelComp(0));
}

TEST_F(BreakpointsTest, RevisionTwoTakesOneComparatorPerAddress) {
    DbgDev& dev = ConnectedRev2();
    EXPECT_EQ(0, dev.SetBreakpoint(0x08000101, 1, 0));
    EXPECT_TRUE(SentExactly({kFpCtrlRead, CompWrite(0, 0x08000101), kFpbOn}));
    EXPECT_TRUE(DbgDevTestPeer::fpbRev2(dev));
    EXPECT_EQ(0x08000101u, ModelComp(0));

    bench().clearLog();
    EXPECT_EQ(0, dev.SetBreakpoint(0x08000102, 1, 0));
    EXPECT_TRUE(SentExactly({CompWrite(1, 0x08000103), kFpbOn}));
    EXPECT_EQ(0x08000103u, ModelComp(1));
    EXPECT_EQ(2, DbgDevTestPeer::flashPatchUsed(dev));

    bench().clearLog();
    EXPECT_EQ(0, dev.ClearBreakpoint(0x08000100, 1, 0));
    EXPECT_TRUE(SentExactly({CompWrite(0, 0)}));
    EXPECT_EQ(0u, ModelComp(0));
    EXPECT_EQ(0x08000103u, ModelComp(1));
    EXPECT_EQ(1, DbgDevTestPeer::flashPatchUsed(dev));
}

// A revision 1 comparator matches only the code region and keeps address bits 28:2: an address
// above it that is not SRAM would become a breakpoint elsewhere (0x68000100 at 0x08000100,
// 0xE0001000 at 0x1000), so it is refused with nothing recorded or written. Revision 2 takes it.
TEST_F(BreakpointsTest, RevisionOneRefusesAddressesAboveTheCodeRegion) {
    DbgDev& dev = Connected();
    for (const uint32_t address : {0x68000100u, 0xE0001000u, 0x30000000u}) {
        SCOPED_TRACE(testing::Message() << std::hex << address);
        log_.clear();
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SetBreakpoint(address, 1, 0));
        char text[128];
        std::snprintf(text, sizeof text,
                      "Breakpoint address 0x%08x is outside the code region of this FPB (below "
                      "0x20000000)",
                      address);
        EXPECT_EQ(std::vector<std::string>{text}, log_.lines());
    }
    EXPECT_TRUE(SentExactly({kFpCtrlRead}));
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
    for (int n = 0; n < DbgDev::kFlashPatchSlots; ++n) {
        EXPECT_EQ(0, SlotState(dev, n)) << n;
    }
    EXPECT_FALSE(FpbEnabled());

    bench().clearLog();
    EXPECT_EQ(0, dev.SetBreakpoint(0x1FFFFFFE, 1, 0)) << "the last half-word of the code region";
    EXPECT_TRUE(SentExactly({CompWrite(0, 0x9FFFFFFD), kFpbOn}));

    DbgDev& rev2 = ConnectedRev2();
    EXPECT_EQ(0, rev2.SetBreakpoint(0x68000100, 1, 0));
    EXPECT_TRUE(SentExactly({kFpCtrlRead, CompWrite(0, 0x68000101), kFpbOn}));
}

TEST_F(BreakpointsTest, AllComparatorsInUseGives5AndWritesNothing) {
    for (const bool rev2 : {false, true}) {
        SCOPED_TRACE(rev2);
        DbgDev& dev = rev2 ? ConnectedRev2() : Connected();
        for (uint32_t i = 0; i < 6; ++i) {
            ASSERT_EQ(0, dev.SetBreakpoint(0x08000000 + 0x10 * i, 1, 0));
        }
        bench().clearLog();
        EXPECT_EQ(DBGDEV_NO_FREE_COMPARATOR, dev.SetBreakpoint(0x08000100, 1, 0));
        EXPECT_TRUE(SentExactly({}));
        EXPECT_EQ(6, DbgDevTestPeer::flashPatchUsed(dev));
        for (int n = 0; n < DbgDev::kFlashPatchSlots; ++n) {
            EXPECT_NE(0x08000100u, SlotAddress(dev, n)) << n;
        }
        // The other half-word of a used word still fits on revision 1 only.
        EXPECT_EQ(rev2 ? DBGDEV_NO_FREE_COMPARATOR : 0, dev.SetBreakpoint(0x08000012, 1, 0));
        EXPECT_TRUE(SentExactly(rev2 ? Commands{} : Commands{CompWrite(1, 0xC8000011), kFpbOn}));
        // The same breakpoint again is its own slot.
        bench().clearLog();
        EXPECT_EQ(0, dev.SetBreakpoint(0x08000050, 0, 0));
        EXPECT_TRUE(SentExactly({}));
    }
}

TEST_F(BreakpointsTest, SetTwiceClearOnceFreesTheComparator) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000200, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000200, 1, 0));
    EXPECT_EQ(1, DbgDevTestPeer::flashPatchUsed(dev));
    EXPECT_EQ(1, SlotState(dev, 0));
    ASSERT_EQ(0, dev.ClearBreakpoint(0x08000200, 1, 0));
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
    EXPECT_EQ(0, SlotState(dev, 0));
    EXPECT_EQ(0u, ModelComp(0));
}

TEST_F(BreakpointsTest, ClearOfAnAddressInNoSlotWritesNothing) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000100, 1, 0));
    DbgDevTestPeer::coreIdentified(dev) = false;
    bench().clearLog();
    EXPECT_EQ(0, dev.ClearBreakpoint(0x08000400, 1, 0));
    EXPECT_TRUE(SentExactly({kFpCtrlRead}));
    EXPECT_EQ(1, DbgDevTestPeer::flashPatchUsed(dev));
    EXPECT_EQ(0x48000101u, ModelComp(0));

    // A freed slot keeps its address: clearing that address again rewrites the free comparator.
    ASSERT_EQ(0, dev.ClearBreakpoint(0x08000100, 1, 0));
    bench().clearLog();
    EXPECT_EQ(0, dev.ClearBreakpoint(0x08000100, 1, 0));
    EXPECT_TRUE(SentExactly({CompWrite(0, 0)}));
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
}

TEST_F(BreakpointsTest, RecordedBreakpointsReachTheTargetOnUpdate) {
    DbgDev& dev = Connected();
    EXPECT_EQ(0, dev.SetBreakpoint(0x08000100, 0, 0));
    EXPECT_EQ(0, dev.SetBreakpoint(kBp, 0, 0));
    EXPECT_TRUE(SentExactly(Join({{kFpCtrlRead}, Read2(kBp)})));
    EXPECT_EQ(Canary(kBp), Sram(kBp));
    EXPECT_EQ(0u, ModelComp(0));

    bench().clearLog();
    EXPECT_EQ(0, dev.UpdateBreakpointsOnTarget(0));
    EXPECT_TRUE(SentExactly(Join({
        Write2(kBp, kBkpt),
        {CompWrite(0, 0x48000101), kFpbOn},
        {CompWrite(1, 0), CompWrite(2, 0), CompWrite(3, 0), CompWrite(4, 0), CompWrite(5, 0)},
    })));
    EXPECT_EQ(kBkpt, Sram(kBp));
    EXPECT_EQ(0x48000101u, ModelComp(0));
    EXPECT_TRUE(FpbEnabled());
}

TEST_F(BreakpointsTest, UpdateReadsTheFpbAfterTheSoftwareBreakpointsAndStopsAtAnError) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(kBp, 0, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(kBp2, 0, 0));
    bench().clearLog();
    bench().script(
        ScriptedAnswer::Status(0x0011).When(Cdb({{0xF2, 0x35}, Le32(armv7m::fpComp(2))})));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.UpdateBreakpointsOnTarget(0));
    EXPECT_TRUE(
        SentExactly(Join({Write2(kBp, kBkpt),
                          Write2(kBp2, kBkpt),
                          {kFpCtrlRead, CompWrite(0, 0), CompWrite(1, 0), CompWrite(2, 0)}})));
    EXPECT_EQ(kBkpt, Sram(kBp2));
}

TEST_F(BreakpointsTest, FailedIdentificationStillUpdatesTheTable) {
    DbgDev& dev = Connected();
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x36}));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.SetBreakpoint(0x08000100, 1, 0));
    EXPECT_TRUE(SentExactly({kFpCtrlRead}));
    EXPECT_EQ(1, SlotState(dev, 0));
    EXPECT_EQ(1, DbgDevTestPeer::flashPatchUsed(dev));
    EXPECT_EQ(0u, ModelComp(0));

    bench().clearLog();
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x36}));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.ClearBreakpoint(0x08000100, 1, 0));
    EXPECT_TRUE(SentExactly({kFpCtrlRead}));
    EXPECT_EQ(0, SlotState(dev, 0));
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
}

TEST_F(BreakpointsTest, ComparatorUpdateNeedsASlotInRange) {
    DbgDev& dev = Connected();
    for (const int slot : {-1, 6, 10}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.UpdateFlashPatchOnTarget(slot, 0));
    }
    EXPECT_TRUE(SentExactly({kFpCtrlRead}));
    bench().clearLog();
    EXPECT_EQ(0, dev.UpdateFlashPatchOnTarget(5, 0));
    EXPECT_TRUE(SentExactly({CompWrite(5, 0)}));

    // A failed identification refuses any slot.
    DbgDev& other = Connected();
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x36}));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, other.UpdateFlashPatchOnTarget(0, 0));
    EXPECT_TRUE(SentExactly({kFpCtrlRead}));
}

// ---- Software breakpoints

TEST_F(BreakpointsTest, SoftwareBreakpointSavesOnceAndPlantsEachTime) {
    DbgDev& dev = Connected();
    EXPECT_EQ(0, dev.SetBreakpoint(kBp, 1, 0));
    EXPECT_EQ(0, dev.SetBreakpoint(kBp, 1, 0));
    EXPECT_TRUE(SentExactly(Join({Read2(kBp), Write2(kBp, kBkpt), Write2(kBp, kBkpt)})));
    ASSERT_EQ(1u, List(dev).size());
    EXPECT_EQ(kBp, List(dev)[0].address);
    const std::vector<uint8_t> canary = Canary(kBp);
    EXPECT_EQ(canary[0] | canary[1] << 8, List(dev)[0].savedInstruction);
    EXPECT_EQ(kBkpt, Sram(kBp));

    bench().clearLog();
    EXPECT_EQ(0, dev.ClearBreakpoint(kBp, 0, 0));  // restored whatever apply says
    EXPECT_TRUE(SentExactly(Write2(kBp, canary)));
    EXPECT_EQ(canary, Sram(kBp));
    EXPECT_TRUE(List(dev).empty());

    EXPECT_EQ(DBGDEV_NO_SOFT_BREAKPOINT, dev.ClearBreakpoint(kBp, 1, 0));
    EXPECT_EQ(2u, bench().sends().size()) << "nothing more sent";
}

TEST_F(BreakpointsTest, SoftwareBreakpointKeepsTheAddressAsGiven) {
    DbgDev& dev = Connected();
    const uint32_t odd = kBp + 1;
    EXPECT_EQ(0, dev.SetBreakpoint(odd, 1, 0));
    ASSERT_EQ(1u, List(dev).size());
    EXPECT_EQ(odd, List(dev)[0].address);
    EXPECT_EQ(kBkpt, Sram(odd));
    EXPECT_EQ(sim::sramCanaryByte(kBp - kSram), Sram(kBp)[0]);
    // An odd address goes as one 8-bit transfer of 2 bytes.
    EXPECT_EQ(0x0C, bench().sends()[0].cdb[1]);
    EXPECT_EQ(DBGDEV_NO_SOFT_BREAKPOINT, dev.ClearBreakpoint(kBp, 1, 0));
    EXPECT_EQ(0, dev.ClearBreakpoint(odd, 1, 0));
    EXPECT_EQ(Canary(odd), Sram(odd));
}

TEST_F(BreakpointsTest, SoftwareBreakpointFailures) {
    DbgDev& dev = Connected();
    // A failed read records nothing and plants nothing.
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x3E}));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.SetBreakpoint(kBp, 1, 0));
    EXPECT_TRUE(List(dev).empty());
    EXPECT_EQ(2u, bench().sends().size());
    EXPECT_EQ(Canary(kBp), Sram(kBp));

    // A failed restore forgets the breakpoint all the same.
    ASSERT_EQ(0, dev.SetBreakpoint(kBp, 1, 0));
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure).When({0xF2, 0x48}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.ClearBreakpoint(kBp, 1, 0));
    EXPECT_TRUE(List(dev).empty());
    EXPECT_EQ(kBkpt, Sram(kBp));
}

TEST_F(BreakpointsTest, SaveAndRestoreWrappers) {
    DbgDev& dev = Connected();
    unsigned short saved = 0;
    EXPECT_EQ(0, dev.SetSoftBKPT(kBp, &saved, 0));
    const std::vector<uint8_t> canary = Canary(kBp);
    EXPECT_EQ(canary[0] | canary[1] << 8, saved);
    EXPECT_TRUE(SentExactly(Join({Read2(kBp), Read2(kBp), Write2(kBp, kBkpt)})));
    EXPECT_EQ(kBkpt, Sram(kBp));

    bench().clearLog();
    EXPECT_EQ(0, dev.RestoreSoftBKPT(kBp, 0x1234, 0));
    EXPECT_TRUE(SentExactly(Write2(kBp, {0x34, 0x12})));
    EXPECT_EQ((std::vector<uint8_t>{0x34, 0x12}), Sram(kBp));
    EXPECT_EQ(1u, List(dev).size()) << "the list is not touched";

    // Outside SRAM the wrapper sets a hardware breakpoint after saving the flash content.
    bench().clearLog();
    uint8_t flash[2] = {};
    ASSERT_TRUE(Target().peekMemory(0x08000200, flash, 2));
    EXPECT_EQ(0, dev.SetSoftBKPT(0x08000200, &saved, 0));
    EXPECT_EQ(flash[0] | flash[1] << 8, saved);
    EXPECT_EQ(0x48000201u, ModelComp(0));

    // A failed read leaves the caller's half-word and sets nothing.
    saved = 0x5A5A;
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x3E}));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.SetSoftBKPT(kBp2, &saved, 0));
    EXPECT_EQ(0x5A5A, saved);
    EXPECT_EQ(1u, List(dev).size());
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SetSoftBKPT(kBp2, nullptr, 0));
}

// ---- Bulk operations

TEST_F(BreakpointsTest, ClearAllRestoresInListOrderAndFreesEverySlot) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(kBp2, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(kBp, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000100, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000200, 1, 0));
    // Slots beyond the target's comparators, as a table set up for a larger FPB leaves them.
    for (int n = 6; n < DbgDev::kFlashPatchSlots; ++n) {
        DbgDevTestPeer::flashPatch(dev)[n] = HW_BKPT{0x08001000u + 0x10u * n, 0, 1};
    }
    DbgDevTestPeer::flashPatchUsed(dev) = 6;
    DbgDevTestPeer::coreIdentified(dev) = false;
    bench().clearLog();

    EXPECT_EQ(0, dev.ClearAllBreakpoint(0));
    EXPECT_TRUE(SentExactly(Join({
        Write2(kBp2, Canary(kBp2)),
        Write2(kBp, Canary(kBp)),
        {kFpCtrlRead},
        {CompWrite(0, 0), CompWrite(1, 0), CompWrite(2, 0), CompWrite(3, 0), CompWrite(4, 0),
         CompWrite(5, 0)},
    })));
    EXPECT_TRUE(List(dev).empty());
    for (int n = 0; n < DbgDev::kFlashPatchSlots; ++n) {
        EXPECT_EQ(0, SlotState(dev, n)) << n;
    }
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
    EXPECT_EQ(Canary(kBp), Sram(kBp));
    EXPECT_EQ(Canary(kBp2), Sram(kBp2));
    EXPECT_EQ(0u, ModelComp(0));
    EXPECT_EQ(0u, ModelComp(1));
    EXPECT_TRUE(FpbEnabled()) << "FP_CTRL is not written";
}

TEST_F(BreakpointsTest, ClearAllAfterAFailedRestoreStillEmptiesEverything) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(kBp, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(kBp2, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000100, 1, 0));
    bench().clearLog();
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure).When({0xF2, 0x48}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.ClearAllBreakpoint(0));
    EXPECT_EQ(1u, bench().sends().size()) << "no further restore, no comparator written";
    EXPECT_TRUE(List(dev).empty());
    EXPECT_EQ(0, SlotState(dev, 0));
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
    EXPECT_EQ(0x48000101u, ModelComp(0));
}

TEST_F(BreakpointsTest, BulkOperationsNeedAnOpenProbe) {
    DbgDev& dev = Connected();
    ASSERT_EQ(0, dev.SetBreakpoint(kBp, 1, 0));
    ASSERT_EQ(0, dev.SetBreakpoint(0x08000100, 1, 0));
    ASSERT_EQ(0, dev.CloseDravik());
    bench().clearLog();
    EXPECT_EQ(DBGDEV_NO_TARGET, dev.UpdateBreakpointsOnTarget(0));
    EXPECT_EQ(DBGDEV_NO_TARGET, dev.ClearAllBreakpoint(0));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(1u, List(dev).size());
    EXPECT_EQ(1, SlotState(dev, 0));
    EXPECT_EQ(1, DbgDevTestPeer::flashPatchUsed(dev));
}

// ---- The probe's flash patch commands

TEST_F(BreakpointsTest, FlashPatchCommandsProgramTheComparatorThroughTheProbe) {
    DbgDev& dev = Connected();
    const struct {
        uint8_t comparator;
        uint32_t address;
        int wholeWord;
        uint8_t mode;
        uint32_t comp;
    } cases[] = {
        {3, 0x08000100, 1, 2, 0xC8000101},
        {1, 0x08000102, 0, 1, 0x88000101},
        {0, 0x08000100, 0, 0, 0x48000101},
        {2, 0x08000106, -4, 2, 0xC8000105},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comparator);
        bench().clearLog();
        EXPECT_EQ(0, dev.SetFlashPatch(c.comparator, c.address, c.wholeWord));
        ExpectedCommand e;
        e.cdb = Cdb({{0xF2, 0x38, c.comparator}, Le32(c.address), {c.mode}});
        e.length = 2;
        EXPECT_TRUE(SentExactly({e}));
        EXPECT_EQ(c.comp, ModelComp(c.comparator));
    }
    EXPECT_TRUE(FpbEnabled());
    bench().clearLog();
    EXPECT_EQ(0, dev.ClearFlashPatch(3));
    EXPECT_TRUE(SentExactly({In({0xF2, 0x39, 0x03}, 2)}));
    EXPECT_EQ(0u, ModelComp(3));
    // The shadow table knows nothing of them.
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
    for (int n = 0; n < DbgDev::kFlashPatchSlots; ++n) {
        EXPECT_EQ(0, SlotState(dev, n)) << n;
    }
    // The probe's refusal is the transport's code.
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ClearFlashPatch(6));
}

}  // namespace
}  // namespace dravik::test
