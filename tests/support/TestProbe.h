// Probe configurations for tests: the bench's default probe, with what a test cares about set by
// name. A probe given a generation carries that generation's product id, in its version answer and
// in its description record alike.
#pragma once

#include <cstdint>
#include <string>

#include "DravikBench/ProbeConfig.h"

namespace dravik::test {

class TestProbe {
  public:
    TestProbe() = default;
    TestProbe(uint8_t v, uint8_t j) { firmware(v, j); }

    // Probe generation V and debug firmware J.
    TestProbe& firmware(uint8_t v, uint8_t j) {
        config.generation = v;
        config.jtagVersion = j;
        config.productId = v == 1   ? DRAVIK_PRODUCT_ID_V1
                           : v == 2 ? DRAVIK_PRODUCT_ID_V2
                                    : DRAVIK_PRODUCT_ID_V3;
        config.infoProductId = config.productId;
        return *this;
    }
    // The probe mode at power-up.
    TestProbe& mode(uint8_t initialMode) {
        config.initialMode = initialMode;
        return *this;
    }
    TestProbe& serial(std::string serialNumber) {
        config.serial = std::move(serialNumber);
        return *this;
    }
    // The two 16-bit identifiers of the description record, in record order.
    TestProbe& listedAs(uint16_t first, uint16_t second) {
        config.infoVendorId = first;
        config.infoProductId = second;
        return *this;
    }
    TestProbe& on(TEnumDravikInterface iface) {
        config.iface = iface;
        return *this;
    }

    operator const sim::ProbeConfig&() const { return config; }

    sim::ProbeConfig config;  // everything else is set directly
};

}  // namespace dravik::test
