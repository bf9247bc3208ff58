// Test access to the device object's members: tests preset and inspect the state operations leave.
#pragma once

#include "DbgDev.h"

struct DbgDevTestPeer {
#define DRAVIK_PEER_MEMBER(name)   \
    static auto& name(DbgDev& d) { \
        return d.m_##name;         \
    }
    DRAVIK_PEER_MEMBER(coreRegs)
    DRAVIK_PEER_MEMBER(fpuRegs)
    DRAVIK_PEER_MEMBER(probeOpen)
    DRAVIK_PEER_MEMBER(targetOpen)
    DRAVIK_PEER_MEMBER(version)
    DRAVIK_PEER_MEMBER(usbHandle)
    DRAVIK_PEER_MEMBER(tcpConnectionId)
    DRAVIK_PEER_MEMBER(probeMode)
    DRAVIK_PEER_MEMBER(probeSubMode)
    DRAVIK_PEER_MEMBER(deviceCount)
    DRAVIK_PEER_MEMBER(openExclusive)
    DRAVIK_PEER_MEMBER(driverPath)
    DRAVIK_PEER_MEMBER(enumInitDone)
    DRAVIK_PEER_MEMBER(enumerated)
    DRAVIK_PEER_MEMBER(interface)
    DRAVIK_PEER_MEMBER(tcpServerAddress)
    DRAVIK_PEER_MEMBER(tcpServerCmdArgs)
    DRAVIK_PEER_MEMBER(swdClock)
    DRAVIK_PEER_MEMBER(jtagClock)
    DRAVIK_PEER_MEMBER(swdFreqKHz)
    DRAVIK_PEER_MEMBER(jtagFreqKHz)
    DRAVIK_PEER_MEMBER(softBreakpoints)
    DRAVIK_PEER_MEMBER(flashPatchUsed)
    DRAVIK_PEER_MEMBER(flashPatch)
    DRAVIK_PEER_MEMBER(fpbCodeComparators)
    DRAVIK_PEER_MEMBER(coreIdentified)
    DRAVIK_PEER_MEMBER(fpbRev2)
#undef DRAVIK_PEER_MEMBER

    // Replaces the allocator behind the library's heap allocations (null: calloc again).
    static void SwapAllocator(void* (*allocator)(size_t count, size_t size)) {
        DbgDev::SwapAllocator(allocator);
    }

    // Presets the firmware version the capability predicates read.
    static void SetVersion(DbgDev& d, unsigned v, unsigned j) {
        d.m_version.dravikVer = static_cast<uint8_t>(v);
        d.m_version.jtagVer = static_cast<uint8_t>(j);
    }
};
