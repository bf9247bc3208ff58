// The target's registers as the measurement reaches them: single 32-bit reads and writes that
// return a result code (0 for success), e.g. DbgDev::ReadDebugRegister on access port 0. The
// measurement never interprets a code; it reports the first non-zero one with its register.
#pragma once

#include <cstdint>
#include <string>

namespace dravik::clock {

class TargetRegisters {
  public:
    virtual ~TargetRegisters() = default;
    virtual int read(uint32_t address, uint32_t& value) = 0;
    virtual int write(uint32_t address, uint32_t value) = 0;
};

// The registers and fields the measurement uses (Armv7-M).
namespace reg {
constexpr uint32_t kDhcsr = 0xE000EDF0;
constexpr uint32_t kDemcr = 0xE000EDFC;
constexpr uint32_t kDwtCtrl = 0xE0001000;
constexpr uint32_t kDwtCyccnt = 0xE0001004;

constexpr uint32_t kDemcrTrcena = 1u << 24;
constexpr uint32_t kDwtCtrlCyccntena = 1u << 0;
constexpr uint32_t kDwtCtrlNocyccnt = 1u << 25;
constexpr uint32_t kDhcsrSHalt = 1u << 17;
constexpr uint32_t kDhcsrSSleep = 1u << 18;
constexpr uint32_t kDhcsrSLockup = 1u << 19;
constexpr uint32_t kDhcsrSResetSt = 1u << 25;

// "DWT_CYCCNT (0xE0001004)" for the registers above, "0xE0001008" for any other.
std::string describe(uint32_t address);
}  // namespace reg

}  // namespace dravik::clock
