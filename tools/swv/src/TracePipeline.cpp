#include "dravik/swv/TracePipeline.h"

#include <algorithm>

#include "dravik/swv/Colour.h"

namespace dravik::swv {

std::string gapText(GapCause cause, uint64_t lostBytes) {
    switch (cause) {
        case GapCause::QueueFull:
            return std::to_string(lostBytes) + " bytes not shown: the output could not keep up";
        case GapCause::ProbeDropped:
            return "trace lost: the library discarded pending bytes (result 403)";
        case GapCause::ReadFailure:
            return "trace may be lost: a trace read failed";
        case GapCause::None:
            break;
    }
    return "trace missing";
}

TracePipeline::TracePipeline(const PipelineConfig& config, std::ostream* main)
    : config_(config),
      text_(config.format == OutputFormat::Text),
      main_(config.text.time, config.text.color),
      timer_(config.clocks),
      records_(config.format, config.clocks) {
    main_.stream = config.quiet ? nullptr : main;
    main_.name = "standard output";
    main_.live = config.text.livePartialLines;
    counters_.enabledMask = config_.enabledMask;
    for (unsigned port = 0; port < 32; ++port) {
        enabled_[port] = ((config_.enabledMask >> port) & 1u) != 0;
    }
    const TimeColumn column(config.text.time);
    useTimer_ = main_.stream != nullptr && (!text_ || column.showsTarget());

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
                shown.emplace_back(port);
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
        recordFormat_[route.port] = route.format;
        if (text_ && main_.stream != nullptr) {
            const bool prefix = prefix_ || !enabled_[route.port];
            routes_[route.port].push_back(
                Route{PortFormatter(route.port, route.format, prefix, route.pattern), &main_});
        }
    }
    for (const PortFileRoute& file : config_.files) {
        if (file.port >= kPortCount || file.stream == nullptr) {
            continue;
        }
        // A port's file holds its text alone: no time column, no colour.
        auto output = std::make_unique<Output>(TimeColumnConfig{}, false);
        output->stream = file.stream;
        output->name = "the file of port " + std::to_string(file.port);
        routes_[file.port].push_back(
            Route{PortFormatter(file.port, file.format, false, file.pattern), output.get()});
        files_.push_back(std::move(output));
    }
    if (main_.stream != nullptr && !text_) {
        main_.display.pending() = records_.header();
    }
}

void TracePipeline::recordPacket(const TimedPacket& timed) {
    const itm::Packet& packet = timed.packet;
    std::optional<std::string> text;
    if (packet.kind == itm::PacketKind::Instrumentation) {
        const PortFormat format = recordFormat_[packet.port];
        WriteClass& last = recordClass_[packet.port];
        const WriteClass kind = classifyWrite(packet, last);
        last = kind == WriteClass::Unclear ? last : kind;
        if (format == PortFormat::Text ||
            (format == PortFormat::Auto && kind == WriteClass::Text)) {
            text = writeCharacters(packet);
        }
    }
    records_.appendPacket(timed, text, main_.display.pending());
}

void TracePipeline::dispatch(const TimedPacket& timed) {
    const itm::Packet& packet = timed.packet;
    if (!text_) {
        if (main_.stream != nullptr &&
            (packet.kind != itm::PacketKind::Instrumentation || onMain_[packet.port])) {
            recordPacket(timed);
        }
        return;
    }
    if (timed.seconds && main_.display.time().showsTarget()) {
        main_.display.time().noteTarget(*timed.seconds);
    }
    if (packet.kind == itm::PacketKind::Instrumentation) {
        for (Route& route : routes_[packet.port]) {
            route.formatter.add(timed, route.output->display);
        }
        return;
    }
    RowLabel label;
    std::string body;
    if (main_.stream != nullptr && eventRow(packet, config_.text.events, label, body)) {
        main_.display.row(label, LineStamp{timed.seconds, timed.hostUs}, body);
    }
}

void TracePipeline::dispatchTimed() {
    for (const TimedPacket& timed : timed_) {
        dispatch(timed);
    }
    timed_.clear();
}

