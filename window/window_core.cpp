// The shared half of the window layer: the call gate, the dialog registry,
// the control table, the argument checks, and the calls of window_layer.h
// built on them.
#include "window/window_core.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/text_encoding.h"

namespace windowcore {
namespace {

// A call handed from another thread to the user-interface thread. Lives on
// the caller's stack until done is set.
struct Call {
    Call* next;
    PlatformWindow* target;
    bool needsTarget;
    void (*invoke)(void*);
    void* closure;
    std::atomic<bool> done;  // set after applied, so a caller that sees it may read applied
    bool applied;
};

struct Core {
    std::mutex mutex;
    std::condition_variable callDone;
    // Guarded by mutex.
    Call* head = nullptr;
    Call* tail = nullptr;
    int32_t servingDepth = 0;  // the message loop and the loops inside it
    bool started = false;
    bool loopRunning = false;
    int32_t quitCode = 0;
    PlatformWindow* dialogs = nullptr;
    // Set under mutex; read without it by the loops, once per pass.
    std::atomic<bool> quitPending{false};
};

// Never destroyed: a toolkit that ends the process with exit() while the
// worker waits on the condition variable would otherwise wait for ever in
// its destructor.
Core& core = *new Core;
thread_local bool isUserInterfaceThread = false;
std::atomic<MessageBoxHook> messageBoxHook{nullptr};

bool liveLocked(const PlatformWindow* dialog) {
    if (dialog == nullptr) return false;
    for (const PlatformWindow* window = core.dialogs; window != nullptr; window = window->next) {
        if (window == dialog) return window->alive;
    }
    return false;
}

bool gateOpenLocked(const Call& call) {
    return core.servingDepth > 0 && (!call.needsTarget || liveLocked(call.target));
}

// The caller may return as soon as it sees done: call is not touched again.
void finishLocked(Call* call, bool applied) {
    call->applied = applied;
    call->done.store(true, std::memory_order_release);
}

void failQueuedLocked() {
    for (Call* call = core.head; call != nullptr;) {
        Call* next = call->next;
        finishLocked(call, false);
        call = next;
    }
    core.head = nullptr;
    core.tail = nullptr;
    core.callDone.notify_all();
}

void leaveServingLocked() {
    core.servingDepth -= 1;
    if (core.servingDepth > 0) return;
    core.servingDepth = 0;
    failQueuedLocked();
}

// true when flag became set within a short spin.
bool awaitBriefly(const std::atomic<bool>& flag) {
    constexpr auto HandOffSpin = std::chrono::microseconds(200);
    const auto deadline = std::chrono::steady_clock::now() + HandOffSpin;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (flag.load(std::memory_order_acquire)) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

// apply() on the user-interface thread (see call); failed when a gate is
// closed. withControl passes control id of a live dialog, failed without it.
template <typename Result, typename Apply>
Result runFor(PlatformWindow* dialog, bool needsDialog, Result failed, Apply&& apply) {
    Result result = failed;
    run(dialog, needsDialog, [&] { result = apply(); });
    return result;
}

template <typename Result, typename Apply>
Result withControl(PlatformWindow* dialog, int32_t id, Result failed, Apply&& apply) {
    return runFor(dialog, true, failed, [&] {
        WindowControl* control = findControl(dialog, id);
        return control != nullptr ? apply(*control) : failed;
    });
}

// The primary screen's size in right and bottom; zero when the gate is closed.
WindowRect screen() {
    WindowRect size{};
    run(nullptr, false, [&] { windowbackend::screenSize(&size.right, &size.bottom); });
    return size;
}

// A live dialog not yet being destroyed, or null.
PlatformWindow* firstLive() {
    std::lock_guard<std::mutex> lock(core.mutex);
    PlatformWindow* window = core.dialogs;
    while (window != nullptr && (!window->alive || window->destroying)) window = window->next;
    return window;
}

// Under the lock: the dialog is a record of the registry and still alive.
bool isLive(const PlatformWindow* dialog) {
    std::lock_guard<std::mutex> lock(core.mutex);
    return liveLocked(dialog);
}

bool hasText(ControlKind kind) {
    return kind != ControlKind::ProgressBar && kind != ControlKind::DropDownList;
}

}  // namespace

void start() {
    isUserInterfaceThread = true;
    std::lock_guard<std::mutex> lock(core.mutex);
    core.started = true;
    core.quitPending = false;
}

bool stop() {
    if (!isUserInterfaceThread) return false;
    while (PlatformWindow* live = firstLive()) windowDestroy(live);
    PlatformWindow* dialogs = nullptr;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        core.servingDepth = 0;
        core.loopRunning = false;
        failQueuedLocked();
        core.started = false;
        core.quitPending = false;
        dialogs = std::exchange(core.dialogs, nullptr);
    }
    while (dialogs != nullptr) {
        windowbackend::release(dialogs);
        delete std::exchange(dialogs, dialogs->next);
    }
    isUserInterfaceThread = false;
    return true;
}

bool started() {
    std::lock_guard<std::mutex> lock(core.mutex);
    return core.started;
}

bool onUserInterfaceThread() {
    return isUserInterfaceThread;
}

int32_t send(PlatformWindow* dialog, DialogMessage message, uint32_t param) {
    // alive is written on this thread only, so it is read without the lock.
    if (dialog == nullptr || !dialog->alive || dialog->procedure == nullptr) return 0;
    return dialog->procedure(dialog, message, param);
}

WindowControl* findControl(PlatformWindow* dialog, int32_t id) {
    if (dialog == nullptr || id == ControlIdNone) return nullptr;
    for (int32_t i = 0; i < dialog->controlCount; ++i) {
        if (dialog->controls[i].id == id) return &dialog->controls[i];
    }
    return nullptr;
}

int32_t copyText(char* buffer, int32_t capacity, const char* text, size_t length) {
    if (buffer == nullptr || capacity < 1) return 0;
    if (text == nullptr) length = 0;
    // Clamped to capacity, which is still over the limit, to fit an int32_t.
    const auto clamped = static_cast<int32_t>(std::min(length, static_cast<size_t>(capacity)));
    length = static_cast<size_t>(wholeUtf8Prefix(text, clamped, capacity - 1));
    if (length > 0) std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

int32_t copyText(char* buffer, int32_t capacity, const char* text) {
    return copyText(buffer, capacity, text, text == nullptr ? 0 : std::strlen(text));
}

bool call(PlatformWindow* target, bool needsTarget, void (*invoke)(void*), void* closure) {
    if (isUserInterfaceThread) {
        if (needsTarget && !isLive(target)) return false;
        invoke(closure);
        return true;
    }
    Call request{nullptr, target, needsTarget, invoke, closure, false, false};
    std::unique_lock<std::mutex> lock(core.mutex);
    // Both gates before queueing: nobody would ever apply the call otherwise.
    if (!gateOpenLocked(request)) return false;
    (core.tail == nullptr ? core.head : core.tail->next) = &request;
    core.tail = &request;
    windowbackend::wake();
    lock.unlock();
    // The user-interface thread answers within microseconds. Waiting for it on
    // the spot keeps the caller on its core; sleeping lets the scheduler wake
    // it on another one, and the lost caches cost more than the call itself.
    if (awaitBriefly(request.done)) return request.applied;
    lock.lock();
    core.callDone.wait(lock, [&request] { return request.done.load(); });
    return request.applied;
}

void enterServing() {
    std::lock_guard<std::mutex> lock(core.mutex);
    core.servingDepth += 1;
}

void leaveServing() {
    std::lock_guard<std::mutex> lock(core.mutex);
    leaveServingLocked();
}

void serveCalls() {
    // The call just applied is marked done under the same lock that takes
    // the next one: one lock per hand-off.
    Call* finished = nullptr;
    bool finishedApplied = false;
    for (;;) {
        Call* request = nullptr;
        bool open = false;
        {
            std::lock_guard<std::mutex> lock(core.mutex);
            if (finished != nullptr) {
                finishLocked(finished, finishedApplied);
                core.callDone.notify_all();
            }
            request = core.head;
            if (request == nullptr) return;
            core.head = request->next;
            if (core.head == nullptr) core.tail = nullptr;
            // The dialog may have gone, or the loop ended, since it was queued.
            open = gateOpenLocked(*request);
        }
        // Applied outside the lock: it may send messages to the dialog
        // procedure, which may call the layer again.
        if (open) request->invoke(request->closure);
        finished = request;
        finishedApplied = open;
    }
}

int32_t queuedCallCount() {
    std::lock_guard<std::mutex> lock(core.mutex);
    int32_t count = 0;
    for (const Call* call = core.head; call != nullptr; call = call->next) count += 1;
    return count;
}

bool beginLoop() {
    if (!isUserInterfaceThread) return false;
    std::lock_guard<std::mutex> lock(core.mutex);
    if (core.loopRunning) return false;
    core.loopRunning = true;
    core.servingDepth += 1;
    return true;
}

bool quitPending() {
    return core.quitPending.load(std::memory_order_acquire);
}

int32_t endLoop() {
    std::lock_guard<std::mutex> lock(core.mutex);
    core.loopRunning = false;
    const int32_t code = core.quitPending ? core.quitCode : 0;
    core.quitPending = false;
    leaveServingLocked();
    return code;
}

void setMessageBoxHook(MessageBoxHook hook) {
    messageBoxHook.store(hook);
}

MessageBoxAnswer announceMessageBox(const MessageBoxShown& box) {
    const MessageBoxHook hook = messageBoxHook.load();
    return hook != nullptr ? hook(box) : MessageBoxAnswer::Failed;
}

}  // namespace windowcore

using namespace windowcore;

WindowHandle windowCreateDialog(const DialogTemplate* dialogTemplate, DialogProcedure procedure) {
    if (!onUserInterfaceThread() || dialogTemplate == nullptr || procedure == nullptr)
        return nullptr;
    const int32_t count = dialogTemplate->controlCount;
    if (count < 0 || (count > 0 && dialogTemplate->controls == nullptr)) return nullptr;
    std::unique_ptr<PlatformWindow> dialog(new (std::nothrow) PlatformWindow{});
    if (!dialog) return nullptr;
    dialog->procedure = procedure;
    dialog->controls.reset(new (std::nothrow) WindowControl[count > 0 ? count : 1]);
    if (!dialog->controls) return nullptr;
    dialog->controlCount = count;
    for (int32_t i = 0; i < count; ++i) {
        const ControlTemplate& entry = dialogTemplate->controls[i];
        dialog->controls[i] = {entry.id, entry.kind, entry.styles, 0, 100, 0, nullptr};
    }
    if (!windowbackend::create(dialog.get(), dialogTemplate)) {
        windowbackend::release(dialog.get());
        return nullptr;
    }
    PlatformWindow* window = dialog.release();
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        window->alive = true;
        // Kept in the registry until the layer shuts down, so a stale handle
        // is recognised instead of followed.
        window->next = core.dialogs;
        core.dialogs = window;
    }
    const int32_t focusFirst = send(window, DialogMessage::Initialize, 0);
    // A dialog that destroyed itself while initialising was not created.
    if (!isLive(window)) return nullptr;
    windowbackend::initialized(window, focusFirst != 0);
    return window;
}

