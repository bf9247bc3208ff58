#include "dravik/swv/TraceDoctor.h"

#include <cmath>
#include <cstdio>

#include "dravik/swv/RateSolver.h"

namespace dravik::swv {

namespace {

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

unsigned bitCount(uint32_t mask) {
    return static_cast<unsigned>(__builtin_popcount(mask));
}

std::string portsPhrase(uint32_t mask) {
    return bitCount(mask) == 1 ? "stimulus port " + describePortSet(mask)
                               : "stimulus ports " + describePortSet(mask);
}

void add(std::vector<Finding>& findings, Severity severity, std::string text,
         std::string hint = {}) {
    findings.push_back(Finding{severity, std::move(text), std::move(hint)});
}

void explainDemcr(const TraceRegisters& r, std::vector<Finding>& findings) {
    if (r.demcr && (*r.demcr & reg::kDemcrTrcena) == 0) {
        add(findings, Severity::Blocking,
            "DEMCR.TRCENA is clear, so the DWT, ITM and TPIU are switched off",
            "set bit 24 of DEMCR (0xE000EDFC)");
    }
}

void explainItm(const TraceRegisters& r, const TraceExpectations& e,
                std::vector<Finding>& findings) {
    if (r.itmLsr && (*r.itmLsr & reg::kItmLsrPresent) != 0 &&
        (*r.itmLsr & reg::kItmLsrLocked) != 0) {
        add(findings, Severity::Blocking,
            "the ITM is locked (ITM_LSR.SLK is set), so writes to its registers are ignored",
            "write the key 0xC5ACCE55 to ITM_LAR (0xE0000FB0)");
    }
    if (r.itmTcr) {
        const uint32_t tcr = *r.itmTcr;
        if ((tcr & reg::kItmTcrItmena) == 0) {
            add(findings, Severity::Blocking,
                "the ITM is disabled (ITM_TCR.ITMENA is clear), so it sends no packets",
                "set bit 0 of ITM_TCR (0xE0000E80)");
        }
        if ((tcr & reg::kItmTcrSwoena) != 0) {
            add(findings, Severity::Note,
                "ITM_TCR.SWOENA is set: local timestamps count the TPIU's clock and stop while "
                "the line is idle");
        }
        const bool formatter = r.tpiuFfcr && (*r.tpiuFfcr & reg::kTpiuFfcrEnFCont) != 0;
        if (formatter && (tcr & reg::kItmTcrTraceBusIdMask) == 0) {
            add(findings, Severity::Warning,
                "ITM_TCR.TraceBusID is 0 while the TPIU formatter is on: a formatter drops "
                "trace of ID 0",
                "give the ITM a trace bus ID of 1 to 0x6F (ITM_TCR bits 22:16)");
        }
    }
    if (r.itmTer0 && e.portMask != 0) {
        const uint32_t disabled = e.portMask & ~*r.itmTer0;
        if (disabled == e.portMask) {
            add(findings, Severity::Blocking,
                *r.itmTer0 == 0
                    ? "every stimulus port is disabled in ITM_TER0"
                    : portsPhrase(disabled) + (bitCount(disabled) == 1 ? " is" : " are") +
                          " disabled in ITM_TER0, so none of the wanted ports sends",
                "set the ports' bits in ITM_TER0 (0xE0000E00)");
        } else if (disabled != 0) {
            const bool one = bitCount(disabled) == 1;
            add(findings, Severity::Warning,
                portsPhrase(disabled) + (one ? " is" : " are") + " disabled in ITM_TER0",
                one ? "writes to it are dropped; set its bit in ITM_TER0 (0xE0000E00)"
                    : "writes to them are dropped; set their bits in ITM_TER0 (0xE0000E00)");
        }
    }
    if (r.itmTpr && e.portMask != 0) {
        uint32_t privileged = 0;
        for (unsigned group = 0; group < 4; ++group) {
            if ((*r.itmTpr >> group) & 1u) {
                privileged |= 0xFFu << (8 * group);
            }
        }
        privileged &= e.portMask;
        if (privileged != 0) {
            add(findings, Severity::Note,
                portsPhrase(privileged) + " take writes from privileged code only (ITM_TPR " +
                    hex32(*r.itmTpr) + ")",
                "unprivileged writes to them are ignored");
        }
    }
}

void explainSync(const TraceRegisters& r, const TraceExpectations& e,
                 std::vector<Finding>& findings) {
    if (!r.itmTcr || !r.dwtCtrl) {
        return;
    }
    const uint32_t tap = (*r.dwtCtrl & reg::kDwtCtrlSyncTapMask) >> reg::kDwtCtrlSyncTapShift;
    const bool counts =
        (*r.dwtCtrl & reg::kDwtCtrlCyccntena) != 0 && (*r.dwtCtrl & reg::kDwtCtrlNoCyccnt) == 0;
    const bool itm = (*r.itmTcr & reg::kItmTcrSyncena) != 0;
    if (itm && counts && tap != 0) {
        const unsigned bit = reg::kDwtSyncTapFirstBit + 2 * tap;
        char text[160];
        if (e.clockHz != 0) {
            std::snprintf(text, sizeof text,
                          "ITM synchronisation packets are on: one every 2^%u cycles (%.2f s at "
                          "%u Hz)",
                          bit, static_cast<double>(1ull << bit) / e.clockHz, e.clockHz);
        } else {
            std::snprintf(text, sizeof text,
                          "ITM synchronisation packets are on: one every 2^%u cycles", bit);
        }
        add(findings, Severity::Note, text);
        return;
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "ITM synchronisation packets are off (ITM_TCR.SYNCENA=%u, DWT_CTRL.CYCCNTENA=%u "
                  "SYNCTAP=%u NOCYCCNT=%u): after a damaged byte the decoder may stay lost",
                  itm ? 1u : 0u, *r.dwtCtrl & reg::kDwtCtrlCyccntena, tap,
                  (*r.dwtCtrl & reg::kDwtCtrlNoCyccnt) != 0 ? 1u : 0u);
    add(findings, Severity::Note, text,
        (*r.dwtCtrl & reg::kDwtCtrlNoCyccnt) != 0 ? "this DWT has no cycle counter to time them"
                                                  : "a capture turns them on unless --no-sync");
}

void explainTpiu(const TraceRegisters& r, const TraceExpectations& e,
                 std::vector<Finding>& findings) {
    const std::optional<uint32_t> type = r.tpiuType;
    if (type && (*type & (reg::kTpiuTypeNrz | reg::kTpiuTypeManchester)) == 0) {
        add(findings, Severity::Blocking,
            "TPIU_TYPE shows neither NRZ nor Manchester support: this TPIU has no SWO output");
    }
    if (type && ((*type >> reg::kTpiuTypeFifoSzShift) & 7u) == 0) {
        add(findings, Severity::Warning,
            "TPIU_TYPE reports no FIFO size (FIFOSZ is 0), which the trace setup refuses");
    }
    if (r.tpiuSppr) {
        const uint32_t protocol = *r.tpiuSppr & 3u;
        if (protocol == 0) {
            add(findings, Severity::Blocking,
                "TPIU_SPPR selects the parallel trace port, so nothing goes out on SWO",
                "select SWO NRZ (2) in TPIU_SPPR");
        } else if (protocol == 3) {
            add(findings, Severity::Blocking,
                "TPIU_SPPR holds the reserved value 3, so no SWO protocol is selected",
                "select SWO NRZ (2) in TPIU_SPPR");
        } else if (protocol == reg::kSpprNrz && type && (*type & reg::kTpiuTypeNrz) == 0) {
            add(findings, Severity::Blocking,
                "TPIU_SPPR selects NRZ, which this TPIU does not support (TPIU_TYPE.NRZVALID "
                "is clear)");
        } else if (protocol == reg::kSpprManchester && type &&
                   (*type & reg::kTpiuTypeManchester) == 0) {
            add(findings, Severity::Blocking,
                "TPIU_SPPR selects Manchester, which this TPIU does not support "
                "(TPIU_TYPE.MANCVALID is clear)");
        } else if (protocol == reg::kSpprManchester) {
            // The probe is told a rate only, never an encoding: its receiver is a UART.
            add(findings, Severity::Blocking,
                "TPIU_SPPR selects Manchester encoding, which the probe's receiver (a UART, NRZ "
                "only) reads as garbage",
                "use --mode nrz (with --mode auto the setup prefers Manchester)");
        }
    }
    if (r.tpiuAcpr && e.clockHz != 0 && e.rateBps != 0) {
        const uint32_t prescaler = (*r.tpiuAcpr & 0xFFFFu) + 1;
        const double actual = static_cast<double>(e.clockHz) / prescaler;
        const double error = (actual - e.rateBps) / e.rateBps * 100.0;
        if (std::fabs(error) > kMaxRateErrorPercent) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "TPIU_ACPR divides the %u Hz clock by %u, giving %.0f bit/s, %+.1f %% "
                          "off the %u bit/s the probe receives at",
                          e.clockHz, prescaler, actual, error, e.rateBps);
            add(findings, Severity::Blocking, text,
                "the bytes arrive mistimed and decode as garbage; check --clock");
        }
    }
    if (r.tpiuFfcr && (*r.tpiuFfcr & reg::kTpiuFfcrEnFCont) != 0) {
        add(findings, Severity::Warning, "the TPIU formatter is on, so the stream is framed",
            "unless this TPIU bypasses it for SWO, clear TPIU_FFCR.EnFCont (bit 1 of "
            "0xE0040304): the decoder expects the bare ITM stream");
    }
}

