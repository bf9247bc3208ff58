// Code breakpoints: software breakpoints (BKPT half-words) in SRAM, FPB comparators elsewhere, kept
// in the object's list and shadow table and pushed to the target at once or later.
#include <new>

#include "DbgDev.h"
#include "ProbeCommands.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;

namespace {

constexpr unsigned kFpCtrl = 0xE0002000;
constexpr unsigned kFpComp0 = 0xE0002008;
constexpr unsigned kFpCtrlEnableKey = 3;  // ENABLE and KEY
const unsigned char kBkpt[2] = {0xBE, 0xBE};
constexpr unsigned kRev1AddressMask = 0x1FFFFFFC;
constexpr unsigned kRev1ReplaceLower = 0x40000001;
constexpr unsigned kRev1ReplaceUpper = 0x80000001;
constexpr unsigned kRev1ReplaceBoth = 0xC0000001;

}  // namespace

int DbgDev::SetBreakpoint(unsigned address, int apply, int apIndex) {
    if (IsRamLocation(address)) {
        bool known = false;
        for (const SW_BKPT& b : m_softBreakpoints) {
            known = known || b.address == address;
        }
        if (!known) {
            unsigned char saved[2] = {};
            const int result = Read(address, saved, 2, nullptr, apIndex);
            if (result != DBGDEV_OK) {
                return result;
            }
            try {
                m_softBreakpoints.push_back(
                    SW_BKPT{address, static_cast<uint16_t>(saved[0] | saved[1] << 8)});
            } catch (const std::bad_alloc&) {
                return DBGDEV_BAD_ARGUMENT;  // no room to remember it: nothing was written
            }
        }
        return apply == 1 ? Write(address, kBkpt, 2, nullptr, apIndex) : DBGDEV_OK;
    }

    int result = IdentifyTargetCore(apIndex);  // the table is still updated when this fails
    address &= ~1u;
    int chosen = -1;
    for (int i = 0; i < m_fpbCodeComparators; ++i) {
        HW_BKPT& slot = m_flashPatch[i];
        if (slot.state == 0) {
            continue;
        }
        if (m_fpbRev2) {
            if (slot.address == address) {
                chosen = i;
            }
        } else if (((slot.address ^ address) & ~2u) == 0) {  // same word: differs at most in bit 1
            if (slot.address != address) {
                slot.state = 2;
                slot.secondAddress = address;
            }
            chosen = i;
        }
    }
    if (chosen < 0) {
        if (m_flashPatchUsed == m_fpbCodeComparators) {
            return DBGDEV_NO_FREE_COMPARATOR;
        }
        for (int i = 0; i < m_fpbCodeComparators && chosen < 0; ++i) {
            if (m_flashPatch[i].state == 0) {
                m_flashPatch[i].state = 1;
                m_flashPatch[i].address = address;
                ++m_flashPatchUsed;
                chosen = i;
            }
        }
        if (chosen < 0) {
            return DBGDEV_NO_FREE_COMPARATOR;
        }
    }
    if (apply == 1 && result == DBGDEV_OK) {
        result = UpdateFlashPatchOnTarget(chosen, apIndex);
    }
    return result;
}

int DbgDev::ClearBreakpoint(unsigned address, int apply, int apIndex) {
    if (IsRamLocation(address)) {
        for (auto it = m_softBreakpoints.begin(); it != m_softBreakpoints.end(); ++it) {
            if (it->address == address) {
                const unsigned char saved[2] = {
                    static_cast<unsigned char>(it->savedInstruction),
                    static_cast<unsigned char>(it->savedInstruction >> 8)};
                const int result = Write(address, saved, 2, nullptr, apIndex);
                m_softBreakpoints.erase(it);  // forgotten whether or not the write succeeded
                return result;
            }
        }
        return DBGDEV_NO_SOFT_BREAKPOINT;
    }

    int result = IdentifyTargetCore(apIndex);
    address &= ~1u;
    int chosen = -1;
    for (int i = 0; i < m_fpbCodeComparators; ++i) {
        HW_BKPT& slot = m_flashPatch[i];
        if (slot.address == address) {
            if (slot.state == 1) {
                chosen = i;
                slot.state = 0;
                if (m_flashPatchUsed != 0) {
                    --m_flashPatchUsed;
                }
            } else if (slot.state == 2) {
                chosen = i;
                slot.address = slot.secondAddress;
                slot.state = 1;
            } else if (chosen < 0) {
                chosen = i;
            }
        }
        if (!m_fpbRev2 && slot.secondAddress == address) {
            if (slot.state == 2) {
                chosen = i;
                slot.state = 1;
            } else if (chosen < 0) {
                chosen = i;
            }
        }
    }
    if (apply == 1 && chosen >= 0 && result == DBGDEV_OK) {
        result = UpdateFlashPatchOnTarget(chosen, apIndex);
    }
    return result;
}

