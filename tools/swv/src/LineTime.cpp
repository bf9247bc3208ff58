#include "dravik/swv/LineTime.h"

#include <cstdio>
#include <ctime>

#include "dravik/swv/EnumNames.h"

namespace dravik::swv {

namespace {

void appendSeconds(double seconds, bool signedDelta, std::string& out) {
    char text[48];
    std::snprintf(text, sizeof text, signedDelta ? "%+.6f" : "%.6f", seconds);
    out += text;
}

void appendTimeOfDay(int64_t wallUs, std::string& out) {
    const time_t seconds = static_cast<time_t>(wallUs / 1000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long long>(wallUs % 1000000));
    out += text;
}

}  // namespace

const char* timeSourceName(TimeSource source) noexcept {
    switch (source) {
        case TimeSource::None:
            return "none";
        case TimeSource::Target:
            return "target";
        case TimeSource::Host:
            return "host";
        case TimeSource::Both:
            return "both";
    }
    return "unknown";
}

bool parseTimeSource(std::string_view name, TimeSource& source) noexcept {
    static constexpr TimeSource kSources[] = {TimeSource::None, TimeSource::Target,
                                              TimeSource::Host, TimeSource::Both};
    return parseByName(name, kSources, timeSourceName, source);
}

const char* timeFormatName(TimeFormat format) noexcept {
    switch (format) {
        case TimeFormat::Relative:
            return "relative";
        case TimeFormat::Absolute:
            return "absolute";
        case TimeFormat::Delta:
            return "delta";
    }
    return "unknown";
}

bool parseTimeFormat(std::string_view name, TimeFormat& format) noexcept {
    static constexpr TimeFormat kFormats[] = {TimeFormat::Relative, TimeFormat::Absolute,
                                              TimeFormat::Delta};
    return parseByName(name, kFormats, timeFormatName, format);
}

void TimeColumn::appendTarget(double seconds, std::string& out) const {
    out += "t ";
    switch (config_.format) {
        case TimeFormat::Relative:
            appendSeconds(seconds - origin_.value_or(seconds), false, out);
            return;
        case TimeFormat::Absolute:
            appendSeconds(seconds, false, out);
            return;
        case TimeFormat::Delta:
            appendSeconds(seconds - previousTarget_.value_or(seconds), true, out);
            return;
    }
}

void TimeColumn::appendHost(uint64_t us, std::string& out) const {
    out += "h ";
    switch (config_.format) {
        case TimeFormat::Absolute:
            if (config_.hostStartWallUs) {
                appendTimeOfDay(*config_.hostStartWallUs + static_cast<int64_t>(us), out);
                return;
            }
            break;
        case TimeFormat::Delta: {
            const uint64_t previous = previousHostUs_.value_or(us);
            const double delta = us >= previous ? static_cast<double>(us - previous) / 1e6
                                                : -static_cast<double>(previous - us) / 1e6;
            appendSeconds(delta, true, out);
            return;
        }
        case TimeFormat::Relative:
            break;
    }
    appendSeconds(static_cast<double>(us) / 1e6, false, out);
}

void TimeColumn::append(const LineStamp& stamp, std::string& out) {
    if (!shown()) {
        return;
    }
    out += '[';
    const bool target = showsTarget();
    const bool host = config_.source != TimeSource::Target;
    if (target && stamp.target) {
        appendTarget(*stamp.target, out);
    } else if (target && (host || !stamp.hostUs)) {
        out += "t -";
    }
    if (host || (target && !stamp.target && stamp.hostUs)) {
        if (target && (stamp.target || host)) {
            out += ' ';
        }
        if (stamp.hostUs) {
            appendHost(*stamp.hostUs, out);
        } else {
            out += "h -";
        }
    }
    out += "] ";
    if (stamp.target) {
        previousTarget_ = stamp.target;
    }
    if (stamp.hostUs) {
        previousHostUs_ = stamp.hostUs;
    }
}

}  // namespace dravik::swv
