// dravik-swv: SWV/SWO trace capture through a Dravik probe.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <exception>
#include <iostream>

#include "LibraryTraceInterface.h"
#include "dravik/swv/Tool.h"

namespace {

std::atomic<int> g_stopRequests{0};

// The first Ctrl-C stops the capture cleanly; a second one ends the process at once.
void onStopSignal(int) {
    if (g_stopRequests.fetch_add(1) > 0) {
        _exit(130);
    }
}

void installSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe shows as a failed write, which ends the capture cleanly and quietly.
    std::signal(SIGPIPE, SIG_IGN);
}

// A pipe or socket whose reader has gone reports an error condition on the writing end.
bool stdoutReaderGone() {
    pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::ios::sync_with_stdio(false);
        installSignalHandlers();
        dravik::swv::LibraryTraceInterface api;
        dravik::swv::SteadyClock clock;
        dravik::swv::ToolEnvironment env(api, std::cout, std::cerr, clock);
        env.outIsTerminal = isatty(STDOUT_FILENO) == 1;
        env.errIsTerminal = isatty(STDERR_FILENO) == 1;
        env.stopRequests = &g_stopRequests;
        env.outputGone = stdoutReaderGone;
        return dravik::swv::runTool(env, argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "dravik-swv: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "dravik-swv: unexpected failure\n";
    }
    return dravik::swv::kExitFailure;
}
