#include "dravik/swv/ProbeSession.h"

#include <algorithm>
#include <cstdio>

#include "DravikTrace.h"
#include "dravik/swv/FailureHints.h"

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

ProbeSession::ProbeSession(ToolEnvironment& env, bool verbose) : env_(env), verbose_(verbose) {}

void ProbeSession::touch() {
    if (!touched_) {
        touched_ = true;
        // The sink lives on the device object, which this creates.
        env_.api.setLogSink(&ProbeSession::onDiagnostic, this);
    }
}

ProbeSession::~ProbeSession() {
    if (receiverRunning_ && env_.api.has(EntryPoint::StopSwvRead)) {
        const int result = env_.api.stopSwvRead();
        if (result != DRAVIK_OK) {
            reportFailure("DravikStopSWVRead", result);
        }
    }
    if (touched_) {
        env_.api.setLogSink(nullptr, nullptr);
    }
    if (touched_ && env_.api.has(EntryPoint::CloseDevice)) {
        env_.api.closeDevice();
    }
}

void ProbeSession::onDiagnostic(void* context, const char* text) {
    auto* session = static_cast<ProbeSession*>(context);
    std::string line = text == nullptr ? "" : text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    if (session->verbose_) {
        session->env_.message("dbgdev: " + line + "\n");
        return;
    }
    std::lock_guard<std::mutex> lock(session->diagnosticsMutex_);
    if (session->diagnostics_.size() == kMaxDiagnostics) {
        session->diagnostics_.pop_front();
    }
    session->diagnostics_.push_back(std::move(line));
}

void ProbeSession::beginCall() {
    std::lock_guard<std::mutex> lock(diagnosticsMutex_);
    diagnostics_.clear();
}

CallFailure ProbeSession::failure(const std::string& function, int code) {
    CallFailure failure = collectFailure(env_.api, function, code);
    std::lock_guard<std::mutex> lock(diagnosticsMutex_);
    failure.diagnostics.assign(diagnostics_.begin(), diagnostics_.end());
    diagnostics_.clear();
    return failure;
}

void ProbeSession::report(const CallFailure& failure) {
    env_.message(formatCallFailure(failure));
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
    report(failure(function, code));
}

void ProbeSession::reportDbgDevFailure(const std::string& function, int code) {
    env_.message(formatCallFailure(dbgDevFailure(env_.api, function, code)));
}

void ProbeSession::showStep(const char* function) {
    if (verbose_) {
        env_.message(std::string("dravik-swv: ") + function + ": " + env_.api.currentStep() + "\n");
    }
}

ProbeSession::Listing ProbeSession::enumerate() {
    touch();
    Listing listing;
    // 128 of the longest lines the library writes.
    std::vector<char> list(64 * 1024, '\0');
    int size = static_cast<int>(list.size());
    int count = 0;
    listing.result = env_.api.enumerateDevices(list.data(), &size, &count);
    showStep("DravikEnumerateDevices");
    if (listing.result != DRAVIK_OK) {
        listing.failure = collectFailure(env_.api, "DravikEnumerateDevices", listing.result);
    }
    if (listing.result > 0) {
        // With no probe at all the enumeration itself fails, with DbgDev's status 26.
        listing.noProbe = listing.result == DRAVIK_ENUMERATION_FAILED &&
                          listing.failure.error.find(kNoProbeStatusText) != std::string::npos;
        return listing;
    }
    size = std::max(0, std::min(size, static_cast<int>(list.size()) - 1));
    listing.probes = parseProbeListing(std::string_view(list.data(), static_cast<size_t>(size)));
    listing.noProbe = listing.probes.empty();
    return listing;
}

bool ProbeSession::listProbes(std::vector<ProbeEntry>& probes) {
    const Listing listing = enumerate();
    if (listing.result > 0 && !listing.noProbe) {
        env_.message(formatCallFailure(listing.failure));
        return false;
    }
    if (listing.result < 0) {
        env_.message("dravik-swv: " + std::to_string(-listing.result) +
                     " probe(s) left out of the listing: " + listing.failure.warning + "\n");
    }
    if (listing.noProbe) {
        env_.message("dravik-swv: no probe found\n");
        if (verbose_ && listing.result > 0) {
            env_.message(formatCallFailure(listing.failure));
        }
        return false;
    }
    probes = listing.probes;
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
    touch();
    // Strict: with a serial number in hand, never open a different probe.
    unsigned flags = DRAVIK_SELECT_STRICT;
    if (options.reset) {
        flags |= DRAVIK_SELECT_RESET;
    }
    if (options.allowOldProbe) {
        flags |= DRAVIK_SELECT_ALLOW_OLD;
    }
    int status = 0;
    beginCall();
    const int result = env_.api.selectDevice(serial.c_str(), flags, &status);
    showStep("DravikSelectDevice");
    if (result != DRAVIK_OK) {
        CallFailure failed = failure("DravikSelectDevice", result);
        std::optional<Listing> listing;
        if (selectionHintListsProbes(failed)) {
            listing = enumerate();
        }
        const bool listed = listing && (listing->result <= 0 || listing->noProbe);
        failed.hint = selectionHint(failed, serial, listed ? &listing->probes : nullptr);
        report(failed);
        return false;
    }
    serial_ = serial;
    return true;
}

bool ProbeSession::readRegister(uint32_t address, const char* name, uint32_t& value) {
    touch();
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
    touch();
    const int result = env_.api.writeDebugRegister(address, value);
    if (result != 0) {
        reportDbgDevFailure(std::string("DbgDev::WriteDebugRegister(") + name + ")", result);
        return false;
    }
    return true;
}

}  // namespace dravik::swv
