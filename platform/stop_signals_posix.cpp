#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/stop_signals.h"

namespace {

std::atomic<StopSignalHandler> stopHandler{nullptr};
static_assert(std::atomic<StopSignalHandler>::is_always_lock_free);

// Every signal that asks for a stop: the interrupt key, a terminate request,
// the terminal or remote session going away, the quit key. Left at their
// defaults, each would end the process in the middle of a write.
const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
int signalPipe[2] = {-1, -1};

void stopSignalSet(sigset_t* signals) {
    sigemptyset(signals);
    for (int signalNumber : stopSignals) sigaddset(signals, signalNumber);
}

void changeStopMask(int how) {
    sigset_t signals;
    stopSignalSet(&signals);
    pthread_sigmask(how, &signals, nullptr);
}

// One stop signal's handler never runs inside another's, so a handler that
// sees an earlier signal sees it completely.
bool catchStopSignalsWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    stopSignalSet(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool caught = true;
    for (int signalNumber : stopSignals) {
        if (sigaction(signalNumber, &action, nullptr) != 0) caught = false;
    }
    return caught;
}

// Calls the program's handler, if any, then makes the descriptor readable so
// a loop watching it wakes.
void noteSignal(int signalNumber) {
    const int savedErrno = errno;
    StopSignalHandler handler = stopHandler.load();
    if (handler != nullptr) handler(signalNumber);
    const char mark = 1;
    // The pipe is non-blocking: when it is full, a signal is pending anyway.
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &mark, 1);
    errno = savedErrno;
}

bool openSignalPipe() {
    if (signalPipe[0] >= 0) return true;
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) return true;
    signalPipe[0] = signalPipe[1] = -1;
    return false;
}

}  // namespace

void ignoreWriteSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
    sigaction(SIGXFSZ, &action, nullptr);
}

int32_t installStopSignalHandler(StopSignalHandler handler) {
    if (!openSignalPipe()) return -1;
    stopHandler.store(handler);
    if (!catchStopSignalsWith(noteSignal)) return -1;
    return signalPipe[0];
}

void endProcessFromSignal(const char* message, int32_t exitCode) {
    if (message != nullptr) {
        size_t length = 0;
        while (message[length] != '\0') ++length;
        // Best effort: the terminal may be gone, which is one reason to be here.
        while (length > 0) {
            const ssize_t written = write(STDERR_FILENO, message, length);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) break;
            message += written;
            length -= static_cast<size_t>(written);
        }
    }
    _exit(exitCode);
}

void blockStopSignals() {
    changeStopMask(SIG_BLOCK);
}

void unblockStopSignals() {
    changeStopMask(SIG_UNBLOCK);
}

int32_t catchStopSignals() {
    if (signalPipe[0] >= 0) return signalPipe[0];
    if (!openSignalPipe()) return -1;
    catchStopSignalsWith(noteSignal);
    return signalPipe[0];
}

bool takeStopSignals() {
    if (signalPipe[0] < 0) return false;
    bool came = false;
    char marks[64];
    while (read(signalPipe[0], marks, sizeof marks) > 0) came = true;
    return came;
}

void releaseStopSignals() {
    if (signalPipe[0] < 0) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : stopSignals) sigaction(signalNumber, &action, nullptr);
    close(signalPipe[0]);
    close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}
