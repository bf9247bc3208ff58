// Addresses and fields of the Armv7-M and CoreSight trace registers the tool reads and writes.
#pragma once

#include <cstdint>

namespace dravik::swv {

namespace reg {
inline constexpr uint32_t kDemcr = 0xE000EDFC;
inline constexpr uint32_t kItmTer0 = 0xE0000E00;
inline constexpr uint32_t kItmTpr = 0xE0000E40;
inline constexpr uint32_t kItmTcr = 0xE0000E80;
inline constexpr uint32_t kItmLsr = 0xE0000FB4;
inline constexpr uint32_t kTpiuAcpr = 0xE0040010;
inline constexpr uint32_t kTpiuSppr = 0xE00400F0;
inline constexpr uint32_t kTpiuFfcr = 0xE0040304;
inline constexpr uint32_t kTpiuType = 0xE0040FC8;
inline constexpr uint32_t kDwtCtrl = 0xE0001000;

inline constexpr uint32_t kDemcrTrcena = 1u << 24;
inline constexpr uint32_t kItmTcrItmena = 1u << 0;
inline constexpr uint32_t kItmTcrTsena = 1u << 1;
inline constexpr uint32_t kItmTcrSyncena = 1u << 2;
inline constexpr uint32_t kItmTcrDwtena = 1u << 3;
inline constexpr uint32_t kItmTcrSwoena = 1u << 4;
inline constexpr uint32_t kItmTcrTsPrescaleShift = 8;
inline constexpr uint32_t kItmTcrTraceBusIdShift = 16;
inline constexpr uint32_t kItmTcrTraceBusIdMask = 0x7Fu << kItmTcrTraceBusIdShift;
inline constexpr uint32_t kItmTcrBusy = 1u << 23;
inline constexpr uint32_t kItmLsrPresent = 1u << 0;  // SLI: a lock is implemented
inline constexpr uint32_t kItmLsrLocked = 1u << 1;   // SLK
inline constexpr uint32_t kDwtCtrlCyccntena = 1u << 0;
inline constexpr uint32_t kDwtCtrlSyncTapShift = 10;
inline constexpr uint32_t kDwtCtrlSyncTapMask = 3u << kDwtCtrlSyncTapShift;
inline constexpr uint32_t kDwtCtrlNoCyccnt = 1u << 25;
// SYNCTAP 1, 2, 3: a synchronisation packet each time CYCCNT bit 24, 26 or 28 toggles.
inline constexpr uint32_t kDwtSyncTapFirstBit = 22;
inline constexpr uint32_t kTpiuTypeNrz = 1u << 11;
inline constexpr uint32_t kTpiuTypeManchester = 1u << 10;
inline constexpr uint32_t kTpiuTypeFifoSzShift = 6;
inline constexpr uint32_t kTpiuFfcrEnFCont = 1u << 1;
inline constexpr uint32_t kSpprManchester = 1;
inline constexpr uint32_t kSpprNrz = 2;
}  // namespace reg

}  // namespace dravik::swv
