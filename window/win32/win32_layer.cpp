// The layer's set-up, its message loop, and the wake-up of the core's call
// gate: a message posted to a message-only window of the layer. Every loop
// that runs on the user-interface thread (the message loop, a message box's,
// the folder browser's) dispatches posted messages, so calls from other
// threads are served in all of them.
// clang-format off
#include <windows.h>  // first: the other system headers build on it
// clang-format on

#include <commctrl.h>
#include <objbase.h>

#include "platform/single_instance.h"
#include "window/window_watch.h"
#include "window/win32/win32_layer_state.h"

namespace win32layer {
namespace {

constexpr const wchar_t* MessageWindowClassName = L"VUD Window Layer";

// User-interface thread only, but for messageWindowHandle, which wake()
// reads from any thread under the core's lock (written before start and
// after stop, when no thread wakes).
HWND messageWindowHandle = nullptr;
bool comStarted = false;
bool messageLoopRunning = false;
uint32_t quitCount = 0;

LRESULT CALLBACK messageWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WakeMessage:
            // A quit ends the message loop before any further call is served;
            // the modal loops inside it end too, as the quit message passes
            // through them.
            if (messageLoopRunning && windowcore::quitPending()) {
                quitCount += 1;
                PostQuitMessage(0);
                return 0;
            }
            windowcore::serveCalls();
            return 0;
        case BoxShownMessage:
            announceShownBox(lParam);
            return 0;
        case WM_TIMER:
            if (wParam == WatchTimerId) pollWatches();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool registerDialogClass(HINSTANCE instance) {
    const std::wstring className = wideOf(InstanceWindowClassName);
    WNDCLASSW dialogClass{};
    // Redrawn whole when its width or height changes.
    dialogClass.style = CS_HREDRAW | CS_VREDRAW;
    // A dialog's class: the dialog manager's procedure and its extra bytes.
    dialogClass.lpfnWndProc = DefDlgProcW;
    dialogClass.cbWndExtra = DLGWINDOWEXTRA;
    dialogClass.hInstance = instance;
    dialogClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(133));
    dialogClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    dialogClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    dialogClass.lpszClassName = className.c_str();
    // Already there after a shutdown and a new set-up in the same process.
    return RegisterClassW(&dialogClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool createMessageWindow(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = messageWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = MessageWindowClassName;
    if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    messageWindowHandle = CreateWindowExW(0, MessageWindowClassName, L"", 0, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, instance, nullptr);
    return messageWindowHandle != nullptr;
}

}  // namespace

HINSTANCE programInstance() {
    return GetModuleHandleW(nullptr);
}

HWND messageWindow() {
    return messageWindowHandle;
}

uint32_t quitsPosted() {
    return quitCount;
}

}  // namespace win32layer

using namespace win32layer;

void windowbackend::wake() {
    // Under the core's lock; posting never waits.
    if (messageWindowHandle != nullptr) PostMessageW(messageWindowHandle, WakeMessage, 0, 0);
}

bool windowLayerInitialize(int*, char**) {
    if (windowcore::started()) return windowcore::onUserInterfaceThread();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) return false;
    // The folder browser is a shell object: it needs a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    comStarted = SUCCEEDED(com);
    const HINSTANCE instance = programInstance();
    if (!registerDialogClass(instance) || !createMessageWindow(instance)) {
        if (comStarted) CoUninitialize();
        comStarted = false;
        return false;
    }
    windowcore::start();
    return true;
}

void windowLayerShutdown() {
    if (!windowcore::stop()) return;
    KillTimer(messageWindowHandle, WatchTimerId);
    DestroyWindow(messageWindowHandle);
    messageWindowHandle = nullptr;
    UnregisterClassW(MessageWindowClassName, programInstance());
    UnregisterClassW(wideOf(InstanceWindowClassName).c_str(), programInstance());
    if (comStarted) CoUninitialize();
    comStarted = false;
}

int32_t windowRunMessageLoop() {
    if (!windowcore::beginLoop()) return -1;
    messageLoopRunning = true;
    // A quit posted before the loop ends it at once.
    if (!windowcore::quitPending()) {
        MSG message;
        // 0: the quit message; -1: no message can be fetched any more.
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (dialogMessage(&message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    messageLoopRunning = false;
    return windowcore::endLoop();
}
