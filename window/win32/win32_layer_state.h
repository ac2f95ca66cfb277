// Inside the Win32 backend of the window layer: the native parts of a dialog
// and of its controls, and what the backend's files share.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "window/window_core.h"

struct NativeControl {
    HWND window;        // null for a label without id
    RECT templateRect;  // client pixels, as the resource places it
};

struct NativeDialog {
    HWND window;  // null once the window is gone (WM_NCDESTROY)
    // The window is being destroyed (DestroyWindow runs or ran).
    bool windowGoing;
    std::unique_ptr<NativeControl[]> controls;  // in template order
};

namespace win32layer {

// Posted to the layer's message-only window.
constexpr UINT WakeMessage = WM_APP + 1;
constexpr UINT BoxShownMessage = WM_APP + 2;
constexpr UINT_PTR WatchTimerId = 1;

HINSTANCE programInstance();
// The layer's message-only window: it serves the core's calls, in the
// message loop and in every modal loop, since all of them dispatch posted
// messages.
HWND messageWindow();
// The dialog window procedure (DefDlgProcW's dialog procedure).
INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Lets the live dialogs take their keyboard messages (tab order, Enter).
bool dialogMessage(MSG* message);
// How many quits the layer has posted (PostQuitMessage), so a message box
// can tell that one ended it.
uint32_t quitsPosted();
// The message box whose window is up: announces it (test support).
void announceShownBox(LPARAM record);
void pollWatches();

// UTF-8 from UTF-16 (length in units, or -1 for NUL-terminated); empty when
// the text is not valid UTF-16.
std::string utf8Of(const wchar_t* text, int32_t length);
// UTF-16 from UTF-8; empty (never null) when the text is not valid UTF-8.
std::wstring wideOf(const char* text);
// The window's whole text as UTF-8.
std::string windowText(HWND window);

}  // namespace win32layer
