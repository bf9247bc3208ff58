#pragma once
// Addresses and bit fields of the Armv7-M System Control Space and FPB registers the target model
// implements. Shared by the model, the probe command handlers and the tests.

#include <cstdint>

namespace dravik::sim::armv7m {

// Private peripheral bus: word accesses only in this model.
constexpr uint32_t kPpbBase = 0xE0000000;
constexpr uint32_t kPpbLast = 0xE00FFFFF;

constexpr bool isPpbAddress(uint32_t address) {
    return address >= kPpbBase && address <= kPpbLast;
}

// System control block.
constexpr uint32_t kCpuid = 0xE000ED00;
constexpr uint32_t kVtor = 0xE000ED08;
constexpr uint32_t kAircr = 0xE000ED0C;
constexpr uint32_t kScr = 0xE000ED10;
constexpr uint32_t kCcr = 0xE000ED14;
constexpr uint32_t kCfsr = 0xE000ED28;
constexpr uint32_t kHfsr = 0xE000ED2C;
constexpr uint32_t kDfsr = 0xE000ED30;
constexpr uint32_t kCpacr = 0xE000ED88;

// Debug control block.
constexpr uint32_t kDhcsr = 0xE000EDF0;
constexpr uint32_t kDcrsr = 0xE000EDF4;
constexpr uint32_t kDcrdr = 0xE000EDF8;
constexpr uint32_t kDemcr = 0xE000EDFC;

// Flash patch and breakpoint unit.
constexpr uint32_t kFpCtrl = 0xE0002000;
constexpr uint32_t kFpRemap = 0xE0002004;
constexpr uint32_t kFpComp0 = 0xE0002008;
constexpr uint32_t fpComp(unsigned n) {
    return kFpComp0 + 4u * n;
}

namespace dhcsr {
constexpr uint32_t kKeyMask = 0xFFFF0000;
constexpr uint32_t kDbgKey = 0xA05F0000;
constexpr uint32_t kCDebugen = 1u << 0;
constexpr uint32_t kCHalt = 1u << 1;
constexpr uint32_t kCStep = 1u << 2;
constexpr uint32_t kCMaskints = 1u << 3;
constexpr uint32_t kCSnapstall = 1u << 5;
constexpr uint32_t kSRegrdy = 1u << 16;
constexpr uint32_t kSHalt = 1u << 17;
constexpr uint32_t kSSleep = 1u << 18;
constexpr uint32_t kSLockup = 1u << 19;
constexpr uint32_t kSRetireSt = 1u << 24;
constexpr uint32_t kSResetSt = 1u << 25;
}  // namespace dhcsr

namespace dcrsr {
constexpr uint32_t kRegSelMask = 0x7F;
constexpr uint32_t kRegWnR = 1u << 16;
}  // namespace dcrsr

namespace demcr {
constexpr uint32_t kVcCorereset = 1u << 0;
constexpr uint32_t kVcMmerr = 1u << 4;
constexpr uint32_t kVcNocperr = 1u << 5;
constexpr uint32_t kVcChkerr = 1u << 6;
constexpr uint32_t kVcStaterr = 1u << 7;
constexpr uint32_t kVcBuserr = 1u << 8;
constexpr uint32_t kVcInterr = 1u << 9;
constexpr uint32_t kVcHarderr = 1u << 10;
constexpr uint32_t kMonEn = 1u << 16;
constexpr uint32_t kMonPend = 1u << 17;
constexpr uint32_t kMonStep = 1u << 18;
constexpr uint32_t kMonReq = 1u << 19;
constexpr uint32_t kTrcena = 1u << 24;
constexpr uint32_t kWritable = kVcCorereset | kVcMmerr | kVcNocperr | kVcChkerr | kVcStaterr |
                               kVcBuserr | kVcInterr | kVcHarderr | kMonEn | kMonPend | kMonStep |
                               kMonReq | kTrcena;
}  // namespace demcr

namespace dfsr {
constexpr uint32_t kHalted = 1u << 0;
constexpr uint32_t kBkpt = 1u << 1;
constexpr uint32_t kDwttrap = 1u << 2;
constexpr uint32_t kVcatch = 1u << 3;
constexpr uint32_t kExternal = 1u << 4;
constexpr uint32_t kAll = kHalted | kBkpt | kDwttrap | kVcatch | kExternal;
}  // namespace dfsr

namespace aircr {
constexpr uint32_t kKeyMask = 0xFFFF0000;
constexpr uint32_t kVectKey = 0x05FA0000;
constexpr uint32_t kVectKeyStat = 0xFA050000;
constexpr uint32_t kVectReset = 1u << 0;
constexpr uint32_t kVectClrActive = 1u << 1;
constexpr uint32_t kSysResetReq = 1u << 2;
constexpr unsigned kPrigroupShift = 8;
constexpr uint32_t kPrigroupMask = 0x7u << kPrigroupShift;
}  // namespace aircr

namespace fpctrl {
constexpr uint32_t kEnable = 1u << 0;
constexpr uint32_t kKey = 1u << 1;
}  // namespace fpctrl

namespace fpremap {
constexpr uint32_t kRmpspt = 1u << 29;
constexpr uint32_t kRemapMask = 0x1FFFFFE0;
}  // namespace fpremap

// DCRSR REGSEL numbers.
namespace regsel {
constexpr unsigned kR0 = 0;
constexpr unsigned kR12 = 12;
constexpr unsigned kSp = 13;
constexpr unsigned kLr = 14;
constexpr unsigned kDebugReturnAddress = 15;
constexpr unsigned kXpsr = 16;
constexpr unsigned kMsp = 17;
constexpr unsigned kPsp = 18;
constexpr unsigned kUnassigned = 19;
constexpr unsigned kSpecial = 20;  // CONTROL 31:24, FAULTMASK 23:16, BASEPRI 15:8, PRIMASK 7:0
constexpr unsigned kFpscr = 0x21;
constexpr unsigned kS0 = 0x40;
constexpr unsigned kS31 = 0x5F;
}  // namespace regsel

}  // namespace dravik::sim::armv7m
