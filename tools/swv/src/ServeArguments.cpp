#include "dravik/swv/ServeArguments.h"

#include <CLI/CLI.hpp>

#include "dravik/swv/ArgParsing.h"

namespace dravik::swv {

namespace {

// poll(2) on one thread serves a few dozen clients well; far more is not what this is for.
constexpr uint64_t kMostClients = 1024;
// A frame port's queue must hold a whole frame; smaller than this would drop at once.
constexpr uint64_t kLeastQueueBytes = 64 * 1024;
constexpr uint64_t kMostQueueBytes = uint64_t{1} << 30;

}  // namespace

void addServeOptions(CLI::App& command, ServeArguments& arguments) {
    command
        .add_option("--serve", arguments.raw,
                    "[ADDR:]PORT: serve the raw trace on this TCP port (repeatable; default "
                    "address 127.0.0.1; 0: any free port)")
        ->type_name("[ADDR:]PORT")
        ->allow_extra_args(false);
    command
        .add_option("--serve-frames", arguments.frames,
                    "[ADDR:]PORT: serve the trace in COBS frames, tag 1, on this TCP port "
                    "(repeatable)")
        ->type_name("[ADDR:]PORT")
        ->allow_extra_args(false);
    command
        .add_option("--max-clients", arguments.maxClients,
                    "Clients connected at once over every port; more are refused (default 16)")
        ->type_name("N");
    command
        .add_option("--client-queue", arguments.clientQueue,
                    "How far a client may fall behind before it loses trace of its own, in bytes "
                    "or with K or M (default 4M)")
        ->type_name("SIZE");
    command
        .add_option("--wait-clients", arguments.waitClients,
                    "Keep the target halted until N clients are connected, so that they get the "
                    "trace from its start")
        ->type_name("N");
}

bool parseByteSize(const std::string& text, uint64_t max, uint64_t& bytes, std::string& error) {
    uint64_t unit = 1;
    std::string digits = text;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) {
        unit = 1024;
    } else if (!digits.empty() && digits.back() == 'M') {
        unit = 1024 * 1024;
    }
    if (unit != 1) {
        digits.pop_back();
    }
    uint64_t value = 0;
    if (!parseNumber(digits, max / unit, value, error)) {
        error = "'" + text + "' is not a size in bytes up to " + std::to_string(max) +
                " (a number, or one with K or M)";
        return false;
    }
    bytes = value * unit;
    return true;
}

bool checkServeOptions(const ServeArguments& arguments, bool serveCommand, ServeOptions& options,
                       std::string& problem) {
    const struct {
        const char* option;
        const std::vector<std::string>& texts;
        stream::StreamKind kind;
    } kinds[] = {{"--serve", arguments.raw, stream::StreamKind::Raw},
                 {"--serve-frames", arguments.frames, stream::StreamKind::Frames}};
    for (const auto& kind : kinds) {
        for (const std::string& text : kind.texts) {
            stream::ListenerConfig listener;
            listener.kind = kind.kind;
            std::string error;
            if (!stream::parseListenAddress(text, listener.address, error)) {
                problem = std::string(kind.option) + ": " + error;
                return false;
            }
            options.listeners.push_back(listener);
        }
    }
    if (options.listeners.empty()) {
        if (!serveCommand) {
            if (!arguments.maxClients.empty() || !arguments.clientQueue.empty() ||
                !arguments.waitClients.empty()) {
                problem =
                    "--max-clients, --client-queue and --wait-clients need --serve or "
                    "--serve-frames";
                return false;
            }
            return true;
        }
        for (const auto& [kind, port] :
             {std::pair{stream::StreamKind::Raw, stream::kDefaultRawPort},
              std::pair{stream::StreamKind::Frames, stream::kDefaultFramePort}}) {
            stream::ListenerConfig listener;
            listener.kind = kind;
            listener.address.port = port;
            options.listeners.push_back(listener);
        }
    }

    std::string error;
    uint64_t value = 0;
    if (!arguments.maxClients.empty()) {
        if (!parseNumber(arguments.maxClients, kMostClients, value, error) || value == 0) {
            problem = "--max-clients: " +
                      (error.empty() ? "'" + arguments.maxClients + "' is below 1" : error);
            return false;
        }
        options.maxClients = static_cast<size_t>(value);
    }
    if (!arguments.clientQueue.empty()) {
        if (!parseByteSize(arguments.clientQueue, kMostQueueBytes, value, error)) {
            problem = "--client-queue: " + error;
            return false;
        }
        if (value < kLeastQueueBytes) {
            problem = "--client-queue: '" + arguments.clientQueue + "' is below " +
                      std::to_string(kLeastQueueBytes) + " bytes";
            return false;
        }
        options.queueBytes = static_cast<size_t>(value);
    }
    if (!arguments.waitClients.empty()) {
        if (!parseNumber(arguments.waitClients, kMostClients, value, error) || value == 0) {
            problem = "--wait-clients: " +
                      (error.empty() ? "'" + arguments.waitClients + "' is below 1" : error);
            return false;
        }
        if (value > options.maxClients) {
            problem = "--wait-clients " + arguments.waitClients + ": more than --max-clients " +
                      std::to_string(options.maxClients) + " could ever connect";
            return false;
        }
        options.waitClients = static_cast<size_t>(value);
    }
    return true;
}

}  // namespace dravik::swv