std::string percentOf(uint64_t part, uint64_t whole) {
    char text[32];
    std::snprintf(
        text, sizeof text, "%.1f %%",
        whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

}  // namespace

Finding explainListening(const HealthVerdict& verdict, double seconds, uint64_t packets,
                         uint32_t clockHz) {
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    const std::string heard = std::string("in ") + time + " of listening";
    const StreamTally& span = verdict.span;
    const std::string bytes = std::to_string(span.bytes) + " bytes";
    switch (verdict.condition) {
        case StreamCondition::NoTrace:
            return {Severity::Note, "no trace arrived " + heard,
                    "the target may not have written to an enabled port meanwhile"};
        case StreamCondition::TooLittle:
            return {Severity::Note, bytes + " arrived " + heard + ": too few to judge them", ""};
        case StreamCondition::Healthy:
            return {Severity::Note,
                    std::string("listened for ") + time + ": " + bytes + ", " +
                        std::to_string(packets) + " packets, and they decode",
                    ""};
        case StreamCondition::Corrupt:
            return {
                Severity::Blocking,
                std::string("the trace does not decode: ") +
                    percentOf(span.undecodableBytes, span.bytes) +
                    " of the bytes formed no packet and " + std::to_string(span.unexpectedPackets) +
                    " packets came on ports not enabled (" + bytes + " " + heard + ")",
                "the SWO rate or encoding is wrong: --clock must be the clock the TPIU divides" +
                    (clockHz != 0 ? " (given: " + std::to_string(clockHz) + " Hz)" : "") +
                    ", and --mode nrz"};
        case StreamCondition::StrayPorts:
            return {Severity::Warning,
                    std::to_string(span.unexpectedPackets) +
                        " packets came on ports not enabled (" + bytes + " " + heard + ")",
                    "the target enables more ports than --ports, or the decoder lost its place "
                    "in the stream"};
        case StreamCondition::Overflowing:
            return {Severity::Warning,
                    "the target dropped writes: " + std::to_string(span.overflows) +
                        " overflow packets (" + bytes + " " + heard + ")",
                    "it writes faster than the SWO line carries; raise --swo-rate, or write less"};
    }
    return {Severity::Note, "", ""};
}

const char* severityName(Severity severity) noexcept {
    switch (severity) {
        case Severity::Blocking:
            return "problem";
        case Severity::Warning:
            return "warning";
        case Severity::Note:
            return "note";
    }
    return "unknown";
}

std::vector<Finding> explainTraceRegisters(const TraceRegisters& registers,
                                           const TraceExpectations& expected) {
    std::vector<Finding> findings;
    explainDemcr(registers, findings);
    explainItm(registers, expected, findings);
    explainSync(registers, expected, findings);
    explainTpiu(registers, expected, findings);
    return findings;
}

std::string describePortSet(uint32_t mask) {
    std::string text;
    unsigned port = 0;
    while (port < 32) {
        if (((mask >> port) & 1u) == 0) {
            ++port;
            continue;
        }
        unsigned last = port;
        while (last + 1 < 32 && ((mask >> (last + 1)) & 1u)) {
            ++last;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(port);
        if (last > port) {
            text += "-" + std::to_string(last);
        }
        port = last + 1;
    }
    return text.empty() ? "none" : text;
}

std::string describeItmTcr(uint32_t value) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "ITMENA=%u TSENA=%u SYNCENA=%u DWTENA=%u SWOENA=%u TSPrescale=%u TraceBusID=%u "
                  "BUSY=%u",
                  value & 1u, (value >> 1) & 1u, (value >> 2) & 1u, (value >> 3) & 1u,
                  (value >> 4) & 1u, (value >> reg::kItmTcrTsPrescaleShift) & 3u,
                  (value & reg::kItmTcrTraceBusIdMask) >> reg::kItmTcrTraceBusIdShift,
                  (value >> 23) & 1u);
    return text;
}

