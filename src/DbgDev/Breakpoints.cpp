// Code breakpoints: software breakpoints (BKPT half-words) in SRAM, FPB comparators elsewhere, kept
// in the object's list and shadow table and pushed to the target at once or later.
#include <new>

#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;
namespace fpb = dravik::cortexm::fpb;
namespace slot = dravik::slot;
using dravik::cortexm::FpComp;

namespace {

const unsigned char kBkpt[2] = {0xBE, 0xBE};  // Thumb BKPT #0xBE

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
    // A revision 1 comparator holds address bits 28:2 and matches only the code region: anything
    // above it would become a breakpoint at another address, so it is refused untouched.
    if (!m_fpbRev2 && address >= fpb::kRev1CodeRegionEnd) {
        LogTrace("Breakpoint address 0x%08x is outside the code region of this FPB (below 0x%08x)",
                 address, fpb::kRev1CodeRegionEnd);
        return DBGDEV_BAD_ARGUMENT;
    }
    address &= ~1u;
    int chosen = -1;
    for (int i = 0; i < m_fpbCodeComparators; ++i) {
        HW_BKPT& s = m_flashPatch[i];
        if (s.state == slot::kFree) {
            continue;
        }
        if (m_fpbRev2) {
            if (s.address == address) {
                chosen = i;
            }
        } else if (((s.address ^ address) & ~2u) == 0) {  // same word: differs at most in bit 1
            if (s.address != address) {
                s.state = slot::kBothHalves;
                s.secondAddress = address;
            }
            chosen = i;
        }
    }
    if (chosen < 0) {
        if (m_flashPatchUsed == m_fpbCodeComparators) {
            return DBGDEV_NO_FREE_COMPARATOR;
        }
        for (int i = 0; i < m_fpbCodeComparators && chosen < 0; ++i) {
            if (m_flashPatch[i].state == slot::kFree) {
                m_flashPatch[i].state = slot::kOne;
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
        HW_BKPT& s = m_flashPatch[i];
        if (s.address == address) {
            if (s.state == slot::kOne) {
                chosen = i;
                s.state = slot::kFree;
                if (m_flashPatchUsed != 0) {
                    --m_flashPatchUsed;
                }
            } else if (s.state == slot::kBothHalves) {
                chosen = i;
                s.address = s.secondAddress;
                s.state = slot::kOne;
            } else if (chosen < 0) {
                chosen = i;
            }
        }
        if (!m_fpbRev2 && s.secondAddress == address) {
            if (s.state == slot::kBothHalves) {
                chosen = i;
                s.state = slot::kOne;
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

int DbgDev::UpdateFlashPatchOnTarget(int index, int apIndex) {
    const int identified = IdentifyTargetCore(apIndex);
    if (index < 0 || index >= m_fpbCodeComparators || identified != DBGDEV_OK) {
        return DBGDEV_BAD_ARGUMENT;
    }
    const HW_BKPT& s = m_flashPatch[index];
    unsigned value = 0;
    if (s.state == slot::kOne) {
        if (m_fpbRev2) {
            value = s.address | fpb::kCompEnable;
        } else {
            value = (s.address & fpb::kRev1AddressMask) |
                    ((s.address & 2) != 0 ? fpb::kRev1ReplaceUpper : fpb::kRev1ReplaceLower) |
                    fpb::kCompEnable;
        }
    } else if (s.state == slot::kBothHalves) {
        value = (s.address & fpb::kRev1AddressMask) | fpb::kRev1ReplaceBoth | fpb::kCompEnable;
    }
    int result = WriteDebugRegister(FpComp(static_cast<unsigned>(index)), value, apIndex);
    if (s.state != slot::kFree && result == DBGDEV_OK) {
        result = WriteDebugRegister(dravik::cortexm::kFpCtrl, fpb::kCtrlEnableAndKey, apIndex);
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
    for (int i = 0; i < m_fpbCodeComparators && result == DBGDEV_OK; ++i) {
        result = UpdateFlashPatchOnTarget(i, apIndex);
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
    for (int i = 0; i < kFlashPatchSlots; ++i) {
        m_flashPatch[i].state = slot::kFree;
        if (result == DBGDEV_OK && i < m_fpbCodeComparators) {
            result = WriteDebugRegister(FpComp(static_cast<unsigned>(i)), 0, apIndex);
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
    return Exchange<cmd::SetFlashPatch>(*this, CommandParams().u8(comparator).u32(address).u8(mode),
                                        answer);
}

int DbgDev::ClearFlashPatch(unsigned char comparator) {
    uint8_t answer[2] = {};
    return Exchange<cmd::ClearFlashPatch>(*this, CommandParams().u8(comparator), answer);
}
