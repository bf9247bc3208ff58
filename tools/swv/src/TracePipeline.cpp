#include "dravik/swv/TracePipeline.h"

#include <algorithm>

namespace dravik::swv {

std::string gapLine(GapCause cause, uint64_t lostBytes) {
    switch (cause) {
        case GapCause::QueueFull:
            return "[gap] " + std::to_string(lostBytes) +
                   " bytes not shown: the output could not keep up\n";
        case GapCause::ProbeDropped:
            return "[gap] trace lost: the library discarded pending bytes (result 403)\n";
        case GapCause::ReadFailure:
            return "[gap] trace may be lost: a trace read failed\n";
        case GapCause::None:
            break;
    }
    return "[gap] trace missing\n";
}

TracePipeline::TracePipeline(const PipelineConfig& config, std::ostream* main)
    : config_(config), records_(config.format, config.timestampHz) {
    main_.stream = config.quiet ? nullptr : main;
    main_.name = "standard output";
    counters_.enabledMask = config_.enabledMask;
    for (unsigned port = 0; port < 32; ++port) {
        enabled_[port] = ((config_.enabledMask >> port) & 1u) != 0;
    }

    std::array<bool, kPortCount> filed{};
    for (const PortFileRoute& file : config_.files) {
        if (file.port < kPortCount) {
            filed[file.port] = true;
        }
    }
    std::vector<PortRoute> shown = config_.ports;
    if (shown.empty()) {
        for (unsigned port = 0; port < kPortCount; ++port) {
            if (!filed[port]) {
                shown.push_back(PortRoute{port, PortFormat::Auto});
            }
        }
    }
    size_t shownEnabled = 0;
    for (const PortRoute& route : shown) {
        shownEnabled += route.port < kPortCount && enabled_[route.port] ? 1 : 0;
    }
    prefix_ = config_.ports.empty() ? shownEnabled > 1 : shown.size() > 1;
    for (const PortRoute& route : shown) {
        if (route.port >= kPortCount || onMain_[route.port]) {
            continue;
        }
        onMain_[route.port] = true;
        if (config_.format == OutputFormat::Text && main_.stream != nullptr) {
            const bool prefix = prefix_ || !enabled_[route.port];
            routes_[route.port].push_back(
                Route{PortFormatter(route.port, route.format, prefix), &main_});
        }
    }
    for (const PortFileRoute& file : config_.files) {
        if (file.port >= kPortCount || file.stream == nullptr) {
            continue;
        }
        auto output = std::make_unique<Output>();
        output->stream = file.stream;
        output->name = "the file of port " + std::to_string(file.port);
        routes_[file.port].push_back(
            Route{PortFormatter(file.port, file.format, false), output.get()});
        files_.push_back(std::move(output));
    }
    if (main_.stream != nullptr) {
        main_.pending = records_.header();
    }
}

void TracePipeline::onPacket(const itm::Packet& packet, std::optional<uint64_t> hostUs) {
    ++counters_.packets;
    if (packet.kind == itm::PacketKind::Instrumentation) {
        ++counters_.portPackets[packet.port];
        counters_.unexpectedPackets += enabled_[packet.port] ? 0 : 1;
        for (Route& route : routes_[packet.port]) {
            route.formatter.add(packet, route.output->pending);
        }
    } else if (packet.kind == itm::PacketKind::Overflow) {
        ++counters_.overflows;
    }
    if (config_.format != OutputFormat::Text && main_.stream != nullptr) {
        if (packet.kind != itm::PacketKind::Instrumentation || onMain_[packet.port]) {
            timer_.add(packet, hostUs, timed_);
        }
    }
}

void TracePipeline::writeRecords() {
    for (const TimedPacket& timed : timed_) {
        records_.appendPacket(timed, main_.pending);
    }
    timed_.clear();
}

void TracePipeline::decode(const uint8_t* bytes, size_t size, std::optional<uint64_t> hostUs) {
    decoder_.feed(bytes, size, [&](const itm::Packet& packet) { onPacket(packet, hostUs); });
}

void TracePipeline::data(const uint8_t* bytes, size_t size, std::optional<uint64_t> hostUs) {
    while (size > 0) {
        size_t piece = static_cast<size_t>(
            std::min<uint64_t>(size, kHealthSliceBytes - counters_.bytes % kHealthSliceBytes));
        const bool tail = tailAfterGap_ != 0;
        if (tail) {
            piece = std::min(piece, tailAfterGap_);
        }
        const uint64_t discarded = decoder_.stats().discardedBytes;
        decode(bytes, piece, hostUs);
        counters_.bytes += piece;
        if (tail) {
            cutBytes_ += decoder_.stats().discardedBytes - discarded;
            tailAfterGap_ -= piece;
        }
        bytes += piece;
        size -= piece;
        if (counters_.bytes % kHealthSliceBytes == 0) {
            noteHealth();
        }
    }
    writeRecords();
}

void TracePipeline::noteHealth() {
    if (health_.update(tally())) {
        healthAlarm_ = true;
    }
}

bool TracePipeline::takeHealthAlarm() {
    const bool alarm = healthAlarm_;
    healthAlarm_ = false;
    return alarm;
}

StreamTally TracePipeline::tally() const {
    StreamTally tally;
    tally.bytes = counters_.bytes;
    tally.packets = counters_.packets - decoder_.stats().syncs();
    tally.undecodableBytes = decoder_.stats().discardedBytes - cutBytes_;
    tally.unexpectedPackets = counters_.unexpectedPackets;
    tally.overflows = counters_.overflows;
    return tally;
}

void TracePipeline::endSegment() {
    decoder_.finish();
    timer_.flush(timed_);
    writeRecords();
    for (auto& routes : routes_) {
        for (Route& route : routes) {
            route.formatter.flush(route.output->pending);
        }
    }
}

void TracePipeline::gap(GapCause cause, uint64_t lostBytes, std::optional<uint64_t> hostUs) {
    switch (cause) {
        case GapCause::QueueFull:
            counters_.queueDropBytes += lostBytes;
            break;
        case GapCause::ProbeDropped:
            ++counters_.probeDrops;
            break;
        case GapCause::ReadFailure:
            ++counters_.readFailures;
            break;
        case GapCause::None:
            break;
    }
    // The packet the gap cut was not received wrong: neither its start nor its end is a decode
    // error.
    cutBytes_ += decoder_.heldBytes();
    tailAfterGap_ = itm::Decoder::kMaxPacketBytes - 1;
    endSegment();
    if (main_.stream == nullptr) {
        return;
    }
    if (config_.format != OutputFormat::Text) {
        records_.appendGap(cause, lostBytes, hostUs, main_.pending);
    } else {
        main_.pending += gapLine(cause, lostBytes);
    }
}

void TracePipeline::finish() {
    // Stopping the receiver cuts the stream wherever the line was: a packet it leaves unfinished
    // was not received wrong, so it is not a decode error (the recording keeps its bytes).
    cutBytes_ += decoder_.heldBytes();
    endSegment();
    noteHealth();
}

void TracePipeline::closeMain() {
    main_.stream = nullptr;
    main_.pending.clear();
}

bool TracePipeline::flush() {
    auto write = [&](Output& output) {
        if (output.pending.empty() || output.stream == nullptr) {
            output.pending.clear();
            return true;
        }
        output.stream->write(output.pending.data(),
                             static_cast<std::streamsize>(output.pending.size()));
        output.stream->flush();
        output.pending.clear();
        if (!*output.stream) {
            failed_ = output.name;
            mainFailed_ = mainFailed_ || &output == &main_;
            return false;
        }
        return true;
    };
    bool ok = write(main_);
    for (auto& file : files_) {
        ok = write(*file) && ok;
    }
    return ok;
}

PipelineCounters TracePipeline::counters() const {
    PipelineCounters counters = counters_;
    counters.decodeErrors = tally().undecodableBytes;
    return counters;
}

}  // namespace dravik::swv
