// Message boxes, the folder browser. Each runs the system's modal loop,
// which dispatches the layer's posted messages, so calls from other threads
// are served meanwhile; the box ends when its owner is destroyed or a quit
// passes through its loop.
// clang-format off
#include <windows.h>  // first: the other system headers build on it
// clang-format on

#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "window/win32/win32_layer_state.h"

namespace win32layer {
namespace {

// A message box from the call to its end.
struct ShownBox {
    const windowcore::MessageBoxShown* box;
    HWND window;  // once activated
};

// User-interface thread only; the most recently opened last.
std::vector<ShownBox*> shownBoxes;
HHOOK boxHook = nullptr;

// The box's window, once up, is announced from the box's own loop.
LRESULT CALLBACK boxActivated(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && !shownBoxes.empty() && shownBoxes.back()->window == nullptr) {
        ShownBox* shown = shownBoxes.back();
        shown->window = reinterpret_cast<HWND>(wParam);
        PostMessageW(messageWindow(), BoxShownMessage, 0, reinterpret_cast<LPARAM>(shown));
    }
    return CallNextHookEx(boxHook, code, wParam, lParam);
}

UINT boxType(MessageBoxButtons buttons, MessageBoxIcon icon) {
    UINT type = 0;
    switch (buttons) {
        case MessageBoxButtons::Ok:
            type = MB_OK;
            break;
        case MessageBoxButtons::YesNo:
            type = MB_YESNO;
            break;
    }
    switch (icon) {
        case MessageBoxIcon::None:
            break;
        case MessageBoxIcon::Warning:
            type |= MB_ICONWARNING;
            break;
        case MessageBoxIcon::Information:
            type |= MB_ICONINFORMATION;
            break;
        case MessageBoxIcon::Error:
            type |= MB_ICONERROR;
            break;
        case MessageBoxIcon::Question:
            type |= MB_ICONQUESTION;
            break;
    }
    return type;
}

MessageBoxAnswer answerOf(int result) {
    switch (result) {
        case IDOK:
            return MessageBoxAnswer::Ok;
        case IDYES:
            return MessageBoxAnswer::Yes;
        case IDNO:
            return MessageBoxAnswer::No;
        default:
            return MessageBoxAnswer::Failed;
    }
}

// The folder startAt names, else its nearest existing parent; relative
// paths count from the current folder. The user's profile folder when none
// exists.
std::wstring startFolderOf(const char* startAt) {
    std::wstring path = wideOf(startAt);
    if (!path.empty()) {
        const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        std::wstring full(length, L'\0');
        if (length > 0 &&
            GetFullPathNameW(path.c_str(), length, full.data(), nullptr) == length - 1) {
            full.resize(length - 1);
            path = full;
        }
    }
    while (!path.empty()) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return path;
        }
        const size_t cut = path.find_last_of(L"\\/");
        if (cut == std::wstring::npos) break;
        std::wstring parent = path.substr(0, cut);
        // A drive's root keeps its separator: "C:" is the drive's current folder.
        if (!parent.empty() && parent.back() == L':') parent += L'\\';
        if (parent == path) break;
        path = parent;
    }
    wchar_t profile[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile))) return profile;
    return std::wstring();
}

int CALLBACK browserEvent(HWND window, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data != 0) {
        SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

struct ItemList {
    void operator()(ITEMIDLIST* items) const { CoTaskMemFree(items); }
};

}  // namespace

void announceShownBox(LPARAM record) {
    auto* shown = reinterpret_cast<ShownBox*>(record);
    // Only a box still open: the message may come after it ended.
    if (std::find(shownBoxes.begin(), shownBoxes.end(), shown) == shownBoxes.end()) return;
    int button = 0;
    switch (windowcore::announceMessageBox(*shown->box)) {
        case MessageBoxAnswer::Failed:
            return;
        case MessageBoxAnswer::Ok:
            button = IDOK;
            break;
        case MessageBoxAnswer::Yes:
            button = IDYES;
            break;
        case MessageBoxAnswer::No:
            button = IDNO;
            break;
    }
    PostMessageW(shown->window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

}  // namespace win32layer

using namespace win32layer;

MessageBoxAnswer windowbackend::messageBox(PlatformWindow* owner, const char* text,
                                           const char* caption, MessageBoxButtons buttons,
                                           MessageBoxIcon icon) {
    const windowcore::MessageBoxShown box{owner, text, caption, buttons, icon};
    ShownBox shown{&box, nullptr};
    const HWND ownerWindow = owner != nullptr ? owner->native->window : nullptr;
    const uint32_t quits = quitsPosted();
    shownBoxes.push_back(&shown);
    if (shownBoxes.size() == 1) {
        boxHook = SetWindowsHookExW(WH_CBT, boxActivated, nullptr, GetCurrentThreadId());
    }
    windowcore::enterServing();
    const int result = MessageBoxW(ownerWindow, wideOf(text).c_str(), wideOf(caption).c_str(),
                                   boxType(buttons, icon));
    windowcore::leaveServing();
    shownBoxes.pop_back();
    if (shownBoxes.empty() && boxHook != nullptr) {
        UnhookWindowsHookEx(boxHook);
        boxHook = nullptr;
    }
    // Ended from outside: a quit passed through its loop, or its owner went.
    if (quitsPosted() != quits || (owner != nullptr && !windowIsAlive(owner))) {
        return MessageBoxAnswer::Failed;
    }
    return answerOf(result);
}

bool windowbackend::browseForFolder(PlatformWindow* owner, const char* title, const char* startAt,
                                    char* buffer, int32_t capacity) {
    buffer[0] = '\0';
    const std::wstring wideTitle = wideOf(title);
    const std::wstring start = startFolderOf(startAt);
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW browser{};
    browser.hwndOwner = owner != nullptr ? owner->native->window : nullptr;
    browser.pszDisplayName = displayName;
    browser.lpszTitle = wideTitle.c_str();
    browser.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    browser.lpfn = browserEvent;
    browser.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    const uint32_t quits = quitsPosted();
    windowcore::enterServing();
    const std::unique_ptr<ITEMIDLIST, ItemList> chosen(SHBrowseForFolderW(&browser));
    windowcore::leaveServing();
    if (!chosen || quitsPosted() != quits || (owner != nullptr && !windowIsAlive(owner))) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(chosen.get(), path)) return false;
    const std::string folder = utf8Of(path, -1);
    // A path cut short would name another folder.
    if (folder.empty() || folder.size() >= static_cast<size_t>(capacity)) return false;
    windowcore::copyText(buffer, capacity, folder.data(), folder.size());
    return true;
}
