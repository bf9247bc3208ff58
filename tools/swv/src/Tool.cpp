#include "dravik/swv/Tool.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>

#include "dravik/swv/ArgParsing.h"

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
    std::string prescaler;
    std::string rate;
    bool force = false;
};

struct RawOutput {
    std::string format = "text";
    std::vector<std::string> ports;
    std::vector<std::string> portFiles;
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
    bool json = false;
    std::string file;
    bool plain = false;
    bool realtime = false;
    bool strict = false;
    bool noSync = false;
    bool noSetup = false;
    bool lockMemory = false;
    std::string address;
    std::string length;
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
    command.add_option("--clock", raw.rate.clock, "Trace clock in Hz (the clock the TPIU divides)")
        ->type_name("HZ");
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

void addOutput(CLI::App& command, RawArguments& raw) {
    command
        .add_option("--port", raw.output.ports,
                    "PORT=hex|dec|text|auto: show this port in this form (repeatable; with "
                    "any, only the ports named are shown)")
        ->type_name("PORT=FORMAT")
        ->allow_extra_args(false);
    command
        .add_option("--port-file", raw.output.portFiles,
                    "PORT=PATH: write this port to a file (repeatable)")
        ->type_name("PORT=PATH")
        ->allow_extra_args(false);
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

bool checkRate(Checker& check, const RawArguments& raw, RateOptions& rate, bool clockRequired) {
    if (raw.rate.clock.empty()) {
        if (clockRequired) {
            return check.fail("--clock is required");
        }
        if (!raw.rate.prescaler.empty() || !raw.rate.rate.empty()) {
            return check.fail("--prescaler and --swo-rate need --clock");
        }
        return check.ok();
    }
    // DravikSetupDevice takes the clock and the divider as int.
    check.number("--clock", raw.rate.clock, 1, INT_MAX, rate.clockHz);
    if (raw.rate.prescaler.empty() && raw.rate.rate.empty()) {
        return check.fail("give --prescaler or --swo-rate with --clock");
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
    addSelection(*capture, raw);
    addRate(*capture, raw);
    addTraceSettings(*capture, raw);
    capture
        ->add_option("--duration", raw.duration,
                     "Stop after this many seconds (default: at Ctrl-C)")
        ->type_name("SECONDS");
    capture->add_flag("--timestamps", raw.timestamps,
                      "Turn on ITM local timestamps (ITM_TCR.TSENA)");
    addOutput(*capture, raw);
    capture->add_option("--raw", raw.raw, "Record the trace to this file, for decode")
        ->type_name("PATH");
    capture
        ->add_option("--raw-plain", raw.rawPlain,
                     "Write the bare SWO bytes to this file, for other tools")
        ->type_name("PATH");
    addNoSync(*capture, raw);
    addStrict(*capture, raw);
    capture->add_flag("--lock-memory", raw.lockMemory,
                      "Lock the tool's memory in RAM (mlockall), so that no poll waits for a page "
                      "to come back from swap");
    addVerbose(*capture, raw);

    CLI::App* decode = app.add_subcommand("decode", "Decode a recording or a plain SWO dump");
    decode->add_option("file", raw.file, "The recording; - for standard input")
        ->required()
        ->type_name("FILE");
    addOutput(*decode, raw);
    decode->add_flag("--plain", raw.plain, "Read the file as bare SWO bytes, whatever it holds");
    decode
        ->add_option("--clock", raw.rate.clock,
                     "Trace clock in Hz, for timestamps in seconds (default: the recording's)")
        ->type_name("HZ");
    decode->add_flag("--realtime", raw.realtime, "Replay at the pace it was recorded");
    addStrict(*decode, raw);
    addVerbose(*decode, raw);

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

    if (*list) {
        return runList(env, ListOptions{raw.json, raw.verbose});
    }
    if (*capture) {
        Checker check("capture");
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
        if (!check.ok()) {
            return usage(env, check);
        }
        options.timestamps = raw.timestamps;
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
        checkOutput(check, raw, options.output);
        check.number("--clock", raw.rate.clock, 1, 0xFFFFFFFF, options.clockHz);
        if (!check.ok()) {
            return usage(env, check);
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
