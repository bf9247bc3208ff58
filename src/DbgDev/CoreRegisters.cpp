// The halted core's registers: all core registers into m_coreRegs, the FPU words into m_fpuRegs,
// and single registers by DCRSR REGSEL number.
#include <cstring>

#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
using dravik::LoadLe32;
namespace cmd = dravik::cmd;

namespace {

constexpr unsigned kAnswerHeader = dravik::answer::kWord;  // status word and two pad bytes
constexpr unsigned kCoreRegisterWords = 21;
constexpr unsigned kFpuRegisterWords = 33;

constexpr uint32_t kApsrMask = 0xF8000000;
constexpr uint32_t kIpsrMask = 0x000001FF;
constexpr uint32_t kEpsrMask = 0x0700FC00;

// m_coreRegs slots of the registers that do not sit at their own number.
constexpr int kApsrSlot = 15;
constexpr int kIpsrSlot = 16;
constexpr int kEpsrSlot = 17;
constexpr int kMspSlot = 18;
constexpr int kPspSlot = 19;
constexpr int kXpsrSlot = 20;
constexpr int kPcSlot = 21;
constexpr int kSpecialSlot = 22;

// REGSEL numbers.
constexpr unsigned kLastGeneralRegister = 14;  // R0-R12, SP, LR
constexpr unsigned kPc = 15;
constexpr unsigned kXpsr = 16;
constexpr unsigned kMsp = 17;
constexpr unsigned kPsp = 18;
constexpr unsigned kSpecial = 20;  // CONTROL, FAULTMASK, BASEPRI, PRIMASK

}  // namespace

int DbgDev::ReadAllRegisters(int apIndex) {
    uint8_t answer[kAnswerHeader + 4 * kCoreRegisterWords] = {};
    static_assert(sizeof answer == 88, "all-registers answer");
    const int result = Exchange<cmd::ReadAllRegisters>(
        *this, CommandParams().u8(static_cast<uint32_t>(apIndex)), answer);
    // The cache is rebuilt whatever the result; it means something only after a result of 0.
    auto word = [&answer](unsigned reg) { return LoadLe32(answer + kAnswerHeader + 4 * reg); };
    std::memset(m_coreRegs, 0, sizeof m_coreRegs);
    for (unsigned reg = 0; reg <= kLastGeneralRegister; ++reg) {
        m_coreRegs[reg] = word(reg);
    }
    m_coreRegs[kPcSlot] = word(kPc);
    m_coreRegs[kXpsrSlot] = word(kXpsr);
    m_coreRegs[kMspSlot] = word(kMsp);
    m_coreRegs[kPspSlot] = word(kPsp);
    m_coreRegs[kSpecialSlot] = word(kSpecial);
    m_coreRegs[kApsrSlot] = m_coreRegs[kXpsrSlot] & kApsrMask;
    m_coreRegs[kIpsrSlot] = m_coreRegs[kXpsrSlot] & kIpsrMask;
    m_coreRegs[kEpsrSlot] = m_coreRegs[kXpsrSlot] & kEpsrMask;
    return result;
}

int DbgDev::ReadFpuRegisters(int apIndex) {
    if (!IsFpuAndBoardTypeFwCmdSupport()) {
        return DBGDEV_NOT_SUPPORTED;
    }
    uint8_t answer[kAnswerHeader + 4 * kFpuRegisterWords] = {};
    static_assert(sizeof answer == 136, "FPU registers answer");
    static_assert(kFpuRegisterWords == kFpuRegCacheSize, "one cache word per FPU word");
    const int result = Exchange<cmd::ReadFpuRegisters>(
        *this, CommandParams().u8(static_cast<uint32_t>(apIndex)), answer);
    for (unsigned i = 0; i < kFpuRegisterWords; ++i) {
        m_fpuRegs[i] = LoadLe32(answer + kAnswerHeader + 4 * i);
    }
    return result;
}

int DbgDev::ReadRegister(unsigned char reg, unsigned* value, int apIndex) {
    if (value == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t answer[8] = {};
    const int result = Exchange<cmd::ReadRegister>(
        *this, CommandParams().u8(reg).u8(static_cast<uint32_t>(apIndex)), answer);
    if (result == DBGDEV_OK) {
        *value = LoadLe32(answer + kAnswerHeader);
    }
    return result;
}

int DbgDev::WriteRegister(unsigned char reg, unsigned value, int apIndex) {
    uint8_t answer[2] = {};
    const int result = Exchange<cmd::WriteRegister>(
        *this, CommandParams().u8(reg).u32(value).u8(static_cast<uint32_t>(apIndex)), answer);
    // The probe's read-back of the register disagreed; the write itself was made.
    if (result == DBGDEV_PROBE_ERROR &&
        dravik::LoadLe16(answer) == dravik::status::kWriteVerifyFailed) {
        LogTrace("Core register write verif error (ignored),writing 0x%04lx to reg %d",
                 static_cast<unsigned long>(value), reg);
        return DBGDEV_OK;
    }
    return result;
}
