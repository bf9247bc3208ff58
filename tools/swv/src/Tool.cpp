#include "dravik/swv/Tool.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dravik/swv/ArgParsing.h"
#include "dravik/swv/ServeArguments.h"

namespace dravik::swv {

namespace {

// The arguments as typed; converted and checked once the subcommand is known.
struct RawSelection {
    std::string serial;
    bool reset = false;
    bool allowOld = false;
};

struct RawRate {
    std::string clock;
    std::string candidates;
    std::string prescaler;
    std::string rate;
    bool force = false;
};

struct RawOutput {
    std::string format = "text";
    std::vector<std::string> ports;
    std::vector<std::string> portFiles;
    std::string time;
    std::string timeFormat;
    std::string events;  // "all" for --events alone
    std::string color = "auto";
    bool quiet = false;
};

struct RawArguments {
    bool verbose = false;
    RawSelection selection;
    RawRate rate;
    RawOutput output;
    std::string mode = "nrz";
    std::string stimulusMask;
    std::string duration;
    bool timestamps = false;
    std::string raw;
    std::string rawPlain;
    ServeArguments serve;
    bool json = false;
    std::string file;
    std::string tag;
    bool plain = false;
    bool realtime = false;
    bool strict = false;
    bool noSync = false;
    bool noSetup = false;
    bool lockMemory = false;
    std::string address;
    std::string length;
    // DWT trace and top.
    std::string pcSampling;
    bool exceptionTrace = false;
    bool noExceptionTrace = false;
    bool noTimestamps = false;
    std::string elf;
    std::string interval;
    bool lines = false;
    bool pcCounter = false;
};

// Collects the first problem with the arguments.
class Checker {
  public:
    explicit Checker(std::string command) : command_(std::move(command)) {}

    bool fail(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return false;
    }
    bool ok() const { return problem_.empty(); }
    std::string message() const { return "dravik-swv " + command_ + ": " + problem_ + "\n"; }

    // An optional number: empty text leaves `value` alone.
    template <typename T>
    bool number(const std::string& option, const std::string& text, uint64_t min, uint64_t max,
                T& value) {
        if (text.empty()) {
            return true;
        }
        uint64_t parsed = 0;
        std::string error;
        if (!parseNumber(text, max, parsed, error)) {
            return fail(option + ": " + error);
        }
        if (parsed < min) {
            return fail(option + ": '" + text + "' is below " + std::to_string(min));
        }
        value = static_cast<T>(parsed);
        return true;
    }

