// Target configuration checks and the system control block registers that identify and
// configure the part.

#include <limits>
#include <stdexcept>

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

struct ConfigCase {
    const char* what;
    void (*change)(TargetConfig&);
    const char* error;
};

const ConfigCase kConfigCases[] = {
    {"default", [](TargetConfig&) {}, ""},
    {"flash empty", [](TargetConfig& c) { c.flash.size = 0; },
     "flash: base and size must be non-zero multiples of 4"},
    {"sram odd size", [](TargetConfig& c) { c.sram.size = 1022; },
     "sram: base and size must be non-zero multiples of 4"},
    {"sram misaligned", [](TargetConfig& c) { c.sram.base = 0x20000002; },
     "sram: base and size must be non-zero multiples of 4"},
    {"flash huge", [](TargetConfig& c) { c.flash.size = 0x10000004; },
     "flash: larger than 256 MiB"},
    {"sram in system space",
     [](TargetConfig& c) {
         c.sram = {0xDFFFF000, 0x2000};
     },
     "sram: reaches into the system region at 0xE0000000"},
    {"flash tiny", [](TargetConfig& c) { c.flash.size = 4; },
     "flash: too small for the vector table"},
    {"overlap", [](TargetConfig& c) { c.sram.base = c.flash.base + c.flash.size - 4; },
     "flash and sram overlap"},
    {"adjacent", [](TargetConfig& c) { c.sram.base = c.flash.base + c.flash.size; }, ""},
    {"fpb revision 3", [](TargetConfig& c) { c.fpb.revision = 3; }, "fpb: revision must be 1 or 2"},
    {"fpb revision 0", [](TargetConfig& c) { c.fpb.revision = 0; }, "fpb: revision must be 1 or 2"},
    {"fpb code 128", [](TargetConfig& c) { c.fpb.codeComparators = 128; },
     "fpb: at most 127 code comparators"},
    {"fpb literal 16", [](TargetConfig& c) { c.fpb.literalComparators = 16; },
     "fpb: at most 15 literal comparators"},
    {"pc range empty",
     [](TargetConfig& c) {
         c.trace.pcProfile = PcProfile{{{0x100, 0x200, 1, ""}, {0x300, 0x300, 1, ""}}, 0, 1};
     },
     "pcProfile.ranges[1].end: must lie above start"},
    {"pc weight not a number",
     [](TargetConfig& c) {
         c.trace.pcProfile =
             PcProfile{{{0x100, 0x200, std::numeric_limits<double>::quiet_NaN(), ""}}, 0, 1};
     },
     "pcProfile.ranges[0].weight: must be a number of 0 or more"},
    {"sleep share above 1",
     [](TargetConfig& c) {
         c.trace.pcProfile = PcProfile{{}, 1.01, 1};
     },
     "pcProfile.sleepShare: must be a number from 0 to 1"},
    {"asleep all the time",
     [](TargetConfig& c) {
         c.trace.pcProfile = PcProfile{{}, 1, 1};
     },
     ""},
    {"exception 0",
     [](TargetConfig& c) {
         c.trace.exceptions = {{0, 10, 1, {}, 0}};
     },
     "exceptions[0].number: must be from 2 to 511"},
    {"exception period 0",
     [](TargetConfig& c) {
         c.trace.exceptions = {{16, 10, 1, {}, 0}, {17, 0, 1, {}, 0}};
     },
     "exceptions[1].periodCycles: must be at least 1"},
};

TEST(TargetConfig, ConfigurationErrorsAreNamedAndRefusedByTheModel) {
    for (const ConfigCase& c : kConfigCases) {
        TargetConfig config;
        c.change(config);
        EXPECT_EQ(describeConfigError(config), c.error) << c.what;
        if (*c.error != '\0') {
            EXPECT_THROW(CortexM{config}, std::invalid_argument) << c.what;
        } else {
            EXPECT_NO_THROW(CortexM{config}) << c.what;
        }
    }
}

TEST(TargetConfig, SystemControlBlockIdentifiesACortexM4) {
    TargetHarness h;
    EXPECT_EQ(h.read32(reg::kCpuid), 0x410FC241u);
    EXPECT_EQ(h.read32(reg::kVtor), silicon::kFlashBase);
    EXPECT_EQ(h.read32(reg::kCcr), 0x00000200u);
    EXPECT_EQ(h.read32(reg::kCpacr), 0u);
    h.write32(reg::kCpuid, 0);
    EXPECT_EQ(h.read32(reg::kCpuid), 0x410FC241u);

    TargetConfig config;
    config.cpuid = 0x412FC230;  // a Cortex-M3 r2p0
    TargetHarness m3(config);
    EXPECT_EQ(m3.read32(reg::kCpuid), 0x412FC230u);
}

TEST(TargetConfig, SystemControlRegistersKeepTheirWritableBits) {
    TargetHarness h;
    h.write32(reg::kVtor, 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::kVtor), 0x3FFFFF80u);
    h.write32(reg::kScr, 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::kScr), 0x16u);
    h.write32(reg::kCcr, 0);
    EXPECT_EQ(h.read32(reg::kCcr), 0u);
    h.write32(reg::kCpacr, 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::kCpacr), 0x00F00000u);
    h.write32(reg::kCfsr, 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::kCfsr), 0u);
    EXPECT_EQ(h.read32(reg::kHfsr), 0u);
}

}  // namespace
}  // namespace dravik::sim::testing
