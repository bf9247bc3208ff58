// Core and FPU registers: the register cache layout, single register access, the write-verify
// status, on the wire and against the target model.
#include <gtest/gtest.h>

#include <vector>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

class CoreRegistersTest : public TargetTest {
  protected:
    // An all-registers answer: status, two pad bytes, then `words`.
    static ScriptedAnswer RegisterAnswer(uint16_t status, const std::vector<uint32_t>& words) {
        std::vector<uint8_t> rest{0, 0};
        for (uint32_t w : words) {
            const std::vector<uint8_t> bytes = Le32(w);
            rest.insert(rest.end(), bytes.begin(), bytes.end());
        }
        return ScriptedAnswer::Status(status, rest);
    }
};

TEST_F(CoreRegistersTest, AllRegistersFillTheCacheWithTheXpsrSplit) {
    DbgDev& dev = Connect();
    std::vector<uint32_t> words(21);
    for (unsigned reg = 0; reg < 21; ++reg) {
        words[reg] = 0x1000 + reg;
    }
    words[16] = 0x61000003;
    words[19] = 0xDEADBEEF;  // unassigned: not stored
    bench().script(RegisterAnswer(0x0080, words));

    EXPECT_EQ(0, dev.ReadAllRegisters(0x100));

    const uint32_t expected[DbgDev::kCoreRegCacheSize] = {
        0x1000, 0x1001,     0x1002, 0x1003, 0x1004,     0x1005, 0x1006, 0x1007,
        0x1008, 0x1009,     0x100A, 0x100B, 0x100C,     0x100D, 0x100E, 0x60000000,
        0x3,    0x01000000, 0x1011, 0x1012, 0x61000003, 0x100F, 0x1014};
    const auto& cache = DbgDevTestPeer::coreRegs(dev);
    for (int i = 0; i < DbgDev::kCoreRegCacheSize; ++i) {
        EXPECT_EQ(expected[i], cache[i]) << "index " << i;
    }
    EXPECT_TRUE(SentExactly({In({0xF2, 0x3A, 0x00}, 88)}));
}

TEST_F(CoreRegistersTest, AllRegistersFromTheHaltedModel) {
    DbgDev& dev = Connect();
    HaltTarget();
    for (unsigned reg = 0; reg <= 12; ++reg) {
        ASSERT_EQ(sim::RegisterAccess::Ok, Target().writeCoreRegister(reg, 0xA0 + reg, Now()));
    }
    ASSERT_EQ(sim::RegisterAccess::Ok, Target().writeCoreRegister(16, 0x21000010, Now()));
    ASSERT_EQ(sim::RegisterAccess::Ok, Target().writeCoreRegister(18, 0x20001000, Now()));

    EXPECT_EQ(0, dev.ReadAllRegisters(0));
    const auto& cache = DbgDevTestPeer::coreRegs(dev);
    EXPECT_EQ(0xA0u, cache[0]);
    EXPECT_EQ(0xACu, cache[12]);
    EXPECT_EQ(sim::initialStackPointerOf(sim::TargetConfig{}), cache[13]);  // MSP as SP
    EXPECT_EQ(sim::silicon::kLrAfterReset, cache[14]);
    EXPECT_EQ(0x20000000u, cache[15]);
    EXPECT_EQ(0x10u, cache[16]);
    EXPECT_EQ(0x01000000u, cache[17]);
    EXPECT_EQ(0x20001000u, cache[19]);
    EXPECT_EQ(0x21000010u, cache[20]);
    EXPECT_EQ(sim::resetVectorOf(sim::TargetConfig{}) & ~1u, cache[21]);
}

TEST_F(CoreRegistersTest, FailedReadStillRewritesTheCache) {
    DbgDev& dev = Connect();  // the core runs: the bench answers 0x0081 and no registers
    auto& cache = DbgDevTestPeer::coreRegs(dev);
    for (auto& word : cache) {
        word = 0xFFFFFFFF;
    }
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ReadAllRegisters(0));
    for (int i = 0; i < DbgDev::kCoreRegCacheSize; ++i) {
        EXPECT_EQ(0u, cache[i]) << "index " << i;
    }
    EXPECT_EQ("Error (0x81) after target cmd F2 3A 00 00 00 00 00 00 00 00", log_.last());
}

