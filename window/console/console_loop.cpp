// Set-up, configuration and the message loop of the console backend.
#include <algorithm>

#include "window/console/console_state.h"

namespace {

constexpr int32_t IdleWakeMilliseconds = 100;
constexpr int32_t RedrawWakeMilliseconds = 50;

}  // namespace

ConsoleWindowConfig consoleDefaultConfig() {
    return {.quiet = false,
            .progressOnTerminal = standardErrorIsTerminal(),
            .askOnTerminal = standardInputIsTerminal(),
            .presetAnswer = MessageBoxAnswer::No,
            .percentTextId = ControlIdNone,
            .mergeEntryLabels = true,
            .audioMillisecondsDone = nullptr,
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

bool windowLayerInitialize(int*, char**) {
    if (windowcore::started()) return windowcore::onUserInterfaceThread();
    if (!openWake()) return false;
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
    closeWake();
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
