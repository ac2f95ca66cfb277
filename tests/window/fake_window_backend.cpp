#include "tests/window/fake_window_backend.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "window/window_core.h"

struct NativeControl {
    bool enabled = true;
    std::string text;
    std::vector<std::string> rows;
    int32_t selection = -1;
};

struct NativeDialog {
    std::vector<NativeControl> controls;
    std::string title;
    WindowRect rect{0, 0, 320, 200};
};

namespace {

std::mutex wakeMutex;
std::condition_variable woken;
bool wakePending = false;
std::function<void()> loopTick;

}  // namespace

void fakeWindowSetLoopTick(std::function<void()> tick) {
    loopTick = std::move(tick);
}

bool windowLayerInitialize(int*, char**) {
    if (windowcore::started()) return windowcore::onUserInterfaceThread();
    windowcore::start();
    return true;
}

void windowLayerShutdown() {
    windowcore::stop();
}

int32_t windowRunMessageLoop() {
    if (!windowcore::beginLoop()) return -1;
    for (;;) {
        windowcore::serveCalls();
        if (windowcore::quitPending()) break;
        if (loopTick) loopTick();
        if (windowcore::quitPending()) break;
        std::unique_lock<std::mutex> lock(wakeMutex);
        woken.wait_for(lock, std::chrono::milliseconds(1), [] { return wakePending; });
        wakePending = false;
    }
    return windowcore::endLoop();
}

namespace windowbackend {

void wake() {
    std::lock_guard<std::mutex> lock(wakeMutex);
    wakePending = true;
    woken.notify_one();
}

bool create(PlatformWindow* dialog, const DialogTemplate* dialogTemplate) {
    dialog->native = new NativeDialog{};
    dialog->native->controls.resize(static_cast<size_t>(dialog->controlCount));
    for (int32_t i = 0; i < dialog->controlCount; ++i) {
        const char* text = dialogTemplate->controls[i].text;
        dialog->native->controls[i].text = text != nullptr ? text : "";
        dialog->controls[i].native = &dialog->native->controls[i];
    }
    return true;
}

void initialized(PlatformWindow*, bool) {}
void destroy(PlatformWindow*) {}
void release(PlatformWindow* dialog) {
    delete dialog->native;
}
void setTitle(PlatformWindow* dialog, const char* title) {
    dialog->native->title = title;
}
void setText(PlatformWindow*, WindowControl& control, const char* text) {
    control.native->text = text;
}
int32_t text(const WindowControl& control, char* buffer, int32_t capacity) {
    return windowcore::copyText(buffer, capacity, control.native->text.c_str());
}
void enable(WindowControl& control, bool enable) {
    control.native->enabled = enable;
}
bool isEnabled(const WindowControl& control) {
    return control.native->enabled;
}
void progressChanged(PlatformWindow*, WindowControl&, bool) {}

int32_t listAdd(WindowControl& list, const char* text) {
    list.native->rows.emplace_back(text);
    return static_cast<int32_t>(list.native->rows.size()) - 1;
}
int32_t listSelect(WindowControl& list, const char* text) {
    for (size_t row = 0; row < list.native->rows.size(); ++row) {
        if (list.native->rows[row] == text)
            return list.native->selection = static_cast<int32_t>(row);
    }
    return -1;
}
int32_t listSelection(const WindowControl& list) {
    return list.native->selection;
}
int32_t listSelectionText(const WindowControl& list, char* buffer, int32_t capacity) {
    const int32_t row = list.native->selection;
    return windowcore::copyText(buffer, capacity, row >= 0 ? list.native->rows[row].c_str() : "");
}

void getRect(PlatformWindow* dialog, WindowRect* rect) {
    *rect = dialog->native->rect;
}
bool move(PlatformWindow* dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    dialog->native->rect = {x, y, x + width, y + height};
    return true;
}
void show(PlatformWindow*, ShowCommand) {}
void bringToFront(PlatformWindow*) {}
void screenSize(int32_t* width, int32_t* height) {
    *width = 640;
    *height = 480;
}

MessageBoxAnswer messageBox(PlatformWindow* owner, const char* text, const char* caption,
                            MessageBoxButtons buttons, MessageBoxIcon icon) {
    const MessageBoxAnswer answer =
        windowcore::announceMessageBox({owner, text, caption, buttons, icon});
    if (answer != MessageBoxAnswer::Failed) return answer;
    return buttons == MessageBoxButtons::Ok ? MessageBoxAnswer::Ok : MessageBoxAnswer::No;
}

bool browseForFolder(PlatformWindow*, const char*, const char*, char*, int32_t) {
    return false;
}

int32_t droppedPath(PlatformWindow*, char*, int32_t) {
    return -1;
}

}  // namespace windowbackend
