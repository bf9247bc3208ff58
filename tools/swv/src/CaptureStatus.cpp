#include "dravik/swv/CaptureStatus.h"

#include <cstdio>

#include "dravik/swv/HealthWarning.h"

namespace dravik::swv {

StatusSnapshot snapshotFrom(const PipelineCounters& counters) {
    StatusSnapshot status;
    status.bytes = counters.bytes;
    status.packets = counters.packets;
    for (unsigned port = 0; port < kPortCount; ++port) {
        if (counters.portPackets[port] != 0) {
            const bool enabled = port < 32 && ((counters.enabledMask >> port) & 1u) != 0;
            (enabled ? status.portPackets : status.unexpectedPorts)
                .emplace_back(port, counters.portPackets[port]);
        }
    }
    status.unexpectedPackets = counters.unexpectedPackets;
    status.overflows = counters.overflows;
    status.decodeErrors = counters.decodeErrors;
    status.hostDrops = counters.probeDrops;
    status.readFailures = counters.readFailures;
    status.queueDropBytes = counters.queueDropBytes;
    return status;
}

std::string formatByteCount(double bytes) {
    char text[32];
    if (bytes >= 1e6) {
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    } else if (bytes >= 1e3) {
        std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    }
    return text;
}

std::string formatByteRate(double bytesPerSecond) {
    return formatByteCount(bytesPerSecond) + "/s";
}

namespace {

std::string number(uint64_t value) {
    return std::to_string(value);
}

std::string portList(const StatusSnapshot& status, const char* separator) {
    std::string text;
    for (const auto& [port, count] : status.portPackets) {
        if (!text.empty()) {
            text += separator;
        }
        text += number(port) + ":" + number(count);
    }
    return text;
}

// "port 224" or "43 ports (32, 33, 40, 41, 57, 60, 61, 62, ...)": a corrupt stream touches them
// all.
std::string unexpectedPortList(const StatusSnapshot& status) {
    constexpr size_t kNamed = 8;
    const auto& ports = status.unexpectedPorts;
    if (ports.size() == 1) {
        return "port " + number(ports.front().first);
    }
    std::string text = number(ports.size()) + " ports (";
    for (size_t i = 0; i < ports.size() && i < kNamed; ++i) {
        text += (i == 0 ? "" : ", ") + number(ports[i].first);
    }
    return text + (ports.size() > kNamed ? ", ...)" : ")");
}

std::string losses(const StatusSnapshot& status) {
    return "overflows " + number(status.overflows) + ", decode errors " +
           number(status.decodeErrors) + " B, host drops " + number(status.hostDrops) +
           ", read failures " + number(status.readFailures) + ", queue drops " +
           number(status.queueDropBytes) + " B";
}

// The losses that happened, for the live line; the summary lists every kind.
std::string lossesSeen(const StatusSnapshot& status) {
    const struct {
        uint64_t count;
        const char* name;
        const char* unit;
    } kinds[] = {{status.overflows, "overflows ", ""},
                 {status.decodeErrors, "decode errors ", " B"},
                 {status.hostDrops, "host drops ", ""},
                 {status.readFailures, "read failures ", ""},
                 {status.queueDropBytes, "queue drops ", " B"}};
    std::string text;
    for (const auto& kind : kinds) {
        if (kind.count != 0) {
            text += (text.empty() ? "" : ", ") + std::string(kind.name) + number(kind.count) +
                    kind.unit;
        }
    }
    return text.empty() ? "no losses" : text;
}

}  // namespace

std::string formatStatusLine(const StatusSnapshot& status) {
    // What matters most comes first, since a narrow terminal cuts the end off.
    char head[64];
    std::snprintf(head, sizeof head, "%.1f s  ", status.elapsedSeconds);
    std::string line = head + formatByteRate(status.bytesPerSecond) + "  " +
                       formatByteCount(static_cast<double>(status.bytes)) + "  " +
                       number(status.packets) + " packets  " + lossesSeen(status);
    if (!status.portPackets.empty() || status.unexpectedPackets != 0) {
        line += "  |";
    }
    if (!status.portPackets.empty()) {
        line += "  ports " + portList(status, " ");
    }
    if (status.unexpectedPackets != 0) {
        line += "  unexpected " + number(status.unexpectedPackets);
    }
    return line;
}

std::string formatSummary(const StatusSnapshot& status, const char* what) {
    std::string text = std::string(what) + " " + number(status.bytes) + " bytes";
    if (status.elapsedSeconds > 0) {
        char span[96];
        std::snprintf(
            span, sizeof span, " in %.1f s (%s)", status.elapsedSeconds,
            formatByteRate(static_cast<double>(status.bytes) / status.elapsedSeconds).c_str());
        text += span;
    }
    text += ", " + number(status.packets) + " packets\n";
    for (const auto& [port, count] : status.portPackets) {
        text += "  port " + number(port) + ": " + number(count) + " packets\n";
    }
    if (!status.unexpectedPorts.empty()) {
        text += "  unexpected ports: " + number(status.unexpectedPackets) + " packets on " +
                unexpectedPortList(status) + ", not enabled\n";
    }
    text += "  losses: " + losses(status) + "\n";
    if (status.bufferFullPolls != 0) {
        text += "  " + bufferFullText(status.bufferFullPolls) + "\n";
    }
    for (const std::string& line : status.details) {
        text += line + "\n";
    }
    if (status.health) {
        text += "  health: " + describeVerdict(*status.health) + "\n";
    }
    return text;
}

double RateMeter::update(uint64_t nowUs, uint64_t totalBytes) {
    if (!started_) {
        started_ = true;
        baseUs_ = lastUs_ = nowUs;
        baseBytes_ = lastBytes_ = totalBytes;
        return rate_;
    }
    // Two half-windows: the rate spans from the previous base to now, then the base moves on.
    if (nowUs > baseUs_) {
        rate_ = static_cast<double>(totalBytes - baseBytes_) * 1e6 /
                static_cast<double>(nowUs - baseUs_);
    }
    if (nowUs - lastUs_ >= windowUs_ / 2) {
        baseUs_ = lastUs_;
        baseBytes_ = lastBytes_;
        lastUs_ = nowUs;
        lastBytes_ = totalBytes;
    }
    return rate_;
}

}  // namespace dravik::swv