void windowDestroy(WindowHandle dialog) {
    if (!onUserInterfaceThread() || !isLive(dialog) || dialog->destroying) return;
    dialog->destroying = true;
    windowbackend::destroy(dialog);
    send(dialog, DialogMessage::Destroy, 0);
    std::lock_guard<std::mutex> lock(core.mutex);
    dialog->alive = false;
}

bool windowIsAlive(WindowHandle dialog) {
    return isLive(dialog);
}

bool windowSetTitle(WindowHandle dialog, const char* title) {
    return run(dialog, true,
               [&] { windowbackend::setTitle(dialog, title != nullptr ? title : ""); });
}

bool windowSetItemText(WindowHandle dialog, int32_t id, const char* text) {
    return withControl(dialog, id, false, [&](WindowControl& control) {
        if (!hasText(control.kind)) return false;
        windowbackend::setText(dialog, control, text != nullptr ? text : "");
        // An edit tells its dialog about every change of its text, also one
        // made by the program.
        if (control.kind == ControlKind::Edit) {
            send(dialog, DialogMessage::Command, commandParam(id, NotifyEditChanged));
        }
        return true;
    });
}

int32_t windowGetItemText(WindowHandle dialog, int32_t id, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    return withControl(dialog, id, int32_t{-1}, [&](WindowControl& control) {
        if (hasText(control.kind)) return windowbackend::text(control, buffer, capacity);
        // A list reads as its selected row; a progress bar as nothing.
        if (control.kind == ControlKind::DropDownList)
            return windowbackend::listSelectionText(control, buffer, capacity);
        return copyText(buffer, capacity, "");
    });
}

