// What decoding a file and decoding a live network stream share: the end of the run.
#pragma once

#include <string>
#include <vector>

#include "dravik/swv/Commands.h"
#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

// A reader that went away (`| head`) ends the decode quietly; any other failed write is an error.
int outputFailed(ToolEnvironment& env, const TracePipeline& pipeline);

struct DecodeEnding {
    HealthAdvice advice;
    bool warned = false;  // the health warning was given already
    double seconds = 0;   // the span of the trace decoded
    std::vector<std::string> details;
    bool strict = false;
    int status = kExitOk;  // as the decoding ended
};

// After the last byte: the health warning if it is due, the summary, and the exit status.
int endDecode(ToolEnvironment& env, const TracePipeline& pipeline, const DecodeEnding& ending);

// decode tcp://HOST:PORT and frames://HOST:PORT.
int runNetworkDecode(ToolEnvironment& env, const DecodeOptions& options);

}  // namespace dravik::swv
