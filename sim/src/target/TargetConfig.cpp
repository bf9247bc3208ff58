#include <DravikBench/TargetConfig.h>

#include "target/ArmV7mRegisters.h"

namespace dravik::sim {

namespace {

constexpr uint32_t kLargestRegion = 256u * 1024 * 1024;

uint64_t endOf(const MemoryRegionConfig& region) {
    return uint64_t{region.base} + region.size;
}

std::string describeRegionError(const char* name, const MemoryRegionConfig& region) {
    const std::string what(name);
    if (region.size == 0 || region.size % 4 != 0 || region.base % 4 != 0) {
        return what + ": base and size must be non-zero multiples of 4";
    }
    if (region.size > kLargestRegion) {
        return what + ": larger than 256 MiB";
    }
    if (endOf(region) > armv7m::kPpbBase) {
        return what + ": reaches into the system region at 0xE0000000";
    }
    return {};
}

}  // namespace

uint32_t initialStackPointerOf(const TargetConfig& config) {
    return config.initialStackPointer.value_or(
        static_cast<uint32_t>(config.sram.base + config.sram.size));
}

uint32_t resetVectorOf(const TargetConfig& config) {
    return config.resetVector.value_or(config.flash.base + silicon::kResetHandlerOffset + 1);
}

std::string describeConfigError(const TargetConfig& config) {
    std::string error = describeRegionError("flash", config.flash);
    if (error.empty()) {
        error = describeRegionError("sram", config.sram);
    }
    if (!error.empty()) {
        return error;
    }
    if (config.flash.size < 8) {
        return "flash: too small for the vector table";
    }
    if (config.flash.base < endOf(config.sram) && config.sram.base < endOf(config.flash)) {
        return "flash and sram overlap";
    }
    if (config.fpb.revision != 1 && config.fpb.revision != 2) {
        return "fpb: revision must be 1 or 2";
    }
    if (config.fpb.codeComparators > 127) {
        return "fpb: at most 127 code comparators";
    }
    if (config.fpb.literalComparators > 15) {
        return "fpb: at most 15 literal comparators";
    }
    if (config.trace.dwt.comparators > 15) {
        return "dwt: at most 15 comparators";
    }
    const DwtTraceProblem problem =
        describeDwtTraceProblem(config.trace.pcProfile, config.trace.exceptions);
    if (!problem.empty()) {
        return problem.key + ": " + problem.what;
    }
    return {};
}

}  // namespace dravik::sim
