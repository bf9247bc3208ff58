// decode --format chrome-trace: a recording as an exception timeline in the Trace Event Format,
// for the Perfetto UI and chrome://tracing.
#include <array>
#include <memory>
#include <string>

#include "dravik/itm/LineAssembler.h"
#include "dravik/profile/Timeline.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/RecordReplay.h"
#include "dravik/swv/TimedPacketFeed.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

namespace {

// A write is text when it holds no control character but tab, CR, LF and NUL padding: a port
// that writes numbers in between (a counter) gives no lines of garbage.
bool isTextWrite(const itm::Packet& packet) {
    for (unsigned i = 0; i < packet.size; ++i) {
        const auto c = static_cast<uint8_t>(packet.value >> (8 * i));
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != 0) || c == 0x7F) {
            return false;
        }
    }
    return true;
}

// The ports whose text becomes instant events: those --port shows as text or auto, or all.
class TextLines {
  public:
    explicit TextLines(const std::vector<PortRoute>& routes) {
        for (unsigned port = 0; port < kPortCount; ++port) {
            mode_[port] = routes.empty() ? PortFormat::Auto : PortFormat::Hex;
        }
        for (const PortRoute& route : routes) {
            if (route.port < kPortCount) {
                mode_[route.port] = route.format;
            }
        }
    }

    template <typename OnLine>
    void add(const itm::Packet& packet, OnLine&& onLine) {
        const PortFormat mode = mode_[packet.port];
        if (mode == PortFormat::Hex || mode == PortFormat::Dec ||
            (mode == PortFormat::Auto && !isTextWrite(packet))) {
            return;
        }
        std::unique_ptr<itm::LineAssembler>& lines = lines_[packet.port];
        if (!lines) {
            lines = std::make_unique<itm::LineAssembler>(packet.port);
        }
        lines->add(packet, [&](std::string_view line) { onLine(packet.port, line); });
    }

    template <typename OnLine>
    void flush(OnLine&& onLine) {
        for (auto& lines : lines_) {
            if (lines) {
                lines->flush([&](std::string_view line) { onLine(lines->port(), line); });
            }
        }
    }

  private:
    std::array<PortFormat, kPortCount> mode_{};
    std::array<std::unique_ptr<itm::LineAssembler>, kPortCount> lines_;
};

}  // namespace

int runTimeline(ToolEnvironment& env, const DecodeOptions& options) {
    RecordingReader reader;
    double timestampHz = 0;
    if (!openRecording(env, options.path, options.clockHz, reader, timestampHz)) {
        return kExitFailure;
    }
    profile::TimelineOptions timelineOptions;
    timelineOptions.timestampHz = timestampHz;
    timelineOptions.pcCounter = options.pcCounter;
    profile::TimelineWriter timeline(timelineOptions);
    TextLines text(options.output.ports);
    std::optional<uint64_t> lastTicks;  // of the packet in hand, for the line it completes
    auto onLine = [&](unsigned port, std::string_view line) {
        timeline.addTextLine(port, line, lastTicks);
    };
    bool timestamped = false;
    TimedPacketFeed feed([&](const TimedPacket& timed) {
        timestamped = timestamped || timed.ticks.has_value();
        timeline.add(timed.packet, timed.ticks);
        if (timed.packet.kind == itm::PacketKind::Instrumentation) {
            lastTicks = timed.ticks;
            text.add(timed.packet, onLine);
        }
    });

    bool failed = false;
    auto write = [&](const std::string& out) {
        if (!failed && !out.empty()) {
            env.out.write(out.data(), static_cast<std::streamsize>(out.size()));
            env.out.flush();
            failed = !env.out;
        }
        return !failed;
    };
    const ReplayEnd end = replayRecords(env, reader, [&](const Record& record) {
        if (record.type == RecordType::Data) {
            feed.data(record.data.data(), record.data.size(), std::nullopt);
        } else {
            // The lines cut by the gap end where the trace was lost.
            feed.cut();
            text.flush(onLine);
            timeline.noteGap();
        }
        return write(timeline.take());
    });
    if (end.status != kExitOk) {
        return end.status;
    }
    feed.cut();
    text.flush(onLine);
    write(timeline.finish());
    if (failed) {
        if (env.outputGone && env.outputGone()) {
            return kExitOk;
        }
        env.message("dravik-swv: cannot write to standard output\n");
        return kExitFailure;
    }
    if (timeline.untimedEvents() != 0) {
        const uint64_t untimed = timeline.untimedEvents();
        env.message("dravik-swv: " + std::to_string(untimed) +
                    (untimed == 1 ? " event" : " events") + " had no target time and " +
                    (untimed == 1 ? "is" : "are") + " left out" +
                    (timestamped ? std::string(": they came before the first local timestamp\n")
                                 : std::string(": the trace has no local timestamps (capture "
                                               "with --timestamps)\n")));
    }
    if (timestamped && timestampHz <= 0) {
        env.message(
            "dravik-swv: the timestamp clock is not known (give --clock): one tick is shown as "
            "one microsecond\n");
    }
    return kExitOk;
}

}  // namespace dravik::swv
