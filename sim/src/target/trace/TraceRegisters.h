#pragma once
// Addresses and fields of the ITM and TPIU registers (Armv7-M and CoreSight layout).

#include <cstdint>

namespace dravik::sim::trace {

namespace itm {
constexpr uint32_t kBase = 0xE0000000;
constexpr uint32_t kLast = 0xE0000FFF;
constexpr uint32_t kStimBase = 0xE0000000;  // 32 ports, 4 bytes apart
constexpr uint32_t kStimEnd = 0xE0000080;
constexpr uint32_t kTer0 = 0xE0000E00;
constexpr uint32_t kTpr = 0xE0000E40;
constexpr uint32_t kTcr = 0xE0000E80;
constexpr uint32_t kLar = 0xE0000FB0;
constexpr uint32_t kLsr = 0xE0000FB4;

constexpr uint32_t kTprMask = 0x0000000F;  // one bit per 8 ports

constexpr uint32_t kTcrItmEna = 1u << 0;
constexpr uint32_t kTcrTsEna = 1u << 1;
constexpr uint32_t kTcrSyncEna = 1u << 2;
constexpr uint32_t kTcrTxEna = 1u << 3;  // DWTENA
constexpr uint32_t kTcrSwoEna = 1u << 4;
constexpr uint32_t kTcrTsPrescaleShift = 8;
constexpr uint32_t kTcrTsPrescaleMask = 0x3u << kTcrTsPrescaleShift;
constexpr uint32_t kTcrGtsFreqMask = 0x3u << 10;
constexpr uint32_t kTcrTraceBusIdMask = 0x7Fu << 16;
constexpr uint32_t kTcrBusy = 1u << 23;
constexpr uint32_t kTcrWritable = kTcrItmEna | kTcrTsEna | kTcrSyncEna | kTcrTxEna | kTcrSwoEna |
                                  kTcrTsPrescaleMask | kTcrGtsFreqMask | kTcrTraceBusIdMask;
static_assert(kTcrWritable == 0x007F0F1F);

constexpr uint32_t kStimFifoReady = 1u << 0;
}  // namespace itm

namespace tpiu {
constexpr uint32_t kBase = 0xE0040000;
constexpr uint32_t kLast = 0xE0040FFF;
constexpr uint32_t kSspsr = 0xE0040000;
constexpr uint32_t kCspsr = 0xE0040004;
constexpr uint32_t kAcpr = 0xE0040010;
constexpr uint32_t kSppr = 0xE00400F0;
constexpr uint32_t kFfsr = 0xE0040300;
constexpr uint32_t kFfcr = 0xE0040304;
constexpr uint32_t kType = 0xE0040FC8;

constexpr uint32_t kSpprMask = 0x3;
constexpr uint32_t kSpprManchester = 1;
constexpr uint32_t kSpprNrz = 2;
constexpr uint32_t kFfcrWritable = 0x00000102;  // TrigIn, EnFCont
}  // namespace tpiu

// Offset of the first CoreSight identification register (PID4) within a 4 KiB block.
constexpr uint32_t kIdRegistersOffset = 0xFD0;
constexpr uint32_t kBlockOffsetMask = 0xFFF;

}  // namespace dravik::sim::trace
