#include "dravik/swv/FailureHints.h"

#include <cstdio>

#include "DbgDev.h"
#include "DravikTrace.h"
#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {

namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

bool selectionHintListsProbes(const CallFailure& failure) {
    return failure.code == DBGDEV_SERIAL_NOT_FOUND || failure.code == DBGDEV_NO_PROBE;
}

std::string selectionHint(const CallFailure& failure, const std::string& serial,
                          const std::vector<ProbeEntry>* connected) {
    switch (failure.code) {
        case DRAVIK_REFUSED:
            if (contains(failure.error, "is too old")) {
                return "--allow-old-probe accepts a probe of generation 2 or older";
            }
            return {};
        case DBGDEV_SERIAL_NOT_FOUND:
        case DBGDEV_NO_PROBE: {
            if (connected == nullptr) {
                return {};
            }
            if (connected->empty()) {
                return "no probe is connected";
            }
            std::string names;
            for (const ProbeEntry& probe : *connected) {
                names += (names.empty() ? "" : ", ") + probe.serial;
            }
            return serial + " is not connected; connected: " + names +
                   " (choose one with --serial)";
        }
        case DBGDEV_FIRMWARE_TOO_OLD:
            return "the probe's firmware is too old for this library: update it";
        case DBGDEV_FIRMWARE_NOT_LATEST:
            return "the probe's firmware is not the latest, which the selection requires: "
                   "update it";
        case DBGDEV_NO_TARGET:
            return "no target answered: check the cable, the target's power and the target";
        case DBGDEV_HELD_IN_RESET:
            return "the target is held in reset: release its reset line, or use --reset";
        case DBGDEV_RESET_NOT_SEEN:
        case DBGDEV_NOT_HALTED:
            return "the target did not come out of reset halted: check its power and reset line, "
                   "or use --reset";
        default:
            return {};
    }
}

bool isNoTransmitMode(const CallFailure& failure) {
    return failure.code == DRAVIK_REFUSED && contains(failure.error, "No TXMode selected");
}

std::string transmitModeHint(std::optional<uint32_t> tpiuType) {
    if (!tpiuType) {
        return "--mode nrz, manchester or auto must name an encoding this TPIU offers";
    }
    const bool nrz = (*tpiuType & reg::kTpiuTypeNrz) != 0;
    const bool manchester = (*tpiuType & reg::kTpiuTypeManchester) != 0;
    const std::string type = " (TPIU_TYPE " + hex32(*tpiuType) + ")";
    if (nrz && manchester) {
        return "this TPIU offers NRZ and Manchester" + type + ": use --mode nrz";
    }
    if (nrz) {
        return "this TPIU offers NRZ only" + type + ": use --mode nrz";
    }
    if (manchester) {
        return "this TPIU offers Manchester only" + type + ": use --mode manchester";
    }
    return "this TPIU offers neither NRZ nor Manchester" + type + ": it has no SWO output";
}

}  // namespace dravik::swv
