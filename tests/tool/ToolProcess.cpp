#include "ToolProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "ToolTestSupport.h"

extern char** environ;

namespace dravik::swv::test {

namespace {

std::vector<std::string> environmentFor(const ToolRun& run, const std::string& configPath) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "LD_PRELOAD=", 11) != 0 &&
            std::strncmp(*entry, "DRAVIK_SWV_TEST_BENCH=", 22) != 0 &&
            std::strncmp(*entry, "DRAVIK_BENCH_CONFIG=", 20) != 0 &&
            std::strncmp(*entry, "ASAN_OPTIONS=", 13) != 0) {
            environment.push_back(*entry);
        }
    }
    if (!configPath.empty()) {
        environment.push_back("DRAVIK_BENCH_CONFIG=" + configPath);
    }
    std::string asan = "ASAN_OPTIONS=";
    if (const char* options = std::getenv("ASAN_OPTIONS")) {
        asan += std::string(options) + ":";
    }
    if (!run.benchShape.empty()) {
        environment.push_back(std::string("LD_PRELOAD=") + DRAVIK_SWV_BENCH_HOOK);
        environment.push_back("DRAVIK_SWV_TEST_BENCH=" + run.benchShape);
        // The hook is loaded before the sanitizer runtime the tool brings along.
        asan += "verify_asan_link_order=0:";
    }
    environment.push_back(asan);
    return environment;
}

std::string makeDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/dravik-swv-run-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) == nullptr ? std::string("/tmp") : std::string(name.data());
}

}  // namespace

ToolProcess::ToolProcess(const ToolRun& run) : dir_(makeDir()) {
    outPath_ = dir_ + "/out";
    errPath_ = dir_ + "/err";
    if (!run.benchConfig.empty()) {
        configPath_ = dir_ + "/bench.json";
        writeBytes(configPath_, Bytes(run.benchConfig.begin(), run.benchConfig.end()));
    }
    std::vector<std::string> args = run.args;
    args.insert(args.begin(), DRAVIK_SWV_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = environmentFor(run, configPath_);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO,
                                     run.stdinPath.empty() ? "/dev/null" : run.stdinPath.c_str(),
                                     O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, DRAVIK_SWV_BINARY, &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << DRAVIK_SWV_BINARY;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    ::unlink(outPath_.c_str());
    ::unlink(errPath_.c_str());
    if (!configPath_.empty()) {
        ::unlink(configPath_.c_str());
    }
    ::rmdir(dir_.c_str());
}

void ToolProcess::signal(int number) {
    if (pid_ > 0) {
        ::kill(pid_, number);
    }
}

ProcessResult ToolProcess::wait() {
    ProcessResult result;
    if (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) {
            result.exitStatus = WEXITSTATUS(status);
        }
        pid_ = -1;
    }
    result.out = readFile(outPath_);
    result.err = readFile(errPath_);
    return result;
}

ProcessResult runToolProcess(const ToolRun& run) {
    ToolProcess process(run);
    return process.wait();
}

}  // namespace dravik::swv::test
