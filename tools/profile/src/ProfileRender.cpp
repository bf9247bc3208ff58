#include "dravik/profile/ProfileRender.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string_view>
#include <vector>

namespace dravik::profile {

namespace {

constexpr const char* kUnknown = "unknown";

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    if (n < 0) {
        return {};
    }
    if (static_cast<size_t>(n) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(n));
    }
    std::string long_(static_cast<size_t>(n) + 1, '\0');
    va_start(args, pattern);
    std::vsnprintf(long_.data(), long_.size(), pattern, args);
    va_end(args);
    long_.resize(static_cast<size_t>(n));
    return long_;
}

std::string percent(double share) {
    return format("%.1f %%", share * 100.0);
}

std::string_view baseName(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string headline(const ProfileReport& r) {
    std::string s =
        r.scope == ReportScope::Interval
            ? format("interval %llu", static_cast<unsigned long long>(r.interval))
            : format("whole run, %llu interval%s", static_cast<unsigned long long>(r.interval),
                     r.interval == 1 ? "" : "s");
    s += format(", %.3f s: %llu PC samples", r.seconds, static_cast<unsigned long long>(r.samples));
    if (r.seconds > 0) {
        s += format(" (%.0f/s)", static_cast<double>(r.samples) / r.seconds);
    }
    s += ", " + percent(r.sleepShare) + " sleeping, " + percent(r.unknownShare) + " " + kUnknown;
    if (r.overflows != 0) {
        s += format(", %llu overflow%s", static_cast<unsigned long long>(r.overflows),
                    r.overflows == 1 ? "" : "s");
    }
    if (r.gaps != 0) {
        s +=
            format(", %llu gap%s", static_cast<unsigned long long>(r.gaps), r.gaps == 1 ? "" : "s");
    }
    return s;
}

struct Section {
    std::string heading;
    std::vector<std::string> rows;
};

std::string shareRow(double share, uint64_t samples, std::string_view rest) {
    return format("%7s  %10llu  ", percent(share).c_str(),
                  static_cast<unsigned long long>(samples)) +
           std::string(rest);
}

// Functions by samples, the unknown samples as a row of their own among them.
Section functionSection(const ProfileReport& r) {
    Section s{format("%7s  %10s  %s", "SHARE", "SAMPLES", "FUNCTION"), {}};
    bool unknownShown = r.unknownSamples == 0;
    for (const FunctionShare& f : r.functions) {
        if (!unknownShown && r.unknownSamples > f.samples) {
            s.rows.push_back(shareRow(r.unknownShare, r.unknownSamples, kUnknown));
            unknownShown = true;
        }
        s.rows.push_back(shareRow(f.share, f.samples, f.name));
    }
    if (!unknownShown) {
        s.rows.push_back(shareRow(r.unknownShare, r.unknownSamples, kUnknown));
    }
    return s;
}

Section lineSection(const ProfileReport& r) {
    Section s{format("%7s  %10s  %-28s  %s", "SHARE", "SAMPLES", "LINE", "FUNCTION"), {}};
    bool unknownShown = r.unknownLineSamples == 0;
    for (const LineShare& l : r.lines) {
        if (!unknownShown && r.unknownLineSamples > l.samples) {
            s.rows.push_back(shareRow(r.unknownLineShare, r.unknownLineSamples, kUnknown));
            unknownShown = true;
        }
        const std::string where = std::string(baseName(l.file)) + ":" + std::to_string(l.line);
        s.rows.push_back(
            shareRow(l.share, l.samples, format("%-28s  %s", where.c_str(), l.function.c_str())));
    }
    if (!unknownShown) {
        s.rows.push_back(shareRow(r.unknownLineShare, r.unknownLineSamples, kUnknown));
    }
    return s;
}

std::string exceptionTime(const ExceptionSummary& e, std::optional<double> seconds, double ticks) {
    if (e.timed == 0) {
        return "-";
    }
    if (seconds) {
        return formatSeconds(*seconds);
    }
    return format("%.0f ticks", ticks);
}

Section exceptionSection(const ProfileReport& r) {
    Section s{format("%5s  %-12s  %10s  %10s  %10s  %10s", "EXC", "NAME", "COUNT", "RATE/s", "MEAN",
                     "MAX"),
              {}};
    for (const ExceptionSummary& e : r.exceptions) {
        s.rows.push_back(
            format("%5u  %-12s  %10llu  %10.1f  %10s  %10s", e.number, e.name.c_str(),
                   static_cast<unsigned long long>(e.count), e.perSecond,
                   exceptionTime(e, e.meanSeconds, e.meanTicks).c_str(),
                   exceptionTime(e, e.maxSeconds, static_cast<double>(e.maxTicks)).c_str()));
    }
    return s;
}

std::vector<Section> sections(const ProfileReport& r) {
    std::vector<Section> all{functionSection(r)};
    if (r.hasLines) {
        all.push_back(lineSection(r));
    }
    if (!r.exceptions.empty()) {
        all.push_back(exceptionSection(r));
    }
    return all;
}

// The line cut to `columns` characters (UTF-8 sequences count as one). A number cut short would
// read as another one, so a cut inside a number leaves the whole number out.
std::string_view fit(std::string_view line, unsigned columns) {
    unsigned seen = 0;
    size_t cut = line.size();
    for (size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) {
            if (seen == columns) {
                cut = i;
                break;
            }
            ++seen;
        }
    }
    if (cut == line.size() || cut == 0 || line[cut - 1] == ' ' || line[cut] == ' ') {
        return line.substr(0, cut);
    }
    size_t start = cut;
    while (start > 0 && line[start - 1] != ' ') {
        --start;
    }
    const size_t first = line[start] == '(' ? start + 1 : start;
    if (first < line.size() && std::isdigit(static_cast<unsigned char>(line[first])) != 0) {
        cut = start;
    }
    return line.substr(0, cut);
}

