// What the user is told when a library call fails: the function, its result, the step the library
// reached (g_currentStep) and its error and warning texts, fetched right after the call, before the
// next one clears them.
#pragma once

#include <string>
#include <vector>

#include "dravik/swv/TraceInterface.h"

namespace dravik::swv {

struct CallFailure {
    std::string function;  // "DravikSetupDevice", "DbgDev::ReadDebugRegister(ITM_TCR)"
    int code = 0;
    std::string codeText;  // for DbgDev results: DbgDev::ResultText
    std::string step;
    std::string error;
    std::string warning;
    // What the device object logged during the call, when it was not shown as it came (-v).
    std::vector<std::string> diagnostics;
    // What the user could try, from what the tool knows; empty when it knows nothing useful.
    std::string hint;
};

// Collects the texts an exported function left behind.
CallFailure collectFailure(TraceInterface& api, const std::string& function, int code);
// For a device object method: its result text; the interface's texts are not its own.
CallFailure dbgDevFailure(TraceInterface& api, const std::string& function, int code);

// "dravik-swv: DravikSetupDevice failed with result 28\n  step: ...\n  error: ...\n", then the
// diagnostics ("  dbgdev: ...") and the hint ("  hint: ...").
std::string formatCallFailure(const CallFailure& failure);

}  // namespace dravik::swv
