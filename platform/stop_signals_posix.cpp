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

void changeStopMask(int how) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(how, &signals, nullptr);
}

const int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int signalPipe[2] = {-1, -1};

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
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
        return -1;
    return signalPipe[0];
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
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : stopSignals) sigaction(signalNumber, &action, nullptr);
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