bool windowEnableItem(WindowHandle dialog, int32_t id, bool enable) {
    return withControl(dialog, id, false, [&](WindowControl& control) {
        windowbackend::enable(control, enable);
        return true;
    });
}

bool windowIsItemEnabled(WindowHandle dialog, int32_t id) {
    return withControl(dialog, id, false,
                       [](WindowControl& control) { return windowbackend::isEnabled(control); });
}

bool windowSetProgressRange(WindowHandle dialog, int32_t id, int32_t minimum, int32_t maximum) {
    if (maximum < minimum) return false;
    return withControl(dialog, id, false, [&](WindowControl& bar) {
        if (bar.kind != ControlKind::ProgressBar) return false;
        bar.rangeMinimum = minimum;
        bar.rangeMaximum = maximum;
        bar.position = std::clamp(bar.position, minimum, maximum);
        windowbackend::progressChanged(dialog, bar, true);
        return true;
    });
}

bool windowSetProgressPosition(WindowHandle dialog, int32_t id, int32_t position) {
    return withControl(dialog, id, false, [&](WindowControl& bar) {
        if (bar.kind != ControlKind::ProgressBar) return false;
        bar.position = std::clamp(position, bar.rangeMinimum, bar.rangeMaximum);
        windowbackend::progressChanged(dialog, bar, false);
        return true;
    });
}

