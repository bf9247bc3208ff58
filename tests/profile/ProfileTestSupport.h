// Packets as the decoder hands them out, and the test firmware's files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dravik/itm/Packet.h"

namespace dravik::profile::test {

inline itm::Packet pcSample(uint32_t pc) {
    itm::Packet p{};
    p.kind = itm::PacketKind::PeriodicPc;
    p.size = 4;
    p.discriminator = 2;
    p.value = pc;
    return p;
}

inline itm::Packet sleepSample() {
    itm::Packet p{};
    p.kind = itm::PacketKind::PeriodicPcSleep;
    p.size = 1;
    p.discriminator = 2;
    return p;
}

inline itm::Packet exceptionPacket(itm::ExceptionFunction function, unsigned number) {
    itm::Packet p{};
    p.kind = itm::PacketKind::ExceptionTrace;
    p.size = 2;
    p.discriminator = 1;
    p.value = number;
    p.function = function;
    return p;
}

inline itm::Packet entered(unsigned number) {
    return exceptionPacket(itm::ExceptionFunction::Entered, number);
}
inline itm::Packet exited(unsigned number) {
    return exceptionPacket(itm::ExceptionFunction::Exited, number);
}
inline itm::Packet returned(unsigned number) {
    return exceptionPacket(itm::ExceptionFunction::Returned, number);
}

inline itm::Packet overflow() {
    itm::Packet p{};
    p.kind = itm::PacketKind::Overflow;
    return p;
}

// The firmware built from tests/firmware/profile_target.c, and its variants.
inline std::string firmwareFile(const char* name) {
    return std::string(DRAVIK_PROFILE_FIRMWARE_DIR) + "/" + name;
}

// In a test: skips it when the build had no Arm cross compiler to make the firmware with.
#define DRAVIK_NEEDS_FIRMWARE()                                                               \
    do {                                                                                      \
        if (std::string(DRAVIK_PROFILE_FIRMWARE_DIR).empty()) {                               \
            GTEST_SKIP() << "arm-none-eabi-gcc was not found when the build was configured, " \
                            "so the test firmware was not built";                             \
        }                                                                                     \
    } while (false)

}  // namespace dravik::profile::test
