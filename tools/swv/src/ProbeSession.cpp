#include "dravik/swv/ProbeSession.h"

#include <algorithm>
#include <cstdio>

#include "DravikTrace.h"

namespace dravik::swv {

namespace {

// DbgDev's result for "no probe found" as the failed enumeration's text carries it.
constexpr const char* kNoProbeStatusText = "status: 26";

}  // namespace

void ToolEnvironment::message(const std::string& text) {
    std::lock_guard<std::mutex> lock(errMutex);
    err << text;
    err.flush();
}

ProbeSession::ProbeSession(ToolEnvironment& env, bool verbose) : env_(env), verbose_(verbose) {
    if (verbose_) {
        touched_ = true;
        env_.api.setLogSink(&ProbeSession::logToStderr, &env_);
    }
}

ProbeSession::~ProbeSession() {
    if (receiverRunning_ && env_.api.has(EntryPoint::StopSwvRead)) {
        const int result = env_.api.stopSwvRead();
        if (result != DRAVIK_OK) {
            reportFailure("DravikStopSWVRead", result);
        }
    }
    if (touched_ && env_.api.has(EntryPoint::CloseDevice)) {
        env_.api.closeDevice();
    }
}

void ProbeSession::logToStderr(void* context, const char* text) {
    auto* env = static_cast<ToolEnvironment*>(context);
    std::string line = "dbgdev: ";
    line += text == nullptr ? "" : text;
    if (line.empty() || line.back() != '\n') {
        line += '\n';
    }
    env->message(line);
}

bool ProbeSession::require(std::initializer_list<EntryPoint> entries) {
    for (EntryPoint entry : entries) {
        if (!env_.api.has(entry)) {
            env_.message(std::string("dravik-swv: libDravikTrace.so has no ") +
                         entryPointName(entry) + "; it is older than this tool\n");
            return false;
        }
    }
    return true;
}

void ProbeSession::reportFailure(const std::string& function, int code) {
    env_.message(formatCallFailure(collectFailure(env_.api, function, code)));
}

void ProbeSession::reportDbgDevFailure(const std::string& function, int code) {
    env_.message(formatCallFailure(dbgDevFailure(env_.api, function, code)));
}

void ProbeSession::showStep(const char* function) {
    if (verbose_) {
        env_.message(std::string("dravik-swv: ") + function + ": " + env_.api.currentStep() + "\n");
    }
}

bool ProbeSession::listProbes(std::vector<ProbeEntry>& probes) {
    touched_ = true;
    // 128 of the longest lines the library writes.
    std::vector<char> list(64 * 1024, '\0');
    int size = static_cast<int>(list.size());
    int count = 0;
    const int result = env_.api.enumerateDevices(list.data(), &size, &count);
    showStep("DravikEnumerateDevices");
    if (result > 0) {
        const CallFailure failure = collectFailure(env_.api, "DravikEnumerateDevices", result);
        if (result == DRAVIK_ENUMERATION_FAILED &&
            failure.error.find(kNoProbeStatusText) != std::string::npos) {
            env_.message("dravik-swv: no probe found\n");
            if (verbose_) {
                env_.message(formatCallFailure(failure));
            }
        } else {
            env_.message(formatCallFailure(failure));
        }
        return false;
    }
    if (result < 0) {
        const CallFailure failure = collectFailure(env_.api, "DravikEnumerateDevices", result);
        env_.message("dravik-swv: " + std::to_string(-result) +
                     " probe(s) left out of the listing: " + failure.warning + "\n");
    }
    size = std::max(0, std::min(size, static_cast<int>(list.size()) - 1));
    probes = parseProbeListing(std::string_view(list.data(), static_cast<size_t>(size)));
    if (probes.empty()) {
        env_.message("dravik-swv: no probe found\n");
        return false;
    }
    return true;
}

std::optional<std::string> ProbeSession::chooseSerial(const std::string& requested) {
    if (!requested.empty()) {
        return requested;
    }
    std::vector<ProbeEntry> probes;
    if (!listProbes(probes)) {
        return std::nullopt;
    }
    if (probes.size() > 1) {
        std::string names;
        for (const ProbeEntry& probe : probes) {
            names += (names.empty() ? "" : ", ") + probe.serial;
        }
        env_.message("dravik-swv: " + std::to_string(probes.size()) +
                     " probes connected; choose one with --serial: " + names + "\n");
        return std::nullopt;
    }
    return probes.front().serial;
}

bool ProbeSession::select(const std::string& serial, const SelectionOptions& options) {
    touched_ = true;
    // Strict: with a serial number in hand, never open a different probe.
    unsigned flags = DRAVIK_SELECT_STRICT;
    if (options.reset) {
        flags |= DRAVIK_SELECT_RESET;
    }
    if (options.allowOldProbe) {
        flags |= DRAVIK_SELECT_ALLOW_OLD;
    }
    int status = 0;
    const int result = env_.api.selectDevice(serial.c_str(), flags, &status);
    showStep("DravikSelectDevice");
    if (result != DRAVIK_OK) {
        reportFailure("DravikSelectDevice", result);
        return false;
    }
    serial_ = serial;
    return true;
}

bool ProbeSession::readRegister(uint32_t address, const char* name, uint32_t& value) {
    touched_ = true;
    unsigned read = 0;
    const int result = env_.api.readDebugRegister(address, &read);
    if (result != 0) {
        reportDbgDevFailure(std::string("DbgDev::ReadDebugRegister(") + name + ")", result);
        return false;
    }
    value = read;
    return true;
}

bool ProbeSession::writeRegister(uint32_t address, const char* name, uint32_t value) {
    touched_ = true;
    const int result = env_.api.writeDebugRegister(address, value);
    if (result != 0) {
        reportDbgDevFailure(std::string("DbgDev::WriteDebugRegister(") + name + ")", result);
        return false;
    }
    return true;
}

}  // namespace dravik::swv
