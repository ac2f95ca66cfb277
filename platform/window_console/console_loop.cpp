// Set-up, configuration and the message loop of the console backend.
#include <unistd.h>

#include <algorithm>

#include "platform/window_console/console_state.h"

namespace {

constexpr int32_t IdleWakeMilliseconds = 100;
constexpr int32_t RedrawWakeMilliseconds = 50;

}  // namespace

ConsoleWindowConfig consoleDefaultConfig() {
    ConsoleWindowConfig config{};
    config.quiet = false;
    config.progressOnTerminal = isatty(STDERR_FILENO) != 0;
    config.askOnTerminal = isatty(STDIN_FILENO) != 0;
    config.presetAnswer = MessageBoxAnswer::No;
    config.percentTextId = ControlIdNone;
    config.mergeEntryLabels = true;
    config.questionHandler = nullptr;
    config.questionContext = nullptr;
    return config;
}

void consoleConfigure(const ConsoleWindowConfig& config) {
    ConsoleLayer& layer = consoleLayer();
    layer.config = config;
    layer.configured = true;
}

void consoleSetLoopHook(ConsoleLoopHook hook, void* context, uint32_t intervalMilliseconds) {
    ConsoleLayer& layer = consoleLayer();
    layer.hook = hook;
    layer.hookContext = context;
    layer.hookInterval = intervalMilliseconds > 0 ? intervalMilliseconds : 1;
}

bool windowLayerInitialize(int*, char**) {
    ConsoleLayer& layer = consoleLayer();
    if (!openDispatch()) return false;
    if (!layer.configured) layer.config = consoleDefaultConfig();
    layer.progress = ProgressView{};
    layer.lastBox = ConsoleMessageBoxRecord{};
    layer.initialized = true;
    setUserInterfaceThread(true);
    return true;
}

void windowLayerShutdown() {
    if (!onUserInterfaceThread()) return;
    ConsoleLayer& layer = consoleLayer();
    finishProgressLine();
    stopLabelCapture();
    closeDispatch();
    layer.progress = ProgressView{};
    layer.hook = nullptr;
    layer.hookContext = nullptr;
    layer.initialized = false;
    setUserInterfaceThread(false);
}

void windowPostQuit(int32_t code) {
    ConsoleLayer& layer = consoleLayer();
    layer.quitCode.store(code);
    layer.quitPosted.store(true);
    wakeLoop();
}

int32_t windowRunMessageLoop() {
    if (!onUserInterfaceThread()) return -1;
    ConsoleLayer& layer = consoleLayer();
    enterServing();
    startLabelCapture();
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextHook = Clock::now() + std::chrono::milliseconds(layer.hookInterval);
    int32_t code = 0;
    for (;;) {
        serveQueuedCalls();
        dispatchPosted();
        drainLabelCapture();
        if (layer.quitPosted.exchange(false)) {
            code = layer.quitCode.load();
            break;
        }
        int32_t timeout = layer.progress.dirty ? RedrawWakeMilliseconds : IdleWakeMilliseconds;
        if (layer.hook != nullptr) {
            const Clock::time_point now = Clock::now();
            if (now >= nextHook) {
                nextHook = now + std::chrono::milliseconds(layer.hookInterval);
                layer.hook(layer.hookContext);
                // A quit from the hook ends the loop before any further call
                // is served; calls still queued then fail.
                if (layer.quitPosted.exchange(false)) {
                    code = layer.quitCode.load();
                    break;
                }
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextHook - now).count();
            timeout = std::min<int32_t>(timeout, static_cast<int32_t>(left) + 1);
        }
        renderProgress(false);
        waitForWake(timeout, labelCaptureFd());
    }
    finishProgressLine();
    stopLabelCapture();
    leaveServing();
    return code;
}

MessageBoxAnswer windowMessageBox(WindowHandle owner, const char* text, const char* caption,
                                  MessageBoxButtons buttons, MessageBoxIcon icon) {
    MessageBoxAnswer answer = MessageBoxAnswer::Failed;
    auto apply = [&] { answer = showConsoleBox(owner, text, caption, buttons, icon); };
    if (!callOnUiThread(owner, owner != nullptr, apply)) return MessageBoxAnswer::Failed;
    return answer;
}

bool consoleLastMessageBox(ConsoleMessageBoxRecord* record) {
    if (record == nullptr) return false;
    bool shown = false;
    auto apply = [&] {
        ConsoleLayer& layer = consoleLayer();
        shown = layer.lastBox.count > 0;
        *record = layer.lastBox;
    };
    return callOnUiThread(nullptr, false, apply) && shown;
}
