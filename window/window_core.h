// Inside the window layer: the half that every backend shares. It implements
// the calls of window/window_layer.h: the thread contract (a call from
// another thread is handed to the user-interface thread, gated on a live
// dialog and a serving loop), the registry of dialogs, the control table and
// the argument checks. A backend supplies its message loop, its set-up and
// the user-interface-thread operations declared in namespace windowbackend.
// For backends (and their tests) only; the shell uses window_layer.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "window/window_layer.h"

struct NativeDialog;   // a backend's own part of a dialog
struct NativeControl;  // and of a control

struct WindowControl {
    int32_t id;
    ControlKind kind;
    uint32_t styles;
    // Progress bars keep their range and position here, so that every
    // backend clamps alike (0..100 at first).
    int32_t rangeMinimum, rangeMaximum, position;
    NativeControl* native;
};

struct PlatformWindow {
    PlatformWindow* next;  // the registry: every dialog made, newest first
    DialogProcedure procedure;
    bool alive;  // written on the user-interface thread under the core's lock
    bool destroying;
    std::unique_ptr<WindowControl[]> controls;
    int32_t controlCount;
    NativeDialog* native;
};

namespace windowcore {

// Set-up, from the backend's windowLayerInitialize: the calling thread
// becomes the user-interface thread; a quit left from before is dropped.
void start();
// From the backend's windowLayerShutdown: destroys the live dialogs (each
// gets Destroy), closes the gate, failing what is queued, and frees every
// dialog record. false, doing nothing, off the user-interface thread.
bool stop();
bool started();
bool onUserInterfaceThread();

// Sends a message to a live dialog's procedure; its answer, or 0.
int32_t send(PlatformWindow* dialog, DialogMessage message, uint32_t param);
// Control id of dialog, or null.
WindowControl* findControl(PlatformWindow* dialog, int32_t id);

// Copies at most capacity - 1 bytes of text and a terminator, never cutting
// a UTF-8 sequence; the number of bytes copied (0 without a buffer).
int32_t copyText(char* buffer, int32_t capacity, const char* text, size_t length);
int32_t copyText(char* buffer, int32_t capacity, const char* text);

// Runs invoke(closure) on the user-interface thread: at once there, handed
// over and waited for from another thread. false, without running it, when
// a gate is closed (needsTarget and target is not alive; from another thread
// also no serving loop), checked when queued and again when it would run.
bool call(PlatformWindow* target, bool needsTarget, void (*invoke)(void*), void* closure);
template <typename Apply>
bool run(PlatformWindow* target, bool needsTarget, Apply&& apply) {
    return call(
        target, needsTarget,
        [](void* closure) { (*static_cast<std::remove_reference_t<Apply>*>(closure))(); }, &apply);
}

// A loop of the layer (the message loop, a message box's or question's
// loop) serves calls from other threads while it runs: enterServing when it
// starts, serveCalls whenever woken, leaveServing when it ends. Leaving the
// last one fails every call still queued.
void enterServing();
void leaveServing();
void serveCalls();
int32_t queuedCallCount();

// The message loop's frame, for the backend's windowRunMessageLoop.
// beginLoop: false when not on the user-interface thread or when a message
// loop already runs; otherwise the loop serves. endLoop takes the quit that
// ended it (its code; 0 without one) and leaves serving.
bool beginLoop();
bool quitPending();
int32_t endLoop();

// Test support: null in the programs. Backends that show real message boxes
// call announceMessageBox once the box is up; the hook's answer (other than
// Failed) then answers it.
struct MessageBoxShown {
    WindowHandle owner;
    const char* text;
    const char* caption;
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
};
typedef MessageBoxAnswer (*MessageBoxHook)(const MessageBoxShown& box);
void setMessageBoxHook(MessageBoxHook hook);
MessageBoxAnswer announceMessageBox(const MessageBoxShown& box);

}  // namespace windowcore

// What a backend supplies. User-interface thread, with the dialog alive and
// the control found and of a kind the operation takes, unless said otherwise.
namespace windowbackend {

// Any thread, under the core's lock: calls are queued or a quit was posted;
// the serving loop should call serveCalls and look at quitPending soon.
void wake();

// Builds the dialog's native part and sets every control's; false leaves
// what was built for release.
bool create(PlatformWindow* dialog, const DialogTemplate* dialogTemplate);
// After Initialize (focusFirst: its answer was non-zero).
void initialized(PlatformWindow* dialog, bool focusFirst);
// Before Destroy is sent: the dialog goes from the screen.
void destroy(PlatformWindow* dialog);
// Frees the native part (dialog may be half built, or destroyed).
void release(PlatformWindow* dialog);

void setTitle(PlatformWindow* dialog, const char* title);
// Buttons, edits and labels.
void setText(PlatformWindow* dialog, WindowControl& control, const char* text);
int32_t text(const WindowControl& control, char* buffer, int32_t capacity);
void enable(WindowControl& control, bool enable);
bool isEnabled(const WindowControl& control);
// The bar's range or position changed (already clamped).
void progressChanged(PlatformWindow* dialog, WindowControl& bar, bool rangeChanged);
// Lists: the new row's index or -1; selects the first row whose text equals
// text (without a notification), its index or -1; the selected row or -1;
// the selected row's text as copyText copies it (none: empty).
int32_t listAdd(WindowControl& list, const char* text);
int32_t listSelect(WindowControl& list, const char* text);
int32_t listSelection(const WindowControl& list);
int32_t listSelectionText(const WindowControl& list, char* buffer, int32_t capacity);

void getRect(PlatformWindow* dialog, WindowRect* rect);
// width and height are not negative.
bool move(PlatformWindow* dialog, int32_t x, int32_t y, int32_t width, int32_t height);
void show(PlatformWindow* dialog, ShowCommand command);
void bringToFront(PlatformWindow* dialog);
void screenSize(int32_t* width, int32_t* height);

// owner is null or alive; text and caption are never null.
MessageBoxAnswer messageBox(PlatformWindow* owner, const char* text, const char* caption,
                            MessageBoxButtons buttons, MessageBoxIcon icon);
// capacity >= 1, title and startAt never null; buffer is cleared when it
// gives false.
bool browseForFolder(PlatformWindow* owner, const char* title, const char* startAt, char* buffer,
                     int32_t capacity);
// The path being dragged while the dialog's procedure handles DropPath, as
// copyText copies it; -1 at any other time. dialog is alive.
int32_t droppedPath(PlatformWindow* dialog, char* buffer, int32_t capacity);

}  // namespace windowbackend
