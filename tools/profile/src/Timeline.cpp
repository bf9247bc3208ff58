#include "dravik/profile/Timeline.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace dravik::profile {

namespace {

// Tracks of their own beside the exceptions' and the ports'.
constexpr unsigned kCounterTrack = 2000;
constexpr unsigned kLossTrack = 2001;
constexpr unsigned kPid = 1;

std::string jsonString(std::string_view text) {
    // Target text may hold bytes that are not UTF-8; they must not end the output.
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

TimelineWriter::TimelineWriter(TimelineOptions options) : options_(options) {
    out_ = "[";
    out_ +=
        "\n{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":1,\"tid\":0,"
        "\"args\":{\"name\":\"target\"}}";
}

std::string TimelineWriter::time(uint64_t ticks) const {
    const double elapsed = static_cast<double>(ticks - std::min(ticks, origin_.value_or(ticks)));
    const double us = options_.timestampHz > 0 ? elapsed * 1e6 / options_.timestampHz : elapsed;
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", us);
    return text;
}

void TimelineWriter::nameTrack(unsigned track, const std::string& name) {
    out_ += ",\n{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":1,\"tid\":" + std::to_string(track) +
            ",\"args\":{\"name\":" + jsonString(name) + "}}";
    out_ += ",\n{\"name\":\"thread_sort_index\",\"ph\":\"M\",\"pid\":1,\"tid\":" +
            std::to_string(track) + ",\"args\":{\"sort_index\":" + std::to_string(track) + "}}";
}

void TimelineWriter::event(unsigned track, char phase, std::string_view name, uint64_t ticks,
                           const std::string& args) {
    const auto [it, added] = lastTicks_.emplace(track, ticks);
    if (added) {
        std::string trackName;
        if (track < kExceptionCount) {
            trackName = exceptionName(track);
        } else if (track >= kPortTrackBase && track < kCounterTrack) {
            trackName = "ITM port " + std::to_string(track - kPortTrackBase);
        } else {
            trackName = track == kCounterTrack ? "PC samples" : "trace losses";
        }
        nameTrack(track, trackName);
    }
    it->second = std::max(it->second, ticks);
    out_ += ",\n{\"name\":" + jsonString(name) + ",\"ph\":\"" + phase +
            "\",\"ts\":" + time(it->second) + ",\"pid\":" + std::to_string(kPid) +
            ",\"tid\":" + std::to_string(track);
    if (phase == 'i') {
        out_ += ",\"s\":\"t\"";
    }
    if (!args.empty()) {
        out_ += ",\"args\":" + args;
    }
    out_ += "}";
}

void TimelineWriter::handle(const std::vector<ExceptionEvent>& events, bool atEnd) {
    for (const ExceptionEvent& e : events) {
        const std::string name = exceptionName(e.number);
        if (e.kind == ExceptionEvent::Kind::Entered) {
            if (e.ticks) {
                event(e.number, 'B', name, *e.ticks,
                      "{\"number\":" + std::to_string(e.number) + "}");
            } else {
                ++untimed_;
            }
            continue;
        }
        // An end only for a begin that was written; one whose time is not known (a lost exit)
        // ends at the latest time seen.
        if (!e.entryTicks) {
            continue;
        }
        const uint64_t at = e.ticks.value_or(latest_.value_or(*e.entryTicks));
        event(e.number, 'E', name, at,
              e.kind == ExceptionEvent::Kind::Abandoned && !atEnd ? "{\"exit\":\"lost\"}" : "");
    }
}

void TimelineWriter::add(const itm::Packet& packet, std::optional<uint64_t> ticks) {
    if (finished_) {
        return;
    }
    if (ticks) {
        if (!origin_) {
            origin_ = ticks;
        }
        latest_ = std::max(latest_.value_or(*ticks), *ticks);
    }
    events_.clear();
    switch (packet.kind) {
        case itm::PacketKind::ExceptionTrace:
            tracker_.add(packet, ticks, events_);
            handle(events_);
            return;
        case itm::PacketKind::Overflow:
            tracker_.abandonAll(ticks, events_);
            handle(events_);
            if (ticks || latest_) {
                event(kLossTrack, 'i', "overflow", ticks.value_or(*latest_), "");
            }
            return;
        case itm::PacketKind::PeriodicPc:
        case itm::PacketKind::PeriodicPcSleep:
            if (!options_.pcCounter) {
                return;
            }
            if (!ticks) {
                ++untimed_;
                return;
            }
            event(
                kCounterTrack, 'C', "PC", *ticks,
                "{\"pc\":" +
                    std::to_string(packet.kind == itm::PacketKind::PeriodicPc ? packet.value : 0) +
                    "}");
            return;
        default:
            return;
    }
}

void TimelineWriter::addTextLine(unsigned port, std::string_view text,
                                 std::optional<uint64_t> ticks) {
    if (finished_) {
        return;
    }
    if (!ticks) {
        ++untimed_;
        return;
    }
    if (!origin_) {
        origin_ = ticks;
    }
    latest_ = std::max(latest_.value_or(*ticks), *ticks);
    event(kPortTrackBase + port, 'i', text, *ticks, "");
}

void TimelineWriter::noteGap() {
    if (finished_) {
        return;
    }
    events_.clear();
    tracker_.abandonAll(std::nullopt, events_);
    handle(events_);
    if (latest_) {
        event(kLossTrack, 'i', "gap", *latest_, "");
    }
}

std::string TimelineWriter::take() {
    std::string taken;
    taken.swap(out_);
    return taken;
}

std::string TimelineWriter::finish() {
    if (!finished_) {
        events_.clear();
        tracker_.abandonAll(std::nullopt, events_);
        handle(events_, true);
        out_ += "\n]\n";
        finished_ = true;
    }
    return take();
}

}  // namespace dravik::profile
