// The window layer: the small stand-in for the window system that the shell
// uses. One contract, backends chosen at link time: the console backend
// (window/console/, the command-line converter and most tests), the
// Qt backend (window/qt/, the window program on Linux) and the Win32
// backend (window/win32/, the window program on Windows).
//
// Threads. The thread that calls windowLayerInitialize is the user-interface
// thread; it creates and destroys the dialog and runs the message loop. Any
// thread may call the item operations and message boxes:
// - on the user-interface thread they act at once (a message box runs a nested
//   loop that keeps serving calls from other threads);
// - from another thread a call is handed to the user-interface thread and
//   returns only after that thread has applied it (a message box: after the
//   user answered it);
// - once the dialog is destroyed, or the user-interface thread no longer serves
//   its loop (the loop has returned, or it never ran), every call from another
//   thread fails at once and never waits. Both conditions gate every call, when
//   it is handed over and again when it would be applied.
// The rules every backend follows (window/window_core.cpp holds them):
// - windowCreateDialog and windowDestroy act on the user-interface thread
//   only; from another thread they do nothing. windowLayerShutdown destroys
//   the dialogs still alive (each gets Destroy).
// - A quit posted while no message loop runs is kept: the next loop ends at
//   once with its code. windowLayerInitialize and windowLayerShutdown drop it.
//   A quit also ends the message boxes open inside the loop (they answer
//   Failed). One message loop at a time: a nested one returns -1 at once.
// - Refused (false, nothing changes): a progress range with maximum < minimum
//   (an equal pair is an empty bar at its minimum); a windowMove with a
//   negative width or height, or one smaller than the window's own frame.
// - Texts: buttons, edits and labels have one. A list reads as its selected
//   row's text ("" when none) and a progress bar as ""; setting either is
//   refused. Setting an edit's text notifies as typing does.
// - windowBrowseForFolder clears the whole buffer when it gives false.
#pragma once

#include <cstdint>

#include "platform/path_limits.h"

struct PlatformWindow;
typedef PlatformWindow* WindowHandle;

enum class ControlKind : uint8_t {
    PushButton,
    DefaultPushButton,
    Edit,
    Label,
    ProgressBar,
    DropDownList,
};

enum ControlStyle : uint32_t {
    StyleNone = 0,
    StyleTabStop = 1u << 0,
    StyleBorder = 1u << 1,
    StyleAutoHorizontalScroll = 1u << 2,
    StyleVerticalScroll = 1u << 3,
    StyleGroup = 1u << 4,
    StyleRightAligned = 1u << 5,
};

// Positions and sizes in dialog units.
struct ControlTemplate {
    int32_t id;  // ControlIdNone for labels
    ControlKind kind;
    const char* text;
    int16_t x, y, width, height;
    uint32_t styles;
};

constexpr int32_t ControlIdNone = -1;

struct DialogTemplate {
    int32_t resourceId;
    const char* title;
    const char* fontName;
    int32_t fontPointSize;
    int16_t width, height;            // dialog units
    const ControlTemplate* controls;  // resource order = tab order
    int32_t controlCount;
    int32_t iconResourceId;
};

enum class DialogMessage : uint32_t {
    Initialize,  // sent inside windowCreateDialog; answer 1 to focus the first tab stop
    Command,     // param = id | (notification code << 16)
    Close,       // the close box or the system's close keys
    Destroy,     // the dialog is being destroyed
    // A file or folder dragged over the dialog, or dropped on it: param = the
    // id of the control under the pointer (ControlIdNone elsewhere) | (DropPhase
    // << 16); windowGetDroppedPath gives the path meanwhile. Answer 1 to take
    // it; a hover must change nothing.
    DropPath,
};

enum DropPhase : uint16_t { DropHovering = 0, DropReleased = 1 };

// Notification codes carried by a Command.
constexpr uint16_t NotifyClicked = 0;              // button click; Enter on the default button
constexpr uint16_t NotifyEditChanged = 0x0300;     // edit text changed (by the user or the program)
constexpr uint16_t NotifyListSelChanged = 0x0001;  // the user chose a list row

