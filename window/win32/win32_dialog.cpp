// The dialog: created from the program's dialog resource, its controls found
// by id, its notifications turned into the layer's messages, and the item
// operations.
// clang-format off
#include <windows.h>  // first: the other system headers build on it
// clang-format on

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <new>
#include <span>
#include <vector>

#include "window/win32/win32_layer_state.h"

namespace win32layer {
namespace {

// User-interface thread only.
std::vector<HWND> liveDialogs;
// While the layer sets an edit's text: the core notifies that change itself.
bool settingText = false;
// The path of the drop the procedure is asked about; empty otherwise.
std::string droppedPathText;

std::span<WindowControl> controlsOf(PlatformWindow* dialog) {
    return {dialog->controls.get(), static_cast<size_t>(dialog->controlCount)};
}

PlatformWindow* dialogOf(HWND window) {
    return reinterpret_cast<PlatformWindow*>(GetWindowLongPtrW(window, DWLP_USER));
}

HWND windowOf(const WindowControl& control) {
    return control.native->window;
}

// Only the notifications the layer names reach the procedure: a click
// (also Enter and Escape, which the dialog manager turns into clicks of the
// default button and of the cancel command), a changed edit, a list choice.
void forwardCommand(PlatformWindow* dialog, WPARAM wParam, LPARAM lParam) {
    const auto id = static_cast<int32_t>(LOWORD(wParam));
    const auto code = static_cast<uint16_t>(HIWORD(wParam));
    const bool fromControl = lParam != 0;
    bool forwarded = false;
    switch (code) {
        case BN_CLICKED:
            forwarded = true;
            break;
        case EN_CHANGE:
            forwarded = fromControl && !settingText;
            break;
        case CBN_SELCHANGE:
            forwarded = fromControl;
            break;
        default:
            break;
    }
    if (forwarded) windowcore::send(dialog, DialogMessage::Command, commandParam(id, code));
}

// The id of the control under point (client pixels), ControlIdNone when
// none of the template's controls is there.
int32_t controlIdAt(PlatformWindow* dialog, HWND window, POINT point) {
    const HWND child = ChildWindowFromPoint(window, point);
    if (child == nullptr || child == window) return ControlIdNone;
    for (const WindowControl& control : controlsOf(dialog)) {
        if (control.native != nullptr && windowOf(control) == child) return control.id;
    }
    return ControlIdNone;
}

// One file or folder is offered to the procedure; a drop of several is
// refused, as a drag of several is on the other platforms.
void offerDrop(PlatformWindow* dialog, HWND window, HDROP drop) {
    POINT point{};
    DragQueryPoint(drop, &point);
    if (DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0) == 1) {
        const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
        std::vector<wchar_t> path(static_cast<size_t>(length) + 1);
        if (DragQueryFileW(drop, 0, path.data(), length + 1) == length) {
            droppedPathText = utf8Of(path.data(), static_cast<int32_t>(length));
        }
    }
    if (!droppedPathText.empty()) {
        windowcore::send(dialog, DialogMessage::DropPath,
                         commandParam(controlIdAt(dialog, window, point), DropReleased));
    }
    droppedPathText.clear();
    DragFinish(drop);
}

// The window goes: the layer's own destruction (windowDestroy, which sends
// Destroy itself) or another's, which is made one.
void windowGoing(PlatformWindow* dialog) {
    dialog->native->windowGoing = true;
    if (!dialog->destroying) windowDestroy(dialog);
}

void windowGone(PlatformWindow* dialog, HWND window) {
    std::erase(liveDialogs, window);
    SetWindowLongPtrW(window, DWLP_USER, 0);
    dialog->native->window = nullptr;
    for (WindowControl& control : controlsOf(dialog)) {
        if (control.native != nullptr) control.native->window = nullptr;
    }
}

// An empty range shows an empty bar.
void showProgressState(const WindowControl& bar, bool rangeChanged) {
    const bool empty = bar.rangeMaximum <= bar.rangeMinimum;
    if (rangeChanged) {
        SendMessageW(windowOf(bar), PBM_SETRANGE32,
                     static_cast<WPARAM>(empty ? 0 : bar.rangeMinimum),
                     static_cast<LPARAM>(empty ? 1 : bar.rangeMaximum));
    }
    SendMessageW(windowOf(bar), PBM_SETPOS, static_cast<WPARAM>(empty ? 0 : bar.position), 0);
}

// A label whose text is wider than its box grows, so the text is never cut
// off (the dialog's font differs between systems). A right-aligned one keeps
// its right edge, so a changing text (a percentage) never moves sideways: it
// grows left, up to the dialog's edge, and only then right.
void fitLabel(const WindowControl& control) {
    const HWND label = windowOf(control);
    const std::wstring text = wideOf(windowText(label).c_str());
    RECT rect = control.native->templateRect;
    SIZE needed{};
    if (const HDC context = GetDC(label)) {
        const HGDIOBJ previous =
            SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &needed);
        SelectObject(context, previous);
        ReleaseDC(label, context);
    }
    if (needed.cx > rect.right - rect.left) {
        if (control.styles & StyleRightAligned) rect.left = std::max(0L, rect.right - needed.cx);
        if (rect.right - rect.left < needed.cx) rect.right = rect.left + needed.cx;
    }
    MoveWindow(label, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
    // The label may have shrunk back or grown under a neighbour: the whole
    // dialog repaints, labels and neighbours alike.
    RedrawWindow(GetParent(label), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

std::wstring listRowText(HWND list, WPARAM row) {
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, row, 0);
    if (length < 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(list, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

}  // namespace

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The core sends Initialize once creation returns; the focus is set
        // by initialized().
        auto* dialog = reinterpret_cast<PlatformWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->native->window = window;
        liveDialogs.push_back(window);
        return FALSE;
    }
    PlatformWindow* dialog = dialogOf(window);
    if (dialog == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            forwardCommand(dialog, wParam, lParam);
            return TRUE;
        case WM_CLOSE:
            windowcore::send(dialog, DialogMessage::Close, 0);
            return TRUE;
        case WM_DROPFILES:
            offerDrop(dialog, window, reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case WM_DESTROY:
            windowGoing(dialog);
            return TRUE;
        case WM_NCDESTROY:
            windowGone(dialog, window);
            return TRUE;
        default:
            return FALSE;
    }
}

bool dialogMessage(MSG* message) {
    for (HWND dialog : liveDialogs) {
        if (IsDialogMessageW(dialog, message)) return true;
    }
    return false;
}

}  // namespace win32layer

using namespace win32layer;

namespace windowbackend {

bool create(PlatformWindow* dialog, const DialogTemplate* dialogTemplate) {
    dialog->native = new NativeDialog{nullptr, false, nullptr};
    dialog->native->controls.reset(
        new (std::nothrow) NativeControl[static_cast<size_t>(std::max(dialog->controlCount, 1))]);
    if (!dialog->native->controls) return false;
    const HWND window =
        CreateDialogParamW(programInstance(), MAKEINTRESOURCEW(dialogTemplate->resourceId), nullptr,
                           dialogProcedure, reinterpret_cast<LPARAM>(dialog));
    if (window == nullptr) return false;
    for (int32_t i = 0; i < dialog->controlCount; ++i) {
        WindowControl& control = dialog->controls[i];
        NativeControl& native = dialog->native->controls[i];
        native = NativeControl{nullptr, {}};
        control.native = &native;
        if (control.id == ControlIdNone) continue;
        // The resource must hold every control the template names.
        native.window = GetDlgItem(window, control.id);
        if (native.window == nullptr) return false;
        GetWindowRect(native.window, &native.templateRect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&native.templateRect), 2);
        if (control.kind == ControlKind::ProgressBar) showProgressState(control, true);
        if (control.kind == ControlKind::Label) fitLabel(control);
    }
    DragAcceptFiles(window, TRUE);
    return true;
}

void initialized(PlatformWindow* dialog, bool focusFirst) {
    if (!focusFirst) return;
    const HWND window = dialog->native->window;
    if (const HWND first = GetNextDlgTabItem(window, nullptr, FALSE)) {
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
}

void destroy(PlatformWindow* dialog) {
    NativeDialog* native = dialog->native;
    if (native->window == nullptr || native->windowGoing) return;
    native->windowGoing = true;
    // Owned windows (an open message box, the folder browser) go first.
    DestroyWindow(native->window);
}

void release(PlatformWindow* dialog) {
    NativeDialog* native = dialog->native;
    if (native == nullptr) return;
    if (native->window != nullptr) {
        native->windowGoing = true;
        DestroyWindow(native->window);
    }
    delete native;
    dialog->native = nullptr;
}

void setTitle(PlatformWindow* dialog, const char* title) {
    SetWindowTextW(dialog->native->window, wideOf(title).c_str());
}

void setText(PlatformWindow*, WindowControl& control, const char* text) {
    settingText = true;
    SetWindowTextW(windowOf(control), wideOf(text).c_str());
    settingText = false;
    if (control.kind == ControlKind::Label) fitLabel(control);
}

int32_t text(const WindowControl& control, char* buffer, int32_t capacity) {
    const std::string value = windowText(windowOf(control));
    return windowcore::copyText(buffer, capacity, value.data(), value.size());
}

void enable(WindowControl& control, bool enable) {
    EnableWindow(windowOf(control), enable ? TRUE : FALSE);
}

bool isEnabled(const WindowControl& control) {
    return IsWindowEnabled(windowOf(control)) != FALSE;
}

void progressChanged(PlatformWindow*, WindowControl& bar, bool rangeChanged) {
    showProgressState(bar, rangeChanged);
}

int32_t listAdd(WindowControl& list, const char* text) {
    const LRESULT row = SendMessageW(windowOf(list), CB_ADDSTRING, 0,
                                     reinterpret_cast<LPARAM>(wideOf(text).c_str()));
    return row >= 0 ? static_cast<int32_t>(row) : -1;
}

int32_t listSelect(WindowControl& list, const char* text) {
    const HWND window = windowOf(list);
    const std::wstring wanted = wideOf(text);
    // The list's exact search ignores case; the rows it finds are compared
    // as they are, in row order (the search wraps round at the end).
    LRESULT previous = -1;
    for (;;) {
        const LRESULT row = SendMessageW(window, CB_FINDSTRINGEXACT, static_cast<WPARAM>(previous),
                                         reinterpret_cast<LPARAM>(wanted.c_str()));
        if (row < 0 || row <= previous) return -1;
        if (listRowText(window, static_cast<WPARAM>(row)) == wanted) {
            SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
            return static_cast<int32_t>(row);
        }
        previous = row;
    }
}

int32_t listSelection(const WindowControl& list) {
    const LRESULT row = SendMessageW(windowOf(list), CB_GETCURSEL, 0, 0);
    return row >= 0 ? static_cast<int32_t>(row) : -1;
}

int32_t listSelectionText(const WindowControl& list, char* buffer, int32_t capacity) {
    const LRESULT row = SendMessageW(windowOf(list), CB_GETCURSEL, 0, 0);
    const std::wstring wide =
        row >= 0 ? listRowText(windowOf(list), static_cast<WPARAM>(row)) : std::wstring();
    const std::string value = utf8Of(wide.c_str(), static_cast<int32_t>(wide.size()));
    return windowcore::copyText(buffer, capacity, value.data(), value.size());
}

void getRect(PlatformWindow* dialog, WindowRect* rect) {
    RECT frame{};
    GetWindowRect(dialog->native->window, &frame);
    *rect = {frame.left, frame.top, frame.right, frame.bottom};
}

bool move(PlatformWindow* dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    const HWND window = dialog->native->window;
    RECT frame{};
    RECT client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    // Not smaller than the frame around the client area.
    if (width < (frame.right - frame.left) - client.right ||
        height < (frame.bottom - frame.top) - client.bottom) {
        return false;
    }
    return MoveWindow(window, x, y, width, height, TRUE) != FALSE;
}

void show(PlatformWindow* dialog, ShowCommand command) {
    const HWND window = dialog->native->window;
    int showCommand = SW_SHOW;
    switch (command) {
        case ShowCommand::Hide:
            ShowWindow(window, SW_HIDE);
            return;
        case ShowCommand::Normal:
            showCommand = SW_SHOWNORMAL;
            break;
        case ShowCommand::Show:
            showCommand = SW_SHOW;
            break;
        case ShowCommand::Restore:
            showCommand = SW_RESTORE;
            break;
    }
    ShowWindow(window, showCommand);
    // Painted at once, not when the loop gets to it.
    UpdateWindow(window);
}

void bringToFront(PlatformWindow* dialog) {
    SetForegroundWindow(dialog->native->window);
}

void screenSize(int32_t* width, int32_t* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

int32_t droppedPath(PlatformWindow*, char* buffer, int32_t capacity) {
    if (droppedPathText.empty()) return -1;
    return windowcore::copyText(buffer, capacity, droppedPathText.data(), droppedPathText.size());
}

}  // namespace windowbackend