int DbgDev::UpdateFlashPatchOnTarget(int slot, int apIndex) {
    const int identified = IdentifyTargetCore(apIndex);
    if (slot < 0 || slot >= m_fpbCodeComparators || identified != DBGDEV_OK) {
        return DBGDEV_BAD_ARGUMENT;
    }
    const HW_BKPT& s = m_flashPatch[slot];
    unsigned value = 0;
    if (s.state == 1) {
        if (m_fpbRev2) {
            value = s.address | 1;
        } else {
            value = (s.address & kRev1AddressMask) |
                    ((s.address & 2) != 0 ? kRev1ReplaceUpper : kRev1ReplaceLower);
        }
    } else if (s.state == 2) {
        value = (s.address & kRev1AddressMask) | kRev1ReplaceBoth;
    }
    int result = WriteDebugRegister(kFpComp0 + 4u * static_cast<unsigned>(slot), value, apIndex);
    if (s.state != 0 && result == DBGDEV_OK) {
        result = WriteDebugRegister(kFpCtrl, kFpCtrlEnableKey, apIndex);
    }
    return result;
}

int DbgDev::UpdateBreakpointsOnTarget(int apIndex) {
    if (!m_probeOpen) {
        return DBGDEV_NO_TARGET;
    }
    int result = DBGDEV_OK;
    for (size_t i = 0; i < m_softBreakpoints.size() && result == DBGDEV_OK; ++i) {
        result = Write(m_softBreakpoints[i].address, kBkpt, 2, nullptr, apIndex);
    }
    if (result == DBGDEV_OK) {
        result = IdentifyTargetCore(apIndex);
    }
    for (int slot = 0; slot < m_fpbCodeComparators && result == DBGDEV_OK; ++slot) {
        result = UpdateFlashPatchOnTarget(slot, apIndex);
    }
    return result;
}

int DbgDev::ClearAllBreakpoint(int apIndex) {
    if (!m_probeOpen) {
        return DBGDEV_NO_TARGET;
    }
    int result = DBGDEV_OK;
    for (size_t i = 0; i < m_softBreakpoints.size() && result == DBGDEV_OK; ++i) {
        const SW_BKPT& b = m_softBreakpoints[i];
        const unsigned char saved[2] = {static_cast<unsigned char>(b.savedInstruction),
                                        static_cast<unsigned char>(b.savedInstruction >> 8)};
        result = Write(b.address, saved, 2, nullptr, apIndex);
    }
    m_softBreakpoints.clear();
    if (result == DBGDEV_OK) {
        result = IdentifyTargetCore(apIndex);
    }
    for (int slot = 0; slot < kFlashPatchSlots; ++slot) {
        m_flashPatch[slot].state = 0;
        if (result == DBGDEV_OK && slot < m_fpbCodeComparators) {
            result = WriteDebugRegister(kFpComp0 + 4u * static_cast<unsigned>(slot), 0, apIndex);
        }
    }
    m_flashPatchUsed = 0;
    return result;
}

int DbgDev::SetSoftBKPT(unsigned address, unsigned short* savedInstruction, int apIndex) {
    if (savedInstruction == nullptr) {
        return DBGDEV_BAD_ARGUMENT;  // nowhere to hand the saved half-word back
    }
    unsigned char saved[2] = {};
    const int result = Read(address, saved, 2, nullptr, apIndex);
    if (result != DBGDEV_OK) {
        return result;
    }
    *savedInstruction = static_cast<unsigned short>(saved[0] | saved[1] << 8);
    return SetBreakpoint(address, 1, apIndex);
}

int DbgDev::RestoreSoftBKPT(unsigned address, unsigned short instruction, int apIndex) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(instruction),
                                    static_cast<unsigned char>(instruction >> 8)};
    return Write(address, bytes, 2, nullptr, apIndex);
}

int DbgDev::SetFlashPatch(unsigned char comparator, unsigned address, int wholeWord) {
    const unsigned mode = wholeWord != 0 ? 2 : ((address & 2) != 0 ? 1 : 0);
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::SetFlashPatch, CommandParams().u8(comparator).u32(address).u8(mode),
                    answer);
}

int DbgDev::ClearFlashPatch(unsigned char comparator) {
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::ClearFlashPatch, CommandParams().u8(comparator), answer);
}