inline uint32_t commandParam(int32_t id, uint16_t code) {
    return (static_cast<uint32_t>(code) << 16) | (static_cast<uint32_t>(id) & 0xFFFFu);
}
inline int32_t commandId(uint32_t param) {
    return static_cast<int32_t>(param & 0xFFFFu);
}
inline uint16_t commandCode(uint32_t param) {
    return static_cast<uint16_t>(param >> 16);
}

typedef int32_t (*DialogProcedure)(WindowHandle dialog, DialogMessage message, uint32_t param);

enum class MessageBoxButtons : uint8_t { Ok, YesNo };
enum class MessageBoxIcon : uint8_t { None, Warning, Information, Error, Question };
enum class MessageBoxAnswer : int32_t { Failed = 0, Ok = 1, Yes = 6, No = 7 };

enum class ShowCommand : int32_t { Hide = 0, Normal = 1, Show = 5, Restore = 9 };

struct WindowRect {
    int32_t left, top, right, bottom;
};

// Set-up of the layer on the user-interface thread; argc/argv may be null.
bool windowLayerInitialize(int* argc, char** argv);
void windowLayerShutdown();

// Creates the dialog (not yet visible) and sends it Initialize before
// returning. Null on failure. User-interface thread only.
WindowHandle windowCreateDialog(const DialogTemplate* dialogTemplate, DialogProcedure procedure);
// Sends Destroy, then removes the dialog; afterwards every call on it fails.
// User-interface thread only.
void windowDestroy(WindowHandle dialog);
bool windowIsAlive(WindowHandle dialog);

bool windowSetTitle(WindowHandle dialog, const char* title);
bool windowSetItemText(WindowHandle dialog, int32_t id, const char* text);
// Copies at most capacity - 1 bytes and a terminator; the text's length, or -1.
int32_t windowGetItemText(WindowHandle dialog, int32_t id, char* buffer, int32_t capacity);
bool windowEnableItem(WindowHandle dialog, int32_t id, bool enable);
bool windowIsItemEnabled(WindowHandle dialog, int32_t id);

bool windowSetProgressRange(WindowHandle dialog, int32_t id, int32_t minimum, int32_t maximum);
bool windowSetProgressPosition(WindowHandle dialog, int32_t id, int32_t position);
int32_t windowGetProgressPosition(WindowHandle dialog, int32_t id);  // -1 on failure

// Index of the new row, or -1.
int32_t windowListAddString(WindowHandle dialog, int32_t id, const char* text);
// Selects the first row whose text equals text; its index, or -1.
int32_t windowListSelectString(WindowHandle dialog, int32_t id, const char* text);
int32_t windowListGetSelection(WindowHandle dialog, int32_t id);  // -1 when none

// owner may be null (no owner window). Failed when the box could not be shown.
MessageBoxAnswer windowMessageBox(WindowHandle owner, const char* text, const char* caption,
                                  MessageBoxButtons buttons, MessageBoxIcon icon);

// The folder browser, opened at startAt or its nearest existing folder (the
// home folder when there is none). true with a path (no trailing separator
// added) in buffer; false when cancelled or when the choice is no file-system
// folder.
bool windowBrowseForFolder(WindowHandle owner, const char* title, const char* startAt, char* buffer,
                           int32_t capacity);

// While the procedure handles DropPath: the dragged path, as
// windowGetItemText copies; -1 at any other time.
int32_t windowGetDroppedPath(WindowHandle dialog, char* buffer, int32_t capacity);

bool windowGetRect(WindowHandle dialog, WindowRect* rect);  // screen pixels
bool windowMove(WindowHandle dialog, int32_t x, int32_t y, int32_t width, int32_t height);
bool windowShow(WindowHandle dialog, ShowCommand command);
bool windowBringToFront(WindowHandle dialog);
int32_t windowScreenWidth();  // primary screen, pixels
int32_t windowScreenHeight();

// Any thread. Ends the message loop with code (see the rules above).
void windowPostQuit(int32_t code);
// Runs the loop on the user-interface thread until a quit; returns its code.
int32_t windowRunMessageLoop();
