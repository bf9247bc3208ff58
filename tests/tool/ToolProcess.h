// Runs the built dravik-swv as a separate process, as a user would.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace dravik::swv::test {

struct ProcessResult {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

struct ToolRun {
    std::vector<std::string> args;
    // Preload the bench hook with this shape ("empty", "two"); empty: the default bench.
    std::string benchShape;
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
    std::string dir_;
};

}  // namespace dravik::swv::test