// Shares `slots` rows among the sections, the smallest needs first, so a short table is shown
// whole before a long one takes the rest.
std::vector<size_t> budget(const std::vector<Section>& all, size_t slots) {
    std::vector<size_t> order(all.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return all[a].rows.size() < all[b].rows.size(); });
    std::vector<size_t> given(all.size(), 0);
    size_t left = all.size();
    for (size_t i : order) {
        given[i] = std::min(all[i].rows.size(), slots / left);
        slots -= given[i];
        --left;
    }
    return given;
}

}  // namespace

std::string formatSeconds(double seconds) {
    if (seconds < 1e-3) {
        return format("%.2f us", seconds * 1e6);
    }
    if (seconds < 1.0) {
        return format("%.2f ms", seconds * 1e3);
    }
    return format("%.3f s", seconds);
}

std::string renderTable(const ProfileReport& report) {
    std::string out = headline(report) + "\n";
    for (const Section& s : sections(report)) {
        out += "\n" + s.heading + "\n";
        for (const std::string& row : s.rows) {
            out += row + "\n";
        }
    }
    out += "\n";
    return out;
}

std::string renderScreen(const ProfileReport& report, ScreenSize size) {
    std::vector<std::string> lines{headline(report)};
    const std::vector<Section> all = sections(report);
    // The headline, and a blank line and a heading per table, always; the last line stays
    // empty for the cursor.
    const size_t fixed = 1 + 2 * all.size() + 1;
    const size_t slots = size.rows > fixed ? size.rows - fixed : 0;
    const std::vector<size_t> given = budget(all, slots);
    for (size_t i = 0; i < all.size(); ++i) {
        lines.emplace_back();
        lines.push_back(all[i].heading);
        const std::vector<std::string>& rows = all[i].rows;
        const bool cut = given[i] < rows.size();
        const size_t shown = cut && given[i] > 0 ? given[i] - 1 : given[i];
        lines.insert(lines.end(), rows.begin(), rows.begin() + static_cast<ptrdiff_t>(shown));
        if (cut && given[i] > 0) {
            lines.push_back(format("... %zu more", rows.size() - shown));
        }
    }
    const size_t room = size.rows > 0 ? size.rows - 1 : 0;
    if (lines.size() > room) {
        lines.resize(room);
    }
    std::string out = "\x1b[H";
    for (const std::string& line : lines) {
        out += fit(line, size.columns);
        out += "\x1b[K\n";
    }
    out += "\x1b[J";
    return out;
}

std::string renderJson(const ProfileReport& r) {
    using Json = nlohmann::ordered_json;
    Json j;
    j["scope"] = r.scope == ReportScope::Interval ? "interval" : "run";
    j[r.scope == ReportScope::Interval ? "interval" : "intervals"] = r.interval;
    j["seconds"] = r.seconds;
    j["samples"] = r.samples;
    j["sleep_samples"] = r.sleepSamples;
    j["sleep_share"] = r.sleepShare;
    j["unknown_samples"] = r.unknownSamples;
    j["unknown_share"] = r.unknownShare;
    j["overflows"] = r.overflows;
    j["gaps"] = r.gaps;
    Json functions = Json::array();
    for (const FunctionShare& f : r.functions) {
        functions.push_back({{"name", f.name},
                             {"address", f.address},
                             {"size", f.size},
                             {"samples", f.samples},
                             {"share", f.share}});
    }
    j["functions"] = std::move(functions);
    if (r.hasLines) {
        Json lines = Json::array();
        for (const LineShare& l : r.lines) {
            lines.push_back({{"file", l.file},
                             {"line", l.line},
                             {"function", l.function},
                             {"samples", l.samples},
                             {"share", l.share}});
        }
        j["lines"] = std::move(lines);
        j["unknown_line_samples"] = r.unknownLineSamples;
        j["unknown_line_share"] = r.unknownLineShare;
    }
    Json exceptions = Json::array();
    for (const ExceptionSummary& e : r.exceptions) {
        Json x{{"number", e.number},
               {"name", e.name},
               {"count", e.count},
               {"per_second", e.perSecond},
               {"timed", e.timed}};
        if (e.timed != 0) {
            x["mean_ticks"] = e.meanTicks;
            x["max_ticks"] = e.maxTicks;
        }
        if (e.meanSeconds) {
            x["mean_seconds"] = *e.meanSeconds;
            x["max_seconds"] = e.maxSeconds.value_or(0);
        }
        exceptions.push_back(std::move(x));
    }
    j["exceptions"] = std::move(exceptions);
    // Names come from the ELF and the target; bytes that are not UTF-8 must not stop the output.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace dravik::profile
