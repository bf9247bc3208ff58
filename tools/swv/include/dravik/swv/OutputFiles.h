// The files a capture or a decode writes besides the main output: one per --port-file, opened
// before any probe is touched so that a bad path ends the run at once.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dravik/swv/Options.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

class PortFiles {
  public:
    // False with `error` when a file cannot be created.
    bool open(const OutputOptions& options, std::string& error);
    // The routes for the pipeline; a port's format is its --port format, else auto.
    std::vector<PortFileRoute> routes(const OutputOptions& options) const;

  private:
    std::vector<std::unique_ptr<std::ofstream>> files_;
};

// The pipeline settings the output options give; `enabledMask`: the stimulus ports the trace
// setup enabled.
PipelineConfig pipelineConfig(const OutputOptions& options, const PortFiles& files,
                              uint32_t enabledMask, double timestampHz);

}  // namespace dravik::swv
