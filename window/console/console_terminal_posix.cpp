// The terminal on POSIX: detection, its width, the answer read from standard
// input, and standard output taken into a pipe for the entry labels.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "window/console/console_state.h"

namespace {

bool sameTerminal(int first, int second) {
    if (isatty(first) == 0 || isatty(second) == 0) return false;
    struct stat a {};
    struct stat b {};
    if (fstat(first, &a) != 0 || fstat(second, &b) != 0) return false;
    return a.st_rdev == b.st_rdev;
}

}  // namespace

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

bool standardInputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

int32_t terminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

int32_t readTerminalAnswer(char* buffer, int32_t capacity, int32_t timeoutMilliseconds) {
    const uint32_t ready = waitForWake(timeoutMilliseconds, STDIN_FILENO, layer.wakeDescriptor);
    if ((ready & 2u) != 0) return -2;
    if ((ready & 1u) == 0) return 0;
    const ssize_t count = read(STDIN_FILENO, buffer, static_cast<size_t>(capacity));
    return count > 0 ? static_cast<int32_t>(count) : -1;
}

// The read above never outlives its call.
void endTerminalAnswer() {}

void startLabelCapture() {
    if (layer.savedOutput >= 0) return;
    const ConsoleWindowConfig& config = layer.config;
    if (!config.mergeEntryLabels || config.quiet || !config.progressOnTerminal) return;
    if (!sameTerminal(STDOUT_FILENO, STDERR_FILENO)) return;
    std::fflush(stdout);
    int fds[2];
    // Both ends non-blocking: a label that does not fit is lost, the worker
    // never waits for the loop.
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    const int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved < 0 || dup2(fds[1], STDOUT_FILENO) < 0) {
        if (saved >= 0) close(saved);
        close(fds[0]);
        close(fds[1]);
        return;
    }
    close(fds[1]);
    layer.savedOutput = saved;
    layer.labelPipe = fds[0];
    layer.labelPendingLength = 0;
}

void drainLabelCapture() {
    if (layer.labelPipe < 0) return;
    // The labels end in '\r', which does not flush a stream by itself.
    std::fflush(stdout);
    char chunk[512];
    for (;;) {
        ssize_t count = read(layer.labelPipe, chunk, sizeof chunk);
        if (count <= 0) return;
        takeLabelBytes(chunk, static_cast<int32_t>(count));
    }
}

void stopLabelCapture() {
    if (layer.savedOutput < 0) return;
    std::fflush(stdout);
    dup2(layer.savedOutput, STDOUT_FILENO);
    close(layer.savedOutput);
    layer.savedOutput = -1;
    drainLabelCapture();
    close(layer.labelPipe);
    layer.labelPipe = -1;
    std::clearerr(stdout);
}
