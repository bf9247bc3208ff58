#include "BenchDescription.h"

#include <cstdio>
#include <exception>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

namespace dravik::sim {

namespace {

using Json = nlohmann::json;

constexpr uint64_t kMaxU16 = 0xFFFF;
constexpr uint64_t kMaxU32 = 0xFFFFFFFF;
constexpr uint64_t kMaxPort = 31;
constexpr uint64_t kMaxGeneration = 15;              // four bits of the version word
constexpr uint64_t kMaxFirmwareVersion = 63;         // six bits
constexpr uint64_t kMaxDelayUs = 3600ull * 1000000;  // an hour: longer is a mistake
constexpr uint64_t kMaxItmFifoBytes = 65536;
constexpr uint64_t kMinItmFifoBytes = 5;  // one word packet
constexpr size_t kMaxProbes = 255;        // the driver calls take a one-byte probe index
constexpr uint64_t kMaxCycles = (uint64_t{1} << 48) - 1;  // days of core time: more is a mistake
constexpr uint64_t kMaxPriority = 255;
constexpr uint64_t kFirstException = 2;  // NMI: 0 is thread mode, 1 the reset that starts it
constexpr uint64_t kLastException = 511;

// Thrown inside the parser only; ParseBenchDescription turns it into its result.
struct DescriptionError {
    std::string text;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw DescriptionError{path + ": " + what};
}

std::string RangeText(uint64_t min, uint64_t max) {
    char text[96];
    std::snprintf(text, sizeof text, "expected an integer from %llu to %llu",
                  static_cast<unsigned long long>(min), static_cast<unsigned long long>(max));
    return text;
}

// A JSON integer, or a string of hex digits after "0x" for register values and identifiers.
uint64_t ToUnsigned(const Json& value, const std::string& path, uint64_t min, uint64_t max) {
    uint64_t n = 0;
    bool ok = false;
    if (value.is_number_unsigned()) {
        n = value.get<uint64_t>();
        ok = true;
    } else if (value.is_number_integer()) {
        ok = value.get<int64_t>() >= 0;
        n = ok ? static_cast<uint64_t>(value.get<int64_t>()) : 0;
    } else if (value.is_string()) {
        const std::string& s = value.get_ref<const std::string&>();
        ok = s.size() > 2 && s.size() <= 18 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        for (size_t i = 2; ok && i < s.size(); ++i) {
            const char c = s[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            ok = digit >= 0;
            n = n << 4 | static_cast<uint64_t>(digit & 0xF);
        }
    }
    if (!ok || n < min || n > max) {
        Fail(path, RangeText(min, max) + " (a number, or a hex string such as \"0x1F\")");
    }
    return n;
}

// One JSON object: its keys are read by name, and any key left unread is an error, so a misspelt
// key never passes for a default.
class Object {
  public:
    Object(const Json& value, std::string path) : value_(value), path_(std::move(path)) {
        if (!value_.is_object()) {
            Fail(path_.empty() ? "(top level)" : path_, "expected an object");
        }
    }

    std::string pathOf(const std::string& key) const {
        return path_.empty() ? key : path_ + "." + key;
    }
    const std::string& path() const { return path_; }

    const Json* find(const char* key) {
        used_.insert(key);
        const auto it = value_.find(key);
        return it == value_.end() ? nullptr : &*it;
    }

    // Keys without a sensible default.
    void require(std::initializer_list<const char*> keys) const {
        for (const char* key : keys) {
            if (value_.find(key) == value_.end()) {
                Fail(pathOf(key), "missing");
            }
        }
    }

    template <typename T>
    void number(const char* key, T& out, uint64_t min, uint64_t max) {
        if (const Json* v = find(key)) {
            out = static_cast<T>(ToUnsigned(*v, pathOf(key), min, max));
        }
    }
    // Any JSON number from min to max; `range` says which in the message.
    void real(const char* key, double& out, double min, double max, const char* range) {
        if (const Json* v = find(key)) {
            if (!v->is_number() || !(v->get<double>() >= min && v->get<double>() <= max)) {
                Fail(pathOf(key), std::string("expected a number ") + range);
            }
            out = v->get<double>();
        }
    }
    void flag(const char* key, bool& out) {
        if (const Json* v = find(key)) {
            if (!v->is_boolean()) {
                Fail(pathOf(key), "expected true or false");
            }
            out = v->get<bool>();
        }
    }
    bool text(const char* key, std::string& out) {
        const Json* v = find(key);
        if (v == nullptr) {
            return false;
        }
        if (!v->is_string()) {
            Fail(pathOf(key), "expected a string");
        }
        out = v->get<std::string>();
        return true;
    }
    template <typename E>
    void choice(const char* key, E& out, std::initializer_list<std::pair<const char*, E>> names) {
        std::string name;
        if (!text(key, name)) {
            return;
        }
        std::string list;
        for (const auto& [candidate, value] : names) {
            if (name == candidate) {
                out = value;
                return;
            }
            list += (list.empty() ? "\"" : ", \"") + std::string(candidate) + "\"";
        }
        Fail(pathOf(key), "expected one of " + list);
    }

    void finish() const {
        for (auto it = value_.begin(); it != value_.end(); ++it) {
            if (used_.count(it.key()) == 0) {
                Fail(pathOf(it.key()), "unknown key");
            }
        }
    }

  private:
    const Json& value_;
    std::string path_;
    std::set<std::string> used_;
};

void ReadRegion(Object& parent, const char* key, MemoryRegionConfig& region) {
    if (const Json* v = parent.find(key)) {
        Object o(*v, parent.pathOf(key));
        o.number("base", region.base, 0, kMaxU32);
        o.number("size", region.size, 0, kMaxU32);
        o.finish();
    }
}

void ReadScenario(Object& parent, TargetScenario& scenario) {
    const Json* v = parent.find("scenario");
    if (v == nullptr) {
        return;
    }
    Object o(*v, parent.pathOf("scenario"));
    o.flag("staysInReset", scenario.staysInReset);
    o.choice("lockupAfterReset", scenario.lockupAfterReset,
             {{"none", LockupAfterReset::None},
              {"haltRecovers", LockupAfterReset::HaltRecovers},
              {"persistent", LockupAfterReset::Persistent}});
    o.flag("neverHalts", scenario.neverHalts);
    o.flag("sleepsOnVectorCatch", scenario.sleepsOnVectorCatch);
    o.flag("idlesInWfi", scenario.idlesInWfi);
    o.finish();
}

void ReadDwt(Object& parent, DwtConfig& dwt) {
    const Json* v = parent.find("dwt");
    if (v == nullptr) {
        return;
    }
    Object o(*v, parent.pathOf("dwt"));
    o.flag("cycleCounter", dwt.cycleCounter);
    o.flag("countsInSleep", dwt.countsInSleep);
    o.number("comparators", dwt.comparators, 0, 15);
    o.finish();
}

// The elements of an array under `key`, each read by `read(value, path)`.
template <typename Read>
void ReadArray(Object& parent, const char* key, Read read) {
    const Json* v = parent.find(key);
    if (v == nullptr) {
        return;
    }
    if (!v->is_array()) {
        Fail(parent.pathOf(key), "expected an array");
    }
    for (size_t i = 0; i < v->size(); ++i) {
        read((*v)[i], parent.pathOf(key) + "[" + std::to_string(i) + "]");
    }
}

void ReadPcProfile(Object& parent, std::optional<PcProfile>& out) {
    const Json* v = parent.find("pcProfile");
    if (v == nullptr) {
        return;
    }
    Object o(*v, parent.pathOf("pcProfile"));
    PcProfile profile;
    ReadArray(o, "ranges", [&](const Json& value, const std::string& path) {
        Object r(value, path);
        r.require({"start", "end", "weight"});
        PcRange range;
        r.text("name", range.name);
        r.number("start", range.start, 0, kMaxU32);
        r.number("end", range.end, 0, kMaxU32);
        r.real("weight", range.weight, 0, std::numeric_limits<double>::max(), "of 0 or more");
        r.finish();
        profile.ranges.push_back(range);
    });
    o.real("sleepShare", profile.sleepShare, 0, 1, "from 0 to 1");
    o.number("seed", profile.seed, 0, std::numeric_limits<uint64_t>::max());
    o.finish();
    out = profile;
}

void ReadExceptions(Object& parent, std::vector<ExceptionSource>& out) {
    ReadArray(parent, "exceptions", [&](const Json& value, const std::string& path) {
        Object o(value, path);
        o.require({"number", "periodCycles", "durationCycles"});
        ExceptionSource e;
        o.number("number", e.number, kFirstException, kLastException);
        o.number("periodCycles", e.periodCycles, 1, kMaxCycles);
        o.number("durationCycles", e.durationCycles, 1, kMaxCycles);
        uint64_t first = 0;
        if (o.find("firstCycles") != nullptr) {
            o.number("firstCycles", first, 0, kMaxCycles);
            e.firstCycles = first;
        }
        o.number("priority", e.priority, 0, kMaxPriority);
        o.finish();
        out.push_back(e);
    });
}

ScriptedWrite ReadScriptedWrite(const Json& value, const std::string& path) {
    Object o(value, path);
    ScriptedWrite w;
    o.number("timeUs", w.timeUs, 0, kMaxDelayUs);
    o.number("port", w.port, 0, kMaxPort);
    o.number("size", w.size, 1, 4);
    if (w.size == 3) {
        Fail(o.pathOf("size"), "expected 1, 2 or 4");
    }
    o.number("value", w.value, 0, kMaxU32);
    o.finish();
    return w;
}

TraceProgramConfig ReadProgram(Object& parent) {
    const Json* v = parent.find("program");
    if (v == nullptr) {
        return DefaultTraceProgram{};
    }
    Object o(*v, parent.pathOf("program"));
    std::string kind;
    if (!o.text("kind", kind)) {
        Fail(o.pathOf("kind"), "missing: one of \"default\", \"sequence\", \"scripted\", \"idle\"");
    }
    TraceProgramConfig program;
    if (kind == "default") {
        DefaultTraceProgram p;
        o.number("iterationsPerSecond", p.iterationsPerSecond, 0, kMaxU32);
        o.number("textPort", p.textPort, 0, kMaxPort);
        o.number("counterPort", p.counterPort, 0, kMaxPort);
        o.flag("waitForFifoReady", p.waitForFifoReady);
        program = p;
    } else if (kind == "sequence") {
        SequenceTraceProgram p;
        o.number("writesPerSecond", p.writesPerSecond, 0, kMaxU32);
        o.number("port", p.port, 0, kMaxPort);
        o.number("count", p.count, 0, std::numeric_limits<uint64_t>::max());
        o.flag("waitForFifoReady", p.waitForFifoReady);
        program = p;
    } else if (kind == "scripted") {
        ScriptedTraceProgram p;
        ReadArray(o, "writes", [&](const Json& value, const std::string& path) {
            p.writes.push_back(ReadScriptedWrite(value, path));
        });
        o.flag("waitForFifoReady", p.waitForFifoReady);
        program = p;
    } else if (kind == "idle") {
        program = IdleTraceProgram{};
    } else {
        Fail(o.pathOf("kind"), "expected one of \"default\", \"sequence\", \"scripted\", \"idle\"");
    }
    o.finish();
    return program;
}

void ReadTarget(Object& parent, TargetConfig& target) {
    const Json* v = parent.find("target");
    if (v == nullptr) {
        return;
    }
    Object o(*v, parent.pathOf("target"));
    TraceConfig& trace = target.trace;
    o.number("cpuid", target.cpuid, 0, kMaxU32);
    ReadRegion(o, "flash", target.flash);
    ReadRegion(o, "sram", target.sram);
    o.number("coreClockHz", trace.coreClockHz, 1, kMaxU32);
    o.number("traceClockHz", trace.traceClockHz, 1, kMaxU32);
    o.number("tpiuType", trace.tpiuType, 0, kMaxU32);
    o.choice("itmLock", trace.itmLock,
             {{"normal", ItmLockModel::Normal},
              {"openFromStart", ItmLockModel::OpenFromStart},
              {"keyIgnored", ItmLockModel::KeyIgnored},
              {"showsLockedAlways", ItmLockModel::ShowsLockedAlways},
              {"notImplemented", ItmLockModel::NotImplemented}});
    o.number("itmFifoBytes", trace.itmFifoBytes, kMinItmFifoBytes, kMaxItmFifoBytes);
    o.flag("recordPinBytes", trace.recordPinBytes);
    ReadDwt(o, trace.dwt);
    ReadPcProfile(o, trace.pcProfile);
    ReadExceptions(o, trace.exceptions);
    trace.program = ReadProgram(o);
    o.number("resetDurationUs", target.resetDurationUs, 0, kMaxDelayUs);
    ReadScenario(o, target.scenario);
    o.finish();
    const DwtTraceProblem problem = describeDwtTraceProblem(trace.pcProfile, trace.exceptions);
    if (!problem.empty()) {
        Fail(o.pathOf(problem.key), problem.what);
    }
    const std::string error = describeConfigError(target);
    if (!error.empty()) {
        Fail(o.path(), error);
    }
}

uint16_t ProductIdOf(uint8_t generation) {
    return generation <= 1   ? DRAVIK_PRODUCT_ID_V1
           : generation == 2 ? DRAVIK_PRODUCT_ID_V2
                             : DRAVIK_PRODUCT_ID_V3;
}

ProbeConfig ReadProbe(const Json& value, const std::string& path, size_t index) {
    Object o(value, path);
    ProbeConfig probe;
    char serial[32];
    std::snprintf(serial, sizeof serial, "DRAVIK-BENCH-%04zu", index + 1);
    probe.serial = serial;
    if (o.text("serial", probe.serial) && probe.serial.empty()) {
        Fail(o.pathOf("serial"), "expected a non-empty string");
    }
    o.choice("interface", probe.iface,
             {{"usb", DRAVIK_USB_INTERFACE}, {"tcp", DRAVIK_TCP_INTERFACE}});
    o.number("generation", probe.generation, 0, kMaxGeneration);
    o.number("jtagVersion", probe.jtagVersion, 0, kMaxFirmwareVersion);
    o.number("monowireVersion", probe.monowireVersion, 0, kMaxFirmwareVersion);
    // The model follows the generation unless named; the version query and the description record
    // show the same identifiers.
    probe.productId = ProductIdOf(probe.generation);
    o.number("productId", probe.productId, 0, kMaxU16);
    o.number("vendorId", probe.vendorId, 0, kMaxU16);
    probe.infoProductId = probe.productId;
    probe.infoVendorId = probe.vendorId;
    o.choice("mode", probe.initialMode,
             {{"dfu", uint8_t{kModeDfu}},
              {"idle", uint8_t{kModeIdle}},
              {"debug", uint8_t{kModeDebug}},
              {"monowire", uint8_t{kModeMonowire}}});
    o.flag("targetAttached", probe.targetAttached);
    ReadTarget(o, probe.target);
    o.finish();
    return probe;
}

void ReadClock(Object& parent, BenchDescription& out) {
    const Json* v = parent.find("clock");
    if (v == nullptr) {
        return;
    }
    Object o(*v, parent.pathOf("clock"));
    o.choice("mode", out.manualClock, {{"real", false}, {"manual", true}});
    o.number("exchangeLatencyUs", out.exchangeLatencyUs, 0, kMaxDelayUs);
    o.number("exchangeJitterUs", out.exchangeJitterUs, 0, kMaxDelayUs);
    o.finish();
}

BenchDescription Read(const Json& root) {
    BenchDescription out;
    Object top(root, "");
    ReadClock(top, out);
    if (const Json* probes = top.find("probes")) {
        if (!probes->is_array()) {
            Fail("probes", "expected an array");
        }
        if (probes->size() > kMaxProbes) {
            Fail("probes", "at most 255 probes");
        }
        for (size_t i = 0; i < probes->size(); ++i) {
            out.probes.push_back(ReadProbe((*probes)[i], "probes[" + std::to_string(i) + "]", i));
        }
    } else {
        out.probes.emplace_back();  // the default probe
    }
    top.finish();
    return out;
}

}  // namespace

std::string ParseBenchDescription(const std::string& text, BenchDescription& out) noexcept {
    try {
        Json root;
        try {
            root = Json::parse(text);
        } catch (const Json::exception& e) {
            return std::string("not valid JSON: ") + e.what();
        }
        out = Read(root);
        return {};
    } catch (const DescriptionError& e) {
        return e.text;
    } catch (const std::exception& e) {
        return std::string("unreadable: ") + e.what();
    } catch (...) {
        return "unreadable";
    }
}

}  // namespace dravik::sim
