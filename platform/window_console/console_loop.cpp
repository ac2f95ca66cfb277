// Set-up, configuration, the wake pipe and the message loop of the console
// backend.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/window_console/console_state.h"

namespace {

constexpr int32_t IdleWakeMilliseconds = 100;
constexpr int32_t RedrawWakeMilliseconds = 50;

}  // namespace

ConsoleWindowConfig consoleDefaultConfig() {
    return {.quiet = false,
            .progressOnTerminal = isatty(STDERR_FILENO) != 0,
            .askOnTerminal = isatty(STDIN_FILENO) != 0,
            .presetAnswer = MessageBoxAnswer::No,
            .percentTextId = ControlIdNone,
            .mergeEntryLabels = true,
            .questionHandler = nullptr,
            .questionContext = nullptr};
}

void consoleConfigure(const ConsoleWindowConfig& config) {
    layer.config = config;
    layer.configured = true;
}

void consoleSetLoopHook(ConsoleLoopHook hook, void* context, uint32_t intervalMilliseconds) {
    layer.hook = hook;
    layer.hookContext = context;
    layer.hookInterval = intervalMilliseconds > 0 ? intervalMilliseconds : 1;
}

void consoleSetWakeDescriptor(int32_t descriptor) {
    layer.wakeDescriptor = descriptor >= 0 ? descriptor : -1;
}

void windowbackend::wake() {
    const int fd = layer.wakeWrite.load();
    if (fd < 0) return;
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already wakes the loop; the byte is not needed then.
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    errno = savedErrno;
}

uint32_t waitForWake(int32_t timeoutMilliseconds, int first, int second) {
    // poll passes over the negative descriptors.
    pollfd fds[3] = {{layer.wakeRead.load(), POLLIN, 0}, {first, POLLIN, 0}, {second, POLLIN, 0}};
    if (poll(fds, 3, timeoutMilliseconds) <= 0) return 0;
    if ((fds[0].revents & POLLIN) != 0) {
        char drain[64];
        while (read(fds[0].fd, drain, sizeof drain) > 0) {
        }
    }
    uint32_t ready = 0;
    if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) ready |= 1u;
    if ((fds[2].revents & (POLLIN | POLLHUP)) != 0) ready |= 2u;
    return ready;
}

bool windowLayerInitialize(int*, char**) {
    if (windowcore::started()) return windowcore::onUserInterfaceThread();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    layer.wakeRead.store(fds[0]);
    layer.wakeWrite.store(fds[1]);
    if (!layer.configured) layer.config = consoleDefaultConfig();
    layer.progress = ProgressView{};
    windowcore::start();
    return true;
}

void windowLayerShutdown() {
    // Destroying the dialogs ends the progress line.
    if (!windowcore::stop()) return;
    stopLabelCapture();
    // Nothing wakes the loop any more: the core's gate is closed.
    close(layer.wakeRead.exchange(-1));
    close(layer.wakeWrite.exchange(-1));
    layer.progress = ProgressView{};
    layer.hook = nullptr;
    layer.hookContext = nullptr;
    layer.wakeDescriptor = -1;
}

int32_t windowRunMessageLoop() {
    if (!windowcore::beginLoop()) return -1;
    startLabelCapture();
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextHook = Clock::now() + std::chrono::milliseconds(layer.hookInterval);
    for (;;) {
        windowcore::serveCalls();
        drainLabelCapture();
        if (windowcore::quitPending()) break;
        int32_t timeout = layer.progress.dirty ? RedrawWakeMilliseconds : IdleWakeMilliseconds;
        if (layer.hook != nullptr) {
            const Clock::time_point now = Clock::now();
            if (now >= nextHook) {
                nextHook = now + std::chrono::milliseconds(layer.hookInterval);
                layer.hook(layer.hookContext);
                // A quit from the hook ends the loop before any further call
                // is served; calls still queued then fail.
                if (windowcore::quitPending()) break;
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextHook - now).count();
            timeout = std::min<int32_t>(timeout, static_cast<int32_t>(left) + 1);
        }
        renderProgress(false);
        const int watched = layer.hook != nullptr ? layer.wakeDescriptor : -1;
        if ((waitForWake(timeout, layer.labelPipe, watched) & 2u) != 0) nextHook = Clock::now();
    }
    finishProgressLine();
    stopLabelCapture();
    return windowcore::endLoop();
}
