// The dravik-swv command line: parses and checks the arguments, then runs the subcommand.
#pragma once

#include "dravik/swv/Commands.h"

namespace dravik::swv {

inline constexpr const char* kToolVersion = "0.1.0";

// Returns the exit status. Bad arguments give kExitUsage before anything is touched.
int runTool(ToolEnvironment& env, int argc, const char* const* argv);

}  // namespace dravik::swv
