// What every subcommand that talks to a probe does alike: check that the library has the functions
// it needs, pick the probe, select it, report failures in full with what to try, and close the
// device object at the end whatever happened (a failed selection leaves the probe open).
//
// The device object's diagnostics are always collected: -v shows them as they come, otherwise
// those of a failed call are shown with its report, since they often say more than the interface's
// own text (which target error lies behind "Unable to open device").
#pragma once

#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dravik/swv/CallReport.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/ProbeListing.h"

namespace dravik::swv {

class ProbeSession {
  public:
    ProbeSession(ToolEnvironment& env, bool verbose);
    // Stops a running receiver and closes the device object.
    ~ProbeSession();
    ProbeSession(const ProbeSession&) = delete;
    ProbeSession& operator=(const ProbeSession&) = delete;

    // False, with a message, when the library lacks one of them.
    bool require(std::initializer_list<EntryPoint> entries);

    // Lists the probes; false after reporting a failure ("no probe found" when there is none).
    bool listProbes(std::vector<ProbeEntry>& probes);
    // The requested serial number, or the only probe's; nullopt after reporting why not.
    std::optional<std::string> chooseSerial(const std::string& requested);
    // Selects the probe (strictly by serial number); false after reporting.
    bool select(const std::string& serial, const SelectionOptions& options);

    // The diagnostics a failure report shows are those logged from here on.
    void beginCall();
    // A failed exported call in full, with the diagnostics since beginCall() (without -v).
    CallFailure failure(const std::string& function, int code);
    void report(const CallFailure& failure);
    // Reports a failed exported call in full.
    void reportFailure(const std::string& function, int code);
    // Reports a failed device object call.
    void reportDbgDevFailure(const std::string& function, int code);
    // With -v: the step the library reached.
    void showStep(const char* function);

    // A register through the device object; false after reporting. `name` feeds the message.
    bool readRegister(uint32_t address, const char* name, uint32_t& value);
    bool writeRegister(uint32_t address, const char* name, uint32_t value);

    // A call is about to go to the library directly: the device object must be closed after,
    // and its diagnostics are collected from now on.
    void touch();
    void setReceiverRunning(bool running) { receiverRunning_ = running; }
    const std::string& serial() const { return serial_; }
    ToolEnvironment& env() { return env_; }

  private:
    // One enumeration, and what the library said when it failed.
    struct Listing {
        int result = 0;
        std::vector<ProbeEntry> probes;
        CallFailure failure;   // for a result other than 0
        bool noProbe = false;  // none connected (the enumeration fails then)
    };

    static void onDiagnostic(void* context, const char* text);
    Listing enumerate();

    // Lines kept for one failure report; the device object may log on every trace read.
    static constexpr size_t kMaxDiagnostics = 32;

    ToolEnvironment& env_;
    bool verbose_;
    std::mutex diagnosticsMutex_;  // the draining thread's calls log too
    std::deque<std::string> diagnostics_;
    bool touched_ = false;  // a call may have created the device object
    bool receiverRunning_ = false;
    std::string serial_;
};

}  // namespace dravik::swv
