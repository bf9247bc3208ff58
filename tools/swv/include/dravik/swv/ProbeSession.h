// What every subcommand that talks to a probe does alike: check that the library has the functions
// it needs, pick the probe, select it, report failures in full, and close the device object at
// the end whatever happened (a failed selection leaves the probe open).
#pragma once

#include <initializer_list>
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

    // Reports a failed exported call in full.
    void reportFailure(const std::string& function, int code);
    // Reports a failed device object call.
    void reportDbgDevFailure(const std::string& function, int code);
    // With -v: the step the library reached.
    void showStep(const char* function);

    // A register through the device object; false after reporting. `name` feeds the message.
    bool readRegister(uint32_t address, const char* name, uint32_t& value);
    bool writeRegister(uint32_t address, const char* name, uint32_t value);

    // A call is about to go to the library directly: the device object must be closed after.
    void touch() { touched_ = true; }
    void setReceiverRunning(bool running) { receiverRunning_ = running; }
    const std::string& serial() const { return serial_; }
    ToolEnvironment& env() { return env_; }

  private:
    static void logToStderr(void* context, const char* text);

    ToolEnvironment& env_;
    bool verbose_;
    bool touched_ = false;  // a call may have created the device object
    bool receiverRunning_ = false;
    std::string serial_;
};

}  // namespace dravik::swv