TEST_F(CoreRegistersTest, FpuRegistersNeedTheirFirmware) {
    DbgDev& old = Connect(DebugProbe(2, 14));
    DbgDevTestPeer::fpuRegs(old)[0] = 0x12345678;
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, old.ReadFpuRegisters(0));
    EXPECT_EQ(0x12345678u, DbgDevTestPeer::fpuRegs(old)[0]);
    EXPECT_TRUE(bench().log().empty());

    DbgDev& dev = Connect();
    HaltTarget();
    for (unsigned i = 0; i < 32; ++i) {
        ASSERT_EQ(sim::RegisterAccess::Ok, Target().writeFpuRegister(i, 0x3F800000 + i, Now()));
    }
    ASSERT_EQ(sim::RegisterAccess::Ok, Target().writeFpuRegister(32, 0x00000010, Now()));
    EXPECT_EQ(0, dev.ReadFpuRegisters(0));
    const auto& fpu = DbgDevTestPeer::fpuRegs(dev);
    for (unsigned i = 0; i < 32; ++i) {
        EXPECT_EQ(0x3F800000 + i, fpu[i]) << i;
    }
    EXPECT_EQ(0x10u, fpu[32]);
    EXPECT_TRUE(SentExactly({In({0xF2, 0x3D, 0x00}, 136)}));
}

TEST_F(CoreRegistersTest, TargetWithoutFpuRefusesItsRegisters) {
    sim::ProbeConfig config = DebugProbe();
    config.target.hasFpu = false;
    DbgDev& dev = Connect(config);
    HaltTarget();
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ReadFpuRegisters(0));
}

TEST_F(CoreRegistersTest, SingleRegisterRead) {
    DbgDev& dev = Connect();
    bench().script(ScriptedAnswer::Status(0x0080, {0x00, 0x00, 0x00, 0x10, 0x00, 0x08}));
    unsigned value = 0;
    EXPECT_EQ(0, dev.ReadRegister(15, &value, 0));
    EXPECT_EQ(0x08001000u, value);
    EXPECT_TRUE(SentExactly({In({0xF2, 0x33, 0x0F, 0x00}, 8)}));

    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadRegister(15, nullptr, 0));
    EXPECT_EQ(1u, bench().sends().size());
    EXPECT_TRUE(log_.lines().empty());

    // The running core: the bench refuses, the value stays.
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ReadRegister(15, &value, 0));
    EXPECT_EQ(0x08001000u, value);

    HaltTarget();
    EXPECT_EQ(0, dev.ReadRegister(13, &value, 1));
    EXPECT_EQ(sim::initialStackPointerOf(sim::TargetConfig{}), value);
}

TEST_F(CoreRegistersTest, SingleRegisterWriteOnTheWireAndInTheModel) {
    DbgDev& dev = Connect();
    HaltTarget();
    EXPECT_EQ(0, dev.WriteRegister(16, 0x01000000, 0));
    EXPECT_EQ(0, dev.WriteRegister(0, 0xCAFEF00D, 0x101));
    EXPECT_TRUE(SentExactly({
        In({0xF2, 0x34, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00}, 2),
        In({0xF2, 0x34, 0x00, 0x0D, 0xF0, 0xFE, 0xCA, 0x01}, 2),
    }));
    uint32_t value = 0;
    ASSERT_EQ(sim::RegisterAccess::Ok, Target().readCoreRegister(0, value, Now()));
    EXPECT_EQ(0xCAFEF00Du, value);
}

TEST_F(CoreRegistersTest, WriteVerifyErrorIsTakenAsDone) {
    const struct {
        uint16_t status;
        int result;
        const char* message;
    } cases[] = {
        {0x000D, 0, "Core register write verif error (ignored),writing 0x1000000 to reg 16"},
        {0x000E, 19, "Error (0xe) after target cmd F2 34 10 00 00 00 01 00 00 00"},
        {0x0011, 32, "Access Port fault: 0x11"},
    };
    DbgDev& dev = Connect();
    for (const auto& c : cases) {
        bench().script(ScriptedAnswer::Status(c.status));
        EXPECT_EQ(c.result, dev.WriteRegister(16, 0x01000000, 0)) << c.status;
        EXPECT_EQ(c.message, log_.last());
    }
}

TEST_F(CoreRegistersTest, ModelVerifyFailureStillWritesTheRegister) {
    sim::ProbeConfig config = DebugProbe();
    config.target.scenario.failNextCoreRegisterWrite = true;
    DbgDev& dev = Connect(config);
    HaltTarget();
    EXPECT_EQ(0, dev.WriteRegister(2, 0x00000ABC, 0));
    EXPECT_EQ("Core register write verif error (ignored),writing 0x0abc to reg 2", log_.last());
    uint32_t value = 0;
    ASSERT_EQ(sim::RegisterAccess::Ok, Target().readCoreRegister(2, value, Now()));
    EXPECT_EQ(0xABCu, value);
    // Not halted: an error status the write-verify exception does not cover.
    ASSERT_EQ(sim::BusStatus::Ok, Target().write(armv7m::kDhcsr, sim::AccessSize::Word,
                                                 armv7m::dhcsr::kDbgKey | 0x0001, Now()));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.WriteRegister(2, 1, 0));
}

}  // namespace
}  // namespace dravik::test