void TracePipeline::onPacket(const itm::Packet& packet, std::optional<uint64_t> hostUs) {
    ++counters_.packets;
    if (packet.kind == itm::PacketKind::Instrumentation) {
        ++counters_.portPackets[packet.port];
        counters_.unexpectedPackets += enabled_[packet.port] ? 0 : 1;
        if (!useTimer_) {
            // Text without target time: nothing waits for a timestamp.
            TimedPacket timed;
            timed.packet = packet;
            timed.hostUs = hostUs;
            for (Route& route : routes_[packet.port]) {
                route.formatter.add(timed, route.output->display);
            }
            return;
        }
    } else if (packet.kind == itm::PacketKind::Overflow) {
        ++counters_.overflows;
    }
    if (useTimer_) {
        timer_.add(packet, hostUs, timed_);
    } else if (config_.text.events.shown) {
        TimedPacket timed;
        timed.packet = packet;
        timed.hostUs = hostUs;
        dispatch(timed);
    }
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
        dispatchTimed();
    }
}

void TracePipeline::tick(uint64_t nowUs) {
    const std::optional<uint64_t> held = timer_.heldSinceUs();
    if (held && nowUs >= *held + kPartialLineHoldUs) {
        // A timestamp follows its packet at once; after a pause none is coming for this one.
        timer_.flush(timed_);
        dispatchTimed();
    }
    std::vector<Route*> due;
    for (auto& routes : routes_) {
        for (Route& route : routes) {
            if (route.formatter.waiting() && showsEarly(route) &&
                nowUs >= route.formatter.waitingSinceUs() + kPartialLineHoldUs) {
                due.push_back(&route);
            }
        }
    }
    // In the order their text arrived, so that the rows keep the stream's order.
    std::stable_sort(due.begin(), due.end(), [](const Route* a, const Route* b) {
        return a->formatter.waitingSinceUs() < b->formatter.waitingSinceUs();
    });
    for (Route* route : due) {
        route->formatter.showWaiting(route->output->display);
    }
}

std::optional<uint64_t> TracePipeline::nextDueUs() const {
    std::optional<uint64_t> next;
    auto consider = [&next](uint64_t sinceUs) {
        const uint64_t due = sinceUs + kPartialLineHoldUs;
        next = next ? std::min(*next, due) : due;
    };
    if (const std::optional<uint64_t> held = timer_.heldSinceUs()) {
        consider(*held);
    }
    for (const auto& routes : routes_) {
        for (const Route& route : routes) {
            if (route.formatter.waiting() && showsEarly(route)) {
                consider(route.formatter.waitingSinceUs());
            }
        }
    }
    return next;
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
    dispatchTimed();
    for (auto& routes : routes_) {
        for (Route& route : routes) {
            route.formatter.flush(route.output->display);
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
    if (!text_) {
        records_.appendGap(cause, lostBytes, hostUs, main_.display.pending());
    } else {
        main_.display.row(RowLabel{"[gap]", sgr::kRed}, LineStamp{std::nullopt, hostUs},
                          gapText(cause, lostBytes));
    }
}

void TracePipeline::finish() {
    // Stopping the receiver cuts the stream wherever the line was: a packet it leaves unfinished
    // was not received wrong, so it is not a decode error (the recording keeps its bytes).
    cutBytes_ += decoder_.heldBytes();
    endSegment();
    main_.display.closeOpenRow();
    for (auto& file : files_) {
        file->display.closeOpenRow();
    }
    noteHealth();
}

void TracePipeline::closeMain() {
    main_.stream = nullptr;
    main_.display.pending().clear();
}

bool TracePipeline::flush() {
    auto write = [&](Output& output) {
        std::string& pending = output.display.pending();
        if (pending.empty() || output.stream == nullptr) {
            pending.clear();
            return true;
        }
        output.stream->write(pending.data(), static_cast<std::streamsize>(pending.size()));
        output.stream->flush();
        pending.clear();
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
