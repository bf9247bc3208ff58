#include "dravik/swv/StreamHealth.h"

#include <cstdio>

namespace dravik::swv {

namespace {

double share(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

std::string percent(uint64_t part, uint64_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * share(part, whole));
    return text;
}

}  // namespace

StreamTally StreamTally::since(const StreamTally& earlier) const {
    StreamTally span;
    span.bytes = bytes - earlier.bytes;
    span.packets = packets - earlier.packets;
    span.undecodableBytes = undecodableBytes - earlier.undecodableBytes;
    span.unexpectedPackets = unexpectedPackets - earlier.unexpectedPackets;
    span.overflows = overflows - earlier.overflows;
    return span;
}

bool HealthVerdict::unhealthy() const {
    return condition == StreamCondition::Corrupt || condition == StreamCondition::StrayPorts ||
           condition == StreamCondition::Overflowing;
}

StreamCondition StreamHealth::judge(const StreamTally& span) {
    // The ITM sends synchronisation packets of its own accord: they are no sign of trace.
    if (span.bytes == 0 || (span.packets == 0 && span.undecodableBytes == 0)) {
        return StreamCondition::NoTrace;
    }
    if (span.bytes < kMinBytes) {
        return StreamCondition::TooLittle;
    }
    const uint64_t suspicious = span.undecodableBytes + span.unexpectedPackets + span.overflows;
    if (share(suspicious, span.bytes) < kThreshold) {
        return StreamCondition::Healthy;
    }
    if (share(span.undecodableBytes, span.bytes) >= kCorruptUndecodable) {
        return StreamCondition::Corrupt;
    }
    return span.unexpectedPackets >= span.overflows ? StreamCondition::StrayPorts
                                                    : StreamCondition::Overflowing;
}

bool StreamHealth::update(const StreamTally& now) {
    total_ = now;
    samples_.push_back(now);
    // The shortest run of samples that still spans a window.
    while (samples_.size() > 2 && now.bytes - samples_[1].bytes >= kWindowBytes) {
        samples_.pop_front();
    }
    if (firstUnhealthy_) {
        return false;
    }
    const StreamTally window = now.since(samples_.front());
    if (window.bytes < kWindowBytes) {
        return false;
    }
    HealthVerdict verdict{judge(window), window};
    if (!verdict.unhealthy()) {
        return false;
    }
    firstUnhealthy_ = verdict;
    return true;
}

HealthVerdict StreamHealth::verdict() const {
    if (firstUnhealthy_) {
        return *firstUnhealthy_;
    }
    return HealthVerdict{judge(total_), total_};
}

std::string describeVerdict(const HealthVerdict& verdict) {
    const StreamTally& span = verdict.span;
    const std::string bytes = std::to_string(span.bytes) + " bytes";
    switch (verdict.condition) {
        case StreamCondition::NoTrace:
            return "no trace arrived";
        case StreamCondition::TooLittle:
            return "too little trace to judge (" + bytes + ")";
        case StreamCondition::Healthy:
            return "good";
        case StreamCondition::Corrupt:
            return "corrupt: " + percent(span.undecodableBytes, span.bytes) +
                   " of the bytes formed no packet, " + std::to_string(span.unexpectedPackets) +
                   " packets on ports not enabled (in " + bytes + ")";
        case StreamCondition::StrayPorts:
            return "packets on ports not enabled: " + std::to_string(span.unexpectedPackets) +
                   " in " + bytes;
        case StreamCondition::Overflowing:
            return "the target dropped writes: " + std::to_string(span.overflows) +
                   " overflow packets in " + bytes;
    }
    return "unknown";
}

}  // namespace dravik::swv