  private:
    std::string command_;
    std::string problem_;
};

void addVerbose(CLI::App& command, RawArguments& raw) {
    command.add_flag("-v,--verbose", raw.verbose,
                     "Show the library's steps and the device object's diagnostics");
}

void addSelection(CLI::App& command, RawArguments& raw) {
    command
        .add_option("--serial", raw.selection.serial,
                    "Serial number of the probe (default: the only one connected)")
        ->type_name("SERIAL");
    command.add_flag("--reset", raw.selection.reset, "Reset the target once more after connecting");
    command.add_flag("--allow-old-probe", raw.selection.allowOld,
                     "Accept a probe of generation 2 or older");
}

void addRate(CLI::App& command, RawArguments& raw) {
    command
        .add_option("--clock", raw.rate.clock,
                    "Trace clock in Hz (the clock the TPIU divides), or auto (the default): the "
                    "core clock measured, then confirmed on the trace")
        ->type_name("HZ|auto");
    command
        .add_option("--clock-candidates", raw.rate.candidates,
                    "More clocks to try, after the core clock / 2 and / 4, when the measured one "
                    "does not decode (comma-separated Hz)")
        ->type_name("LIST");
    CLI::Option* prescaler =
        command.add_option("--prescaler", raw.rate.prescaler, "TPIU divider, 1..65536")
            ->type_name("N");
    CLI::Option* rate = command
                            .add_option("--swo-rate", raw.rate.rate,
                                        "SWO bit rate; the closest divider is chosen and shown")
                            ->type_name("BPS");
    prescaler->excludes(rate);
    command.add_flag("--force", raw.rate.force,
                     "Accept a --swo-rate that no divider meets within 3 %");
}

void addTraceSettings(CLI::App& command, RawArguments& raw) {
    command.add_option("--mode", raw.mode, "SWO encoding: nrz, manchester or auto (default nrz)")
        ->type_name("MODE");
    command
        .add_option("--ports", raw.stimulusMask,
                    "Stimulus ports to enable, a mask of ports 0..31 (default all)")
        ->type_name("MASK");
}

void addNoSync(CLI::App& command, RawArguments& raw) {
    command.add_flag("--no-sync", raw.noSync,
                     "Leave ITM synchronisation packets off (DWT_CTRL.SYNCTAP, ITM_TCR.SYNCENA)");
}

void addStrict(CLI::App& command, RawArguments& raw) {
    command.add_flag("--strict", raw.strict,
                     "Exit 1 when the trace is not healthy: it does not decode, comes on ports not "
                     "enabled, overflows, or none arrived");
}

void addPortFile(CLI::App& command, RawArguments& raw) {
    command
        .add_option("--port-file", raw.output.portFiles,
                    "PORT=PATH: write this port to a file (repeatable)")
        ->type_name("PORT=PATH")
        ->allow_extra_args(false);
}

void addOutput(CLI::App& command, RawArguments& raw) {
    command
        .add_option("--port", raw.output.ports,
                    "PORT=FORMAT: show this port as auto, text, hex, dec, signed, float or a "
                    "printf-style pattern such as 'temp=%d' (repeatable; with any, only the "
                    "ports named are shown)")
        ->type_name("PORT=FORMAT")
        ->allow_extra_args(false);
    command
        .add_option("--time", raw.output.time,
                    "Start each text line with its time: target (from the ITM's timestamps), "
                    "host (when it arrived), both, or none")
        ->type_name("SOURCE");
    command
        .add_option("--time-format", raw.output.timeFormat,
                    "relative (seconds since the start, the default), absolute (the target's "
                    "count, the host's time of day) or delta (since the line before)")
        ->type_name("FORMAT");
    command.add_flag("--events{all}", raw.output.events,
                     "Show exceptions, DWT event counter wraps and overflows among the text, in "
                     "stream order; --events=pc adds the PC samples");
    command
        .add_option("--color,--colour", raw.output.color,
                    "Colour the port prefixes and warnings: auto (on a terminal, unless NO_COLOR "
                    "is set), always or never")
        ->type_name("WHEN");
    addPortFile(command, raw);
    command
        .add_option("--format", raw.output.format,
                    "Main output: text (lines per port), jsonl or csv (one record per packet)")
        ->type_name("FORMAT");
    command.add_flag("-q,--quiet", raw.output.quiet, "Nothing on standard output");
}

bool checkSelection(Checker& check, const RawArguments& raw, SelectionOptions& selection) {
    selection.serial = raw.selection.serial;
    selection.reset = raw.selection.reset;
    selection.allowOldProbe = raw.selection.allowOld;
    return check.ok();
}

bool checkRate(Checker& check, const RawArguments& raw, RateOptions& rate, bool rateRequired) {
    const bool measured = raw.rate.clock.empty() || raw.rate.clock == "auto";
    if (!measured) {
        // DravikSetupDevice takes the clock and the divider as int.
        check.number("--clock", raw.rate.clock, 1, INT_MAX, rate.clockHz);
    }
    if (!raw.rate.candidates.empty()) {
        std::string error;
        if (!measured) {
            check.fail(
                "--clock-candidates are tried when the clock is measured, not with --clock " +
                raw.rate.clock);
        } else if (!parseClockList(raw.rate.candidates, rate.clockCandidates, error)) {
            check.fail("--clock-candidates: " + error);
        }
    }
    if (raw.rate.prescaler.empty() && raw.rate.rate.empty()) {
        if (rateRequired || !raw.rate.clock.empty() || !raw.rate.candidates.empty()) {
            return check.fail(raw.rate.clock.empty()
                                  ? "give --prescaler or --swo-rate"
                                  : "give --prescaler or --swo-rate with --clock");
        }
        return check.ok();
    }
    if (!raw.rate.prescaler.empty()) {
        uint32_t prescaler = 0;
        if (check.number("--prescaler", raw.rate.prescaler, 1, 65536, prescaler)) {
            rate.prescaler = prescaler;
        }
    }
    if (!raw.rate.rate.empty()) {
        uint32_t bps = 0;
        if (check.number("--swo-rate", raw.rate.rate, 1, INT_MAX, bps)) {
            rate.rateBps = bps;
        }
    }
    rate.force = raw.rate.force;
    return check.ok();
}

bool checkTraceSettings(Checker& check, const RawArguments& raw, TxMode& mode, uint32_t& mask) {
    if (!parseTxMode(raw.mode, mode)) {
        check.fail("--mode: '" + raw.mode + "' is not nrz, manchester or auto");
    }
    if (check.number("--ports", raw.stimulusMask, 0, 0xFFFFFFFF, mask) && mask == 0) {
        check.fail("--ports: at least one stimulus port must be enabled");
    }
    return check.ok();
}

bool checkOutput(Checker& check, const RawArguments& raw, OutputOptions& output) {
    if (!parseOutputFormat(raw.output.format, output.format)) {
        check.fail("--format: '" + raw.output.format + "' is not text, jsonl or csv");
    }
    for (const std::string& text : raw.output.ports) {
        PortRoute route;
        std::string error;
        if (!parsePortOption(text, route, error)) {
            check.fail("--port: " + error);
        }
        output.ports.push_back(route);
    }
    for (const std::string& text : raw.output.portFiles) {
        PortFileOption file;
        std::string error;
        if (!parsePortFileOption(text, file, error)) {
            check.fail("--port-file: " + error);
        }
        output.portFiles.push_back(file);
    }
    if (!raw.output.time.empty()) {
        TimeSource time = TimeSource::None;
        if (!parseTimeSource(raw.output.time, time)) {
            check.fail("--time: '" + raw.output.time + "' is not target, host, both or none");
        }
        output.time = time;
    }
    if (!raw.output.timeFormat.empty()) {
        if (!parseTimeFormat(raw.output.timeFormat, output.timeFormat)) {
            check.fail("--time-format: '" + raw.output.timeFormat +
                       "' is not relative, absolute or delta");
        } else if (raw.output.time.empty()) {
            check.fail("--time-format needs --time target, host or both");
        }
    }
    if (raw.output.events == "all") {
        output.events.shown = true;
    } else if (raw.output.events == "pc") {
        output.events.shown = true;
        output.events.pcSamples = true;
    } else if (!raw.output.events.empty()) {
        check.fail("--events: '" + raw.output.events + "' is not pc (--events=pc)");
    }
    if (!parseColorMode(raw.output.color, output.color)) {
        check.fail("--color: '" + raw.output.color + "' is not auto, always or never");
    }
    // The records carry every packet and both times already.
    if (output.format != OutputFormat::Text &&
        (output.time.value_or(TimeSource::None) != TimeSource::None || output.events.shown)) {
        check.fail(std::string("--time and --events are for text output, not --format ") +
                   outputFormatName(output.format));
    }
    output.quiet = raw.output.quiet;
    return check.ok();
}

// A port shown or filed must be one the capture enables: its writes could not arrive otherwise.
bool checkPortsEnabled(Checker& check, const OutputOptions& output, uint32_t mask) {
    auto enabled = [mask](unsigned port) { return port < 32 && ((mask >> port) & 1u) != 0; };
    char maskText[16];
    std::snprintf(maskText, sizeof maskText, "0x%08X", mask);
    for (const PortRoute& route : output.ports) {
        if (!enabled(route.port)) {
            check.fail("--port " + std::to_string(route.port) + "=" + portFormatName(route.format) +
                       ": port " + std::to_string(route.port) + " is not enabled by --ports " +
                       maskText);
        }
    }
    for (const PortFileOption& file : output.portFiles) {
        if (!enabled(file.port)) {
            check.fail("--port-file " + std::to_string(file.port) + "=" + file.path + ": port " +
                       std::to_string(file.port) + " is not enabled by --ports " + maskText);
        }
    }
    return check.ok();
}

// A rate, or any other real number above 0.
bool parsePositive(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || errno != 0 ||
        !std::isfinite(parsed) || parsed <= 0) {
        return false;
    }
    value = parsed;
    return true;
}

void addPcSampling(CLI::App& command, RawArguments& raw, const char* whenAbsent) {
    command
        .add_option("--pc-sampling", raw.pcSampling,
                    std::string("Sample the PC this many times a second (DWT_CTRL.PCSAMPLENA); the "
                                "rate the DWT can make at --clock is used and shown, and a rate "
                                "the SWO line cannot carry is refused") +
                        whenAbsent)
        ->type_name("RATE");
}

bool checkPcSampling(Checker& check, const RawArguments& raw, DwtOptions& dwt) {
    if (raw.pcSampling.empty()) {
        return check.ok();
    }
    double rate = 0;
    if (!parsePositive(raw.pcSampling, rate)) {
        return check.fail("--pc-sampling: '" + raw.pcSampling +
                          "' is not a number of samples per second above 0");
    }
    dwt.pcSamplesPerSecond = rate;
    return check.ok();
}

bool checkDuration(Checker& check, const std::string& option, const std::string& text,
                   std::optional<double>& seconds) {
    if (text.empty()) {
        return check.ok();
    }
    double value = 0;
    std::string error;
    if (!parseDuration(text, value, error)) {
        return check.fail(option + ": " + error);
    }
    seconds = value;
    return check.ok();
}

void addCaptureOptions(CLI::App& command, RawArguments& raw, bool display) {
    addSelection(command, raw);
    addRate(command, raw);
    addTraceSettings(command, raw);
    command
        .add_option("--duration", raw.duration, "Stop after this many seconds (default: at Ctrl-C)")
        ->type_name("SECONDS");
    command.add_flag("--timestamps", raw.timestamps,
                     "Turn on ITM local timestamps (ITM_TCR.TSENA); text lines then show the "
                     "target time unless --time says otherwise");
    addPcSampling(command, raw, "");
    command.add_flag("--exception-trace", raw.exceptionTrace,
                     "Trace every exception entry, exit and return (DWT_CTRL.EXCTRCENA)");
    if (display) {
        addOutput(command, raw);
    } else {
        addPortFile(command, raw);
    }
    command.add_option("--raw", raw.raw, "Record the trace to this file, for decode")
        ->type_name("PATH");
    command
        .add_option("--raw-plain", raw.rawPlain,
                    "Write the bare SWO bytes to this file, for other tools")
        ->type_name("PATH");
    addServeOptions(command, raw.serve);
    addNoSync(command, raw);
    addStrict(command, raw);
    command.add_flag("--lock-memory", raw.lockMemory,
                     "Lock the tool's memory in RAM (mlockall), so that no poll waits for a page "
                     "to come back from swap");
    addVerbose(command, raw);
}

// A network input: its address, and only the options that mean something for a live stream.
bool checkNetworkInput(Checker& check, const RawArguments& raw, DecodeOptions& options) {
    const bool network = stream::isStreamUrl(raw.file);
    if (network) {
        stream::StreamUrl url;
        std::string error;
        if (!stream::parseStreamUrl(raw.file, url, error)) {
            return check.fail(error);
        }
        if (raw.plain || raw.realtime) {
            return check.fail(std::string(raw.plain ? "--plain" : "--realtime") + ": " + url.text +
                              " is a live stream");
        }
        options.url = url;
    }
    if (raw.tag.empty()) {
        return check.ok();
    }
    if (!network || options.url->kind != stream::StreamKind::Frames) {
        return check.fail("--tag: only a frames:// input has tags");
    }
    return check.number("--tag", raw.tag, 0, 255, options.tag);
}

int usage(ToolEnvironment& env, const Checker& check) {
    env.message(check.message() + "Run with --help for more information.\n");
    return kExitUsage;
}

}  // namespace