std::string describeItmLsr(uint32_t value) {
    if ((value & reg::kItmLsrPresent) == 0) {
        return "no lock";
    }
    return (value & reg::kItmLsrLocked) != 0 ? "locked" : "unlocked";
}

std::string describeTpiuType(uint32_t value) {
    char text[96];
    std::snprintf(text, sizeof text, "NRZ %s, Manchester %s, FIFO %u bytes",
                  (value & reg::kTpiuTypeNrz) != 0 ? "yes" : "no",
                  (value & reg::kTpiuTypeManchester) != 0 ? "yes" : "no",
                  1u << ((value >> reg::kTpiuTypeFifoSzShift) & 7u));
    return text;
}

std::string describeDwtCtrl(uint32_t value) {
    char text[96];
    std::snprintf(text, sizeof text, "CYCCNTENA=%u SYNCTAP=%u NOCYCCNT=%u", value & 1u,
                  (value & reg::kDwtCtrlSyncTapMask) >> reg::kDwtCtrlSyncTapShift,
                  (value >> 25) & 1u);
    return text;
}

std::string describeTpiuSppr(uint32_t value) {
    switch (value & 3u) {
        case 0:
            return "parallel port";
        case reg::kSpprManchester:
            return "SWO Manchester";
        case reg::kSpprNrz:
            return "SWO NRZ";
        default:
            return "reserved";
    }
}

std::string describeTpiuFfcr(uint32_t value) {
    return (value & reg::kTpiuFfcrEnFCont) != 0 ? "formatter on" : "formatter bypassed";
}

std::string describeTpiuAcpr(uint32_t value, uint32_t clockHz) {
    const uint32_t prescaler = (value & 0xFFFFu) + 1;
    std::string text = "prescaler " + std::to_string(prescaler);
    if (clockHz != 0) {
        char rate[64];
        std::snprintf(rate, sizeof rate, " (%.0f bit/s from %u Hz)",
                      static_cast<double>(clockHz) / prescaler, clockHz);
        text += rate;
    }
    return text;
}

}  // namespace dravik::swv
