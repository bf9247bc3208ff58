#include "dravik/swv/Recording.h"

#include <cstring>

namespace dravik::swv {

const char* gapCauseName(GapCause cause) noexcept {
    switch (cause) {
        case GapCause::None:
            return "none";
        case GapCause::QueueFull:
            return "queue full";
        case GapCause::ProbeDropped:
            return "probe dropped";
        case GapCause::ReadFailure:
            return "read failure";
    }
    return "unknown";
}

RecordingHeader makeRecordingHeader(const RecordingSettings& settings) noexcept {
    RecordingHeader header;
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.magic, kRecordingMagic, sizeof header.magic);
    header.version = kRecordingVersion;
    header.headerSize = sizeof(RecordingHeader);
    header.traceClockHz = settings.traceClockHz;
    header.prescaler = settings.prescaler;
    header.swoRateBps = settings.prescaler == 0 ? 0 : settings.traceClockHz / settings.prescaler;
    header.stimulusMask = settings.stimulusMask;
    header.txModeFlags = settings.txModeFlags;
    header.pinProtocol = settings.pinProtocol;
    header.itmTcr = settings.itmTcr;
    header.startTimeUs = settings.startTimeUs;
    if (settings.serial != nullptr) {
        // Zero-padded; a serial number of exactly 32 characters fills the field unterminated.
        const size_t length = strnlen(settings.serial, sizeof header.serial);
        std::memcpy(header.serial, settings.serial, length);
    }
    return header;
}

double timestampClockHz(uint32_t traceClockHz, uint32_t itmTcr) noexcept {
    static constexpr unsigned kPrescale[4] = {1, 4, 16, 64};
    return static_cast<double>(traceClockHz) / kPrescale[(itmTcr >> 8) & 3];
}

}  // namespace dravik::swv
