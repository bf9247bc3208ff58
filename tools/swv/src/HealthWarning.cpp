#include "dravik/swv/HealthWarning.h"

namespace dravik::swv {

namespace {

std::string rate(const HealthAdvice& advice) {
    if (advice.clockHz == 0) {
        return {};
    }
    std::string text = std::to_string(advice.clockHz) + " Hz";
    if (advice.prescaler != 0) {
        text += " / " + std::to_string(advice.prescaler);
    }
    return text;
}

std::string doctor(const HealthAdvice& advice) {
    return advice.doctor.empty() ? "dravik-swv doctor" : advice.doctor;
}

}  // namespace

std::string healthWarning(const HealthVerdict& verdict, const HealthAdvice& advice) {
    const StreamTally& span = verdict.span;
    const std::string head = "dravik-swv: warning: ";
    switch (verdict.condition) {
        case StreamCondition::Corrupt: {
            std::string text = head + "the trace does not decode (" + undecodableShare(span) +
                               " of the bytes formed no packet" + ", " +
                               std::to_string(span.unexpectedPackets) +
                               " packets on ports not enabled)\n";
            const std::string given = rate(advice);
            if (advice.live) {
                text += "  likely causes: a wrong SWO rate or encoding\n";
                text += "  --clock must be the clock the TPIU divides" +
                        (given.empty() ? std::string()
                                       : (advice.clockMeasured ? " (measured: " : " (given: ") +
                                             given + ")") +
                        "\n";
                text += "  --mode nrz: the probe's receiver reads NRZ only\n";
                text += "  check the setup with: " + doctor(advice) + "\n";
            } else {
                text += "  likely causes: it was captured at a wrong SWO rate or encoding" +
                        (given.empty() ? std::string() : " (" + given + ")") + "\n";
                text += "  capture again with --clock the clock the TPIU divides and --mode nrz; " +
                        doctor(advice) + " checks the setup\n";
            }
            return text;
        }
        case StreamCondition::StrayPorts:
            return head + std::to_string(span.unexpectedPackets) +
                   " packets came on ports not enabled (in " + std::to_string(span.bytes) +
                   " bytes)\n"
                   "  likely causes: the decoder lost its place in the stream (it finds it again "
                   "at the next synchronisation packet, which --no-sync turns off), or the target "
                   "enables more ports than --ports\n";
        case StreamCondition::Overflowing:
            return head + "the target dropped writes: " + std::to_string(span.overflows) +
                   " overflow packets in " + std::to_string(span.bytes) +
                   " bytes\n"
                   "  likely causes: it writes faster than the SWO line carries; raise "
                   "--swo-rate, or write less\n";
        case StreamCondition::NoTrace:
        case StreamCondition::TooLittle:
        case StreamCondition::Healthy:
            break;
    }
    return {};
}

std::string bufferFullText(uint64_t polls) {
    return "probe buffer full " + std::to_string(polls) + " times (bytes may be lost)";
}

std::string bufferFullWarning(uint64_t polls) {
    return "dravik-swv: warning: " + bufferFullText(polls) +
           "\n"
           "  likely causes: the draining thread was kept from its core (a busy machine;\n"
           "  -v shows how it is scheduled), or the line is faster than the probe can be\n"
           "  read (choose a lower --swo-rate)\n";
}

}  // namespace dravik::swv
