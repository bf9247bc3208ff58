// Runs the built dravik-swv as a separate process, as a user would.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dravik::swv::test {

struct ProcessResult {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

struct ToolRun {
    ToolRun(std::vector<std::string> args, std::string benchShape = {},
            std::string benchConfig = {})
        : args(std::move(args)),
          benchShape(std::move(benchShape)),
          benchConfig(std::move(benchConfig)) {}

    std::vector<std::string> args;
    // Preload the bench hook with this shape ("empty", "two"); empty: the default bench.
    std::string benchShape;
    // A bench description (JSON) handed over through DRAVIK_BENCH_CONFIG; empty: none.
    std::string benchConfig;
    // The file standard input reads; empty: /dev/null.
    std::string stdinPath;
};

// Runs to the end.
ProcessResult runToolProcess(const ToolRun& run);

// Started in the background; the caller signals it and waits.
class ToolProcess {
  public:
    explicit ToolProcess(const ToolRun& run);
    ~ToolProcess();
    void signal(int number);
    ProcessResult wait();

  private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
    std::string configPath_;
    std::string dir_;
};

}  // namespace dravik::swv::test
