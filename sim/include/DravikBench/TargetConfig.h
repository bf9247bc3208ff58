#pragma once
// Configuration of one simulated Armv7-M target: its memory map, its identity registers, its FPB,
// its trace blocks and the misbehaviours a test can ask for. Plain data; filled by tests or by the
// bench's loader.

#include <cstdint>
#include <optional>
#include <string>

#include "DravikBench/TraceConfig.h"

namespace dravik::sim {

// Register values and layout of the bench's default silicon: a Cortex-M4 r0p1 with FPU, a revision
// 1 FPB with 6 code and 2 literal comparators, 512 KiB of flash and 128 KiB of SRAM.
namespace silicon {
constexpr uint32_t kCpuidCortexM4r0p1 = 0x410FC241;
constexpr uint32_t kFpCtrlCortexM4 = 0x00000260;   // REV 0 (revision 1), NUM_LIT 2, NUM_CODE 6, off
constexpr uint32_t kFpRemapCortexM4 = 0x20000000;  // RMPSPT: remapping supported, REMAP 0
constexpr uint32_t kAircrReadReset = 0xFA050000;   // VECTKEYSTAT, PRIGROUP 0, little-endian
constexpr uint32_t kCcrReset = 0x00000200;         // STKALIGN
constexpr uint32_t kXpsrAfterReset = 0x01000000;   // Thumb bit from the reset vector's bit 0
constexpr uint32_t kLrAfterReset = 0xFFFFFFFF;

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kFlashSize = 512 * 1024;
constexpr uint32_t kSramBase = 0x20000000;
constexpr uint32_t kSramSize = 128 * 1024;
constexpr uint32_t kResetHandlerOffset = 0x100;  // reset vector = flash base + 0x100, Thumb bit set
constexpr uint8_t kErasedFlashByte = 0xFF;
}  // namespace silicon

// Content of an SRAM byte at `offset` from the SRAM base before anything writes it. Neighbouring
// bytes differ, so a write that spills over or lands at the wrong offset shows.
constexpr uint8_t sramCanaryByte(uint32_t offset) {
    return static_cast<uint8_t>(0xA5u ^ (offset & 0xFFu) ^ ((offset >> 8) & 0xFFu));
}

struct MemoryRegionConfig {
    uint32_t base = 0;
    uint32_t size = 0;  // bytes, a multiple of 4
};

struct FpbConfig {
    unsigned revision = 1;            // 1 or 2 (FP_CTRL.REV reads revision - 1)
    unsigned codeComparators = 6;     // 0..127 (FP_CTRL bits 14:12 and 7:4)
    unsigned literalComparators = 2;  // 0..15 (FP_CTRL bits 11:8)
    bool remapSupported = true;       // FP_REMAP.RMPSPT
};

// FP_CTRL as it reads after power-on (ENABLE clear).
constexpr uint32_t fpCtrlResetValue(const FpbConfig& fpb) {
    return ((static_cast<uint32_t>(fpb.revision - 1) & 0xFu) << 28) |
           (((fpb.codeComparators >> 4) & 0x7u) << 12) | ((fpb.literalComparators & 0xFu) << 8) |
           ((fpb.codeComparators & 0xFu) << 4);
}
static_assert(fpCtrlResetValue(FpbConfig{}) == silicon::kFpCtrlCortexM4);

// How the core comes out of every reset.
enum class LockupAfterReset : uint8_t {
    None,
    HaltRecovers,  // locked up (S_LOCKUP); the next halt request halts it
    Persistent,    // locked up; halt requests have no effect
};

// Misbehaviours for tests. All off by default: the target behaves like healthy silicon.
struct TargetScenario {
    bool staysInReset = false;  // no reset ever ends; the target is in reset from the start
    LockupAfterReset lockupAfterReset = LockupAfterReset::None;
    bool neverHalts = false;           // the core never enters Debug state (C_HALT, vector catch)
    bool sleepsOnVectorCatch = false;  // out of reset it sleeps in WFI where it would have halted
    bool idlesInWfi = false;           // whenever the core runs it sleeps in WFI (S_SLEEP)
    bool failNextCoreRegisterWrite = false;  // the first core register write reports VerifyFailed
};

struct TargetConfig {
    uint32_t cpuid = silicon::kCpuidCortexM4r0p1;
    MemoryRegionConfig flash{silicon::kFlashBase, silicon::kFlashSize};
    MemoryRegionConfig sram{silicon::kSramBase, silicon::kSramSize};
    // Vector table words written at the flash base; unset means top of SRAM and flash base + 0x101.
    std::optional<uint32_t> initialStackPointer;
    std::optional<uint32_t> resetVector;
    bool hasFpu = true;
    FpbConfig fpb;
    // Time a reset keeps the core in reset (after nRST is released, or from the AIRCR write on).
    uint64_t resetDurationUs = 0;
    TargetScenario scenario;
    // The ITM, TPIU and SWO pin, and the firmware that writes to the stimulus ports. The bench
    // attaches them to the target of every probe; the target model alone leaves them out.
    TraceConfig trace;
};

uint32_t initialStackPointerOf(const TargetConfig& config);
uint32_t resetVectorOf(const TargetConfig& config);

// Why the configuration cannot be simulated, or an empty text when it can.
std::string describeConfigError(const TargetConfig& config);

}  // namespace dravik::sim
