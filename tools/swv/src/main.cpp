// dravik-swv: SWV/SWO trace capture through a Dravik probe.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "LibraryTraceInterface.h"
#include "dravik/swv/Tool.h"

namespace {

std::atomic<int> g_stopRequests{0};
std::atomic<bool> g_screenActive{false};
std::atomic<int> g_resizes{0};

// The first Ctrl-C stops the capture cleanly; a second one ends the process at once, giving the
// terminal its own screen back if a full-screen view has it.
void onStopSignal(int) {
    if (g_stopRequests.fetch_add(1) > 0) {
        if (g_screenActive.load()) {
            static const char kRestore[] = "\x1b[?25h\x1b[?1049l";
            [[maybe_unused]] const ssize_t written =
                ::write(STDOUT_FILENO, kRestore, sizeof kRestore - 1);
        }
        _exit(130);
    }
}

bool sizeOf(int fd, unsigned& columns, unsigned& rows) {
    winsize size = {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return false;
    }
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

bool terminalSize(unsigned& columns, unsigned& rows) {
    return sizeOf(STDOUT_FILENO, columns, rows);
}

// The live status line is on stderr, which may be another terminal than standard output.
unsigned stderrColumns() {
    unsigned columns = 0;
    unsigned rows = 0;
    return sizeOf(STDERR_FILENO, columns, rows) ? columns : 0;
}

void installSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The status line is fitted to the terminal again after a resize.
    struct sigaction resize = {};
    resize.sa_handler = [](int) { g_resizes.fetch_add(1); };
    sigemptyset(&resize.sa_mask);
    resize.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &resize, nullptr);
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
        env.terminalSize = terminalSize;
        env.screenActive = &g_screenActive;
        const char* noColor = std::getenv("NO_COLOR");
        env.noColorSet = noColor != nullptr && noColor[0] != '\0';
        env.terminalColumns = stderrColumns;
        env.resizes = &g_resizes;
        return dravik::swv::runTool(env, argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "dravik-swv: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "dravik-swv: unexpected failure\n";
    }
    return dravik::swv::kExitFailure;
}
