#include "dravik/clock/TargetRegisters.h"

#include <cstdio>

namespace dravik::clock::reg {

std::string describe(uint32_t address) {
    const char* name = address == kDhcsr       ? "DHCSR"
                       : address == kDemcr     ? "DEMCR"
                       : address == kDwtCtrl   ? "DWT_CTRL"
                       : address == kDwtCyccnt ? "DWT_CYCCNT"
                                               : nullptr;
    char text[40];
    if (name != nullptr) {
        std::snprintf(text, sizeof text, "%s (0x%08X)", name, address);
    } else {
        std::snprintf(text, sizeof text, "0x%08X", address);
    }
    return text;
}

}  // namespace dravik::clock::reg