int32_t windowGetProgressPosition(WindowHandle dialog, int32_t id) {
    return withControl(dialog, id, int32_t{-1}, [](WindowControl& bar) {
        return bar.kind == ControlKind::ProgressBar ? bar.position : -1;
    });
}

int32_t windowListAddString(WindowHandle dialog, int32_t id, const char* text) {
    return withControl(dialog, id, int32_t{-1}, [&](WindowControl& list) {
        if (list.kind != ControlKind::DropDownList) return -1;
        return windowbackend::listAdd(list, text != nullptr ? text : "");
    });
}

int32_t windowListSelectString(WindowHandle dialog, int32_t id, const char* text) {
    if (text == nullptr) return -1;
    return withControl(dialog, id, int32_t{-1}, [&](WindowControl& list) {
        return list.kind == ControlKind::DropDownList ? windowbackend::listSelect(list, text) : -1;
    });
}

int32_t windowListGetSelection(WindowHandle dialog, int32_t id) {
    return withControl(dialog, id, int32_t{-1}, [](WindowControl& list) {
        return list.kind == ControlKind::DropDownList ? windowbackend::listSelection(list) : -1;
    });
}

MessageBoxAnswer windowMessageBox(WindowHandle owner, const char* text, const char* caption,
                                  MessageBoxButtons buttons, MessageBoxIcon icon) {
    return runFor(owner, owner != nullptr, MessageBoxAnswer::Failed, [&] {
        return windowbackend::messageBox(owner, text != nullptr ? text : "",
                                         caption != nullptr ? caption : "", buttons, icon);
    });
}

bool windowBrowseForFolder(WindowHandle owner, const char* title, const char* startAt, char* buffer,
                           int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    const bool chosen = runFor(owner, owner != nullptr, false, [&] {
        return windowbackend::browseForFolder(owner, title != nullptr ? title : "",
                                              startAt != nullptr ? startAt : "", buffer, capacity);
    });
    if (!chosen) std::memset(buffer, 0, static_cast<size_t>(capacity));
    return chosen;
}

int32_t windowGetDroppedPath(WindowHandle dialog, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    buffer[0] = '\0';
    // Only meaningful inside the procedure's handling of DropPath, which runs
    // on the user-interface thread.
    if (!onUserInterfaceThread() || !isLive(dialog)) return -1;
    return windowbackend::droppedPath(dialog, buffer, capacity);
}

bool windowGetRect(WindowHandle dialog, WindowRect* rect) {
    return rect != nullptr && run(dialog, true, [&] { windowbackend::getRect(dialog, rect); });
}

bool windowMove(WindowHandle dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (width < 0 || height < 0) return false;
    return runFor(dialog, true, false,
                  [&] { return windowbackend::move(dialog, x, y, width, height); });
}

bool windowShow(WindowHandle dialog, ShowCommand command) {
    return run(dialog, true, [&] { windowbackend::show(dialog, command); });
}

bool windowBringToFront(WindowHandle dialog) {
    return run(dialog, true, [&] { windowbackend::bringToFront(dialog); });
}

int32_t windowScreenWidth() {
    return screen().right;
}

int32_t windowScreenHeight() {
    return screen().bottom;
}

void windowPostQuit(int32_t code) {
    std::lock_guard<std::mutex> lock(core.mutex);
    if (!core.started) return;
    core.quitCode = code;
    core.quitPending = true;
    windowbackend::wake();
}
