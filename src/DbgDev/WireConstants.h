// The numbers of the probe protocol and of the target, by name: status words, probe modes, answer
// field offsets, breakpoint slot states, and the Cortex-M and CoreSight registers the library
// reaches with their keys and bits. Written from the protocol and the architecture on their own:
// the bench keeps its own names, so that each side checks the other.
#ifndef DRAVIK_WIRE_CONSTANTS_H
#define DRAVIK_WIRE_CONSTANTS_H

#include <cstdint>

namespace dravik {

// Status words: the first two answer bytes of the commands that report one, little-endian.
namespace status {
constexpr uint16_t kOk = 0x0080;
constexpr uint16_t kUnknownJtagChain = 0x0004;
constexpr uint16_t kNoTargetDevice = 0x0005;
constexpr uint16_t kIdcodeError = 0x0009;
constexpr uint16_t kWriteVerifyFailed = 0x000D;  // core register write: the read-back differed
constexpr uint16_t kApInUse = 0x001B;
constexpr uint16_t kApNewOwner = 0x001C;
constexpr uint16_t kApBadIndex = 0x001D;
constexpr uint16_t kSettingsChanged = 0x0040;  // a probe frequency switch changed settings

// The four access port faults and the two TCP id errors.
constexpr bool IsApFault(uint16_t word) {
    return word == 0x0011 || word == 0x0018 || word == 0x0019 || word == 0x001A;
}
constexpr bool IsTcpIdError(uint16_t word) {
    return word == 0x0030 || word == 0x0031;
}
}  // namespace status

// Probe modes, byte 0 of the mode query's answer; every other value is DFU.
namespace mode {
constexpr uint16_t kIdle = 1;
constexpr uint16_t kDebug = 2;
constexpr uint16_t kMonowire = 3;

// Clock commands and the reset line are only sent to a probe in one of these two modes.
constexpr bool TakesInterfaceCommands(uint16_t probeMode) {
    return probeMode == kIdle || probeMode == kDebug;
}
}  // namespace mode

// The third byte of the debug entry command.
namespace entry {
constexpr uint8_t kSwd = 0xA3;
constexpr uint8_t kJtag = 0xA4;
}  // namespace entry

// Where fields sit in the answers.
namespace answer {
constexpr unsigned kWord = 4;        // after the status word and two pad bytes
constexpr unsigned kSecondWord = 8;  // identification codes; the frequency count
constexpr unsigned kFrequencyList = 12;
constexpr unsigned kVolumeName = 2;     // straight after the status word
constexpr unsigned kVoltageTarget = 4;  // the reference reading is at 0
constexpr unsigned kVersionVendorId = 2;
constexpr unsigned kVersionProductId = 4;
constexpr unsigned kExtVersionVendorId = 8;  // bytes 6 and 7 are skipped
constexpr unsigned kExtVersionProductId = 10;
}  // namespace answer

// States of an FPB comparator's shadow slot.
namespace slot {
constexpr uint8_t kFree = 0;
constexpr uint8_t kOne = 1;         // one breakpoint at the slot's address
constexpr uint8_t kBothHalves = 2;  // both half-words of one word (FPB revision 1)
}  // namespace slot

// Cortex-M debug and system control registers.
namespace cortexm {
constexpr uint32_t kAircr = 0xE000ED0C;
constexpr uint32_t kDhcsr = 0xE000EDF0;
constexpr uint32_t kDemcr = 0xE000EDFC;
constexpr uint32_t kFpCtrl = 0xE0002000;
constexpr uint32_t kFpComp0 = 0xE0002008;
constexpr uint32_t FpComp(unsigned n) {
    return kFpComp0 + 4u * n;
}

// The upper half-word of a DHCSR write: the core ignores a write without exactly this key.
constexpr uint32_t kDbgKey = 0xA05F0000;
constexpr uint32_t kDhcsrControlBits = 0x0000FFFF;
namespace dhcsr {
constexpr uint32_t kCDebugen = 1u << 0;
constexpr uint32_t kCHalt = 1u << 1;
constexpr uint32_t kCStep = 1u << 2;
constexpr uint32_t kCMaskints = 1u << 3;
constexpr uint32_t kSRegrdy = 1u << 16;
constexpr uint32_t kSHalt = 1u << 17;
constexpr uint32_t kSSleep = 1u << 18;
constexpr uint32_t kSLockup = 1u << 19;
constexpr uint32_t kSRetireSt = 1u << 24;
constexpr uint32_t kSResetSt = 1u << 25;
}  // namespace dhcsr

// The upper half-word of an AIRCR write.
constexpr uint32_t kVectKey = 0x05FA0000;
namespace aircr {
constexpr uint32_t kVectReset = 1u << 0;
constexpr uint32_t kSysResetReq = 1u << 2;
}  // namespace aircr

namespace demcr {
constexpr uint32_t kVcCorereset = 1u << 0;
constexpr uint32_t kTrcena = 1u << 24;
}  // namespace demcr

namespace fpb {
constexpr uint32_t kCtrlEnableAndKey = 0x3;  // FP_CTRL: ENABLE, KEY
constexpr uint32_t kCtrlRevisionShift = 28;  // non-zero: revision 2
constexpr uint32_t kCtrlCodeShift = 4;       // NUM_CODE bits 7:4
constexpr uint32_t kCtrlCodeMask = 0xF;
// Revision 1 comparators match only the code region, below this address, and hold bits 28:2.
constexpr uint32_t kRev1CodeRegionEnd = 0x20000000;
constexpr uint32_t kRev1AddressMask = 0x1FFFFFFC;
constexpr uint32_t kRev1ReplaceLower = 0x40000000;
constexpr uint32_t kRev1ReplaceUpper = 0x80000000;
constexpr uint32_t kRev1ReplaceBoth = 0xC0000000;
constexpr uint32_t kCompEnable = 1u << 0;
}  // namespace fpb

// DCRSR register numbers.
namespace regsel {
constexpr unsigned char kXpsr = 16;
}  // namespace regsel
constexpr uint32_t kXpsrThumb = 1u << 24;
}  // namespace cortexm

// The CoreSight trace blocks programmed for SWO.
namespace coresight {
constexpr uint32_t kLockAccessKey = 0xC5ACCE55;

namespace itm {
constexpr uint32_t kTer0 = 0xE0000E00;
constexpr uint32_t kTpr = 0xE0000E40;
constexpr uint32_t kTcr = 0xE0000E80;
constexpr uint32_t kLar = 0xE0000FB0;
constexpr uint32_t kLsr = 0xE0000FB4;
constexpr uint32_t kTcrItmEna = 1u << 0;
constexpr uint32_t kTcrSetupMask = 0xA1F;  // ITMENA to SWOENA, bits 9 and 11
}  // namespace itm

namespace tpiu {
constexpr uint32_t kAcpr = 0xE0040010;
constexpr uint32_t kSppr = 0xE00400F0;
constexpr uint32_t kType = 0xE0040FC8;
constexpr uint32_t kAcprMask = 0xFFFF;
constexpr uint32_t kSpprMask = 0x3;
constexpr uint32_t kSpprManchester = 1;
constexpr uint32_t kSpprNrz = 2;
constexpr uint32_t kTypeManchester = 1u << 10;
constexpr uint32_t kTypeNrz = 1u << 11;
constexpr unsigned kTypeFifoShift = 6;  // FIFOSZ, bits 8:6
constexpr uint32_t kTypeFifoMask = 0x7;
}  // namespace tpiu
}  // namespace coresight

}  // namespace dravik

#endif
