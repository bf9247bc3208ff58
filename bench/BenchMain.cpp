#include "BenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace dravik::bench {

namespace {

Settings g_settings;
std::map<std::string, std::string> g_summary;
bool g_failed = false;

// Takes "--name=value" out of argv when it is one of ours.
bool TakeSetting(const char* arg, const char* name, uint64_t& value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') {
        return false;
    }
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(arg + n + 1, &end, 10);
    if (end == arg + n + 1 || *end != '\0') {
        std::fprintf(stderr, "%s: not a number: %s\n", name, arg + n + 1);
        std::exit(2);
    }
    value = parsed;
    return true;
}

}  // namespace

const Settings& settings() {
    return g_settings;
}

void Report(const std::string& key, const std::string& line) {
    g_summary[key] = line;
}

void ReportFailure(const std::string& key, const std::string& why) {
    g_summary[key] = "FAILED: " + why;
    g_failed = true;
}

std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

int RunBenchmarks(int argc, char** argv, void (*registerAll)()) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (i > 0 && (TakeSetting(arg, "--latency_us", g_settings.latencyUs) ||
                      TakeSetting(arg, "--jitter_us", g_settings.jitterUs) ||
                      TakeSetting(arg, "--stream_mib", g_settings.streamMiB) ||
                      TakeSetting(arg, "--drain_ms", g_settings.drainMs))) {
            continue;
        }
        rest.push_back(argv[i]);
    }
    if (g_settings.streamMiB == 0) {
        g_settings.streamMiB = 1;
    }
    if (g_settings.drainMs == 0) {
        g_settings.drainMs = 1;
    }
    int restCount = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) {
        return 2;
    }
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nSummary (%s):\n", argv[0]);
    for (const auto& entry : g_summary) {
        std::printf("  %s\n", entry.second.c_str());
    }
    return g_failed ? 1 : 0;
}

}  // namespace dravik::bench