int runTool(ToolEnvironment& env, int argc, const char* const* argv) {
    RawArguments raw;
    CLI::App app{"Capture and decode SWV/SWO trace through a Dravik probe."};
    app.name("dravik-swv");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("dravik-swv ") + kToolVersion);

    CLI::App* list = app.add_subcommand("list", "List the connected probes");
    list->add_flag("--json", raw.json, "One JSON array, for scripts");
    addVerbose(*list, raw);

    CLI::App* capture =
        app.add_subcommand("capture", "Capture trace from the target and decode it");
    addCaptureOptions(*capture, raw, true);
    CLI::App* serve = app.add_subcommand(
        "serve",
        "Capture trace and serve it to TCP clients, without a display (default ports: "
        "raw 127.0.0.1:" +
            std::to_string(stream::kDefaultRawPort) +
            ", frames 127.0.0.1:" + std::to_string(stream::kDefaultFramePort) + ")");
    addCaptureOptions(*serve, raw, false);

    CLI::App* decode = app.add_subcommand(
        "decode", "Decode a recording, a plain SWO dump or a stream server's live trace");
    decode
        ->add_option("file", raw.file,
                     "The recording; - for standard input; tcp://HOST:PORT (a raw stream) or "
                     "frames://HOST:PORT (frames) to connect to a stream server")
        ->required()
        ->type_name("FILE|URL");
    decode
        ->add_option("--tag", raw.tag,
                     "The frames that carry the trace, on a frames:// input (default 1)")
        ->type_name("N");
    addOutput(*decode, raw);
    decode->add_flag("--plain", raw.plain, "Read the file as bare SWO bytes, whatever it holds");
    decode
        ->add_option("--clock", raw.rate.clock,
                     "Trace clock in Hz, for timestamps in seconds (default: the recording's)")
        ->type_name("HZ");
    decode->add_flag("--realtime", raw.realtime, "Replay at the pace it was recorded");
    decode->get_option("--format")
        ->description(
            "Main output: text (lines per port), jsonl or csv (one record per packet), or "
            "chrome-trace (the exception timeline in the Trace Event Format, for the Perfetto UI: "
            "a track per exception, text lines as instant events)");
    decode->add_flag("--pc-counter", raw.pcCounter,
                     "With chrome-trace: the PC samples as a counter track too");
    addStrict(*decode, raw);
    addVerbose(*decode, raw);

    CLI::App* top = app.add_subcommand(
        "top",
        "Profile the firmware from PC samples and exception trace, live or from a recording");
    top->add_option("recording", raw.file,
                    "A recording (capture --raw) to profile instead of a live capture; - for "
                    "standard input")
        ->type_name("RECORDING");
    top->add_option("--elf", raw.elf, "The firmware's ELF file, for its function names (required)")
        ->required()
        ->type_name("FILE");
    top->add_option("--interval", raw.interval, "Seconds between reports (default 1)")
        ->type_name("SECONDS");
    top->add_flag("--lines", raw.lines,
                  "Attribute the samples to source lines too (the ELF needs line information)");
    top->add_flag("--json", raw.json,
                  "One JSON object per interval and one for the whole run, one per line");
    addSelection(*top, raw);
    addRate(*top, raw);
    top->get_option("--clock")->description(
        "Trace clock in Hz (the clock the TPIU divides, taken as the core clock "
        "too); with a recording: for times in seconds (default: the recording's)");
    addTraceSettings(*top, raw);
    top->add_option("--duration", raw.duration, "Stop after this many seconds (default: at Ctrl-C)")
        ->type_name("SECONDS");
    addPcSampling(*top, raw,
                  " (default 10000, or fewer to keep them within a quarter of the line)");
    top->add_flag("--no-exception-trace", raw.noExceptionTrace,
                  "Leave exception trace off (DWT_CTRL.EXCTRCENA)");
    top->add_flag("--no-timestamps", raw.noTimestamps,
                  "Leave local timestamps off: no exception times, less of the line taken");
    top->add_option("--raw", raw.raw, "Record the trace to this file, for top and decode later")
        ->type_name("PATH");
    addNoSync(*top, raw);
    addVerbose(*top, raw);
    top->footer(
        "Live, top sets up trace as capture does and turns on PC sampling, exception trace and "
        "local timestamps. On a terminal the latest interval is redrawn in place; otherwise, and "
        "from a recording, every interval is printed as a table (or a JSON object). The whole "
        "run comes last. Shares are of all PC samples: functions, sleeping, and unknown (outside "
        "every function).");
    const std::vector<std::string> liveOnly = {"--serial",
                                               "--reset",
                                               "--allow-old-probe",
                                               "--prescaler",
                                               "--swo-rate",
                                               "--force",
                                               "--mode",
                                               "--ports",
                                               "--duration",
                                               "--pc-sampling",
                                               "--raw",
                                               "--no-sync",
                                               "--no-exception-trace",
                                               "--no-timestamps"};

    CLI::App* doctor = app.add_subcommand(
        "doctor", "Set up trace, read the trace registers back and explain what stops trace");
    addSelection(*doctor, raw);
    addRate(*doctor, raw);
    addTraceSettings(*doctor, raw);
    doctor->add_flag("--no-setup", raw.noSetup, "Read the registers as found, set nothing up");
    addNoSync(*doctor, raw);
    addVerbose(*doctor, raw);

    CLI::App* mem = app.add_subcommand("mem", "Hex dump of target memory");
    mem->add_option("address", raw.address, "Start address (0x for hex)")
        ->required()
        ->type_name("ADDR");
    mem->add_option("length", raw.length, "Bytes to show")->required()->type_name("LEN");
    addSelection(*mem, raw);
    addVerbose(*mem, raw);

    CLI::App* blink = app.add_subcommand("blink", "Blink a probe's LED");
    blink
        ->add_option("serial", raw.selection.serial,
                     "Serial number of the probe (default: the only one connected)")
        ->type_name("SERIAL");
    addVerbose(*blink, raw);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, env.out, env.err);
        return code == 0 ? kExitOk : kExitUsage;
    }
    ColorMode color = ColorMode::Auto;
    parseColorMode(raw.output.color, color);  // a bad one is reported with the other arguments
    env.errColor = useColor(color, env.errIsTerminal, env.noColorSet);

    if (*list) {
        return runList(env, ListOptions{raw.json, raw.verbose});
    }
    if (*capture || *serve) {
        const bool serving = static_cast<bool>(*serve);
        Checker check(serving ? "serve" : "capture");
        CaptureOptions options;
        checkSelection(check, raw, options.selection);
        checkRate(check, raw, options.rate, true);
        checkTraceSettings(check, raw, options.mode, options.stimulusMask);
        checkOutput(check, raw, options.output);
        if (check.ok()) {
            checkPortsEnabled(check, options.output, options.stimulusMask);
        }
        if (!raw.duration.empty()) {
            double seconds = 0;
            std::string error;
            if (!parseDuration(raw.duration, seconds, error)) {
                check.fail("--duration: " + error);
            }
            options.durationSeconds = seconds;
        }
        if (!raw.raw.empty() && raw.raw == raw.rawPlain) {
            check.fail("--raw and --raw-plain name the same file");
        }
        checkPcSampling(check, raw, options.dwt);
        std::string problem;
        if (!checkServeOptions(raw.serve, serving, options.serve, problem)) {
            check.fail(problem);
        }
        if (!check.ok()) {
            return usage(env, check);
        }
        options.dwt.exceptionTrace = raw.exceptionTrace;
        // serve: the same capture with the display off.
        options.output.quiet = options.output.quiet || serving;
        // Target time needs the timestamps, and timestamps asked for are shown.
        options.timestamps = raw.timestamps || options.output.time == TimeSource::Target ||
                             options.output.time == TimeSource::Both;
        if (raw.timestamps && !options.output.time) {
            options.output.time = TimeSource::Target;
        }
        options.noSync = raw.noSync;
        options.rawPath = raw.raw;
        options.rawPlainPath = raw.rawPlain;
        options.strict = raw.strict;
        options.lockMemory = raw.lockMemory;
        options.verbose = raw.verbose;
        return runCapture(env, options);
    }
    if (*decode) {
        Checker check("decode");
        DecodeOptions options;
        options.path = raw.file;
        options.timeline = raw.output.format == "chrome-trace";
        if (options.timeline) {
            raw.output.format = "text";
            for (const char* option : {"--port-file", "--realtime", "--strict", "--quiet", "--time",
                                       "--time-format", "--events"}) {
                if (decode->get_option(option)->count() != 0) {
                    check.fail(std::string(option) + " does not go with --format chrome-trace");
                }
            }
        } else if (raw.pcCounter) {
            check.fail("--pc-counter goes with --format chrome-trace");
        }
        checkOutput(check, raw, options.output);
        check.number("--clock", raw.rate.clock, 1, 0xFFFFFFFF, options.clockHz);
        checkNetworkInput(check, raw, options);
        if (!check.ok()) {
            return usage(env, check);
        }
        options.pcCounter = raw.pcCounter;
        if (options.timeline) {
            return runTimeline(env, options);
        }
        options.plain = raw.plain;
        options.realtime = raw.realtime;
        options.strict = raw.strict;
        options.verbose = raw.verbose;
        return runDecode(env, options);
    }
    if (*doctor) {
        Checker check("doctor");
        DoctorOptions options;
        checkSelection(check, raw, options.selection);
        checkRate(check, raw, options.rate, false);
        checkTraceSettings(check, raw, options.mode, options.stimulusMask);
        if (!check.ok()) {
            return usage(env, check);
        }
        options.noSetup = raw.noSetup;
        options.noSync = raw.noSync;
        options.verbose = raw.verbose;
        return runDoctor(env, options);
    }
    if (*top) {
        Checker check("top");
        TopOptions options;
        options.elfPath = raw.elf;
        options.recordingPath = raw.file;
        options.lines = raw.lines;
        options.json = raw.json;
        std::optional<double> interval;
        checkDuration(check, "--interval", raw.interval, interval);
        options.intervalSeconds = interval.value_or(1.0);
        if (!options.recordingPath.empty()) {
            for (const std::string& name : liveOnly) {
                if (top->get_option(name)->count() != 0) {
                    check.fail(name + " is for a live capture, not for a recording");
                }
            }
            check.number("--clock", raw.rate.clock, 1, 0xFFFFFFFF, options.clockHz);
        } else {
            CaptureOptions& capture = options.capture;
            checkSelection(check, raw, capture.selection);
            checkRate(check, raw, capture.rate, true);
            checkTraceSettings(check, raw, capture.mode, capture.stimulusMask);
            checkDuration(check, "--duration", raw.duration, capture.durationSeconds);
            checkPcSampling(check, raw, capture.dwt);
            capture.dwt.defaultPcSampling = !capture.dwt.pcSamplesPerSecond;
            capture.dwt.exceptionTrace = !raw.noExceptionTrace;
            capture.timestamps = !raw.noTimestamps;
            capture.noSync = raw.noSync;
            capture.rawPath = raw.raw;
            capture.output.quiet = true;
            capture.verbose = raw.verbose;
        }
        if (!check.ok()) {
            return usage(env, check);
        }
        return runTop(env, options);
    }
    if (*mem) {
        Checker check("mem");
        MemOptions options;
        checkSelection(check, raw, options.selection);
        check.number("address", raw.address, 0, 0xFFFFFFFF, options.address);
        // The dump is for looking at; a megabyte is already far more than a screen.
        check.number("length", raw.length, 1, 1u << 20, options.length);
        if (check.ok() && uint64_t{options.address} + options.length > 0x100000000ull) {
            check.fail("the range runs past 0xFFFFFFFF");
        }
        if (!check.ok()) {
            return usage(env, check);
        }
        options.verbose = raw.verbose;
        return runMem(env, options);
    }
    BlinkOptions options;
    options.serial = raw.selection.serial;
    options.verbose = raw.verbose;
    return runBlink(env, options);
}

}  // namespace dravik::swv
