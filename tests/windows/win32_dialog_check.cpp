// Checks of the Win32 window layer under Wine, on a display: the dialog
// resource against the control table of app/dialog_resource.cpp (class, id,
// styles, text, and the place in dialog units of every control, in resource
// order), the thread contract of the real backend (calls from another
// thread served in the loop and in a message box's loop, and failing at once
// once the dialog is gone), and files and folders dropped on the main
// dialog as the shell drops them. Prints every failed check; exit status 0
// when all passed. Run by tests/windows/gui-wine.sh, which also runs it as
// "win32_dialog_check.exe --minimize": the running window program's dialog
// is minimised as its minimise box would do it (no window manager runs to
// do that from outside); 0 once it is minimised.
// clang-format off
#include <windows.h>  // first: the other system headers build on it
// clang-format on

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "app/shell_state.h"
#include "app/status_services.h"
#include "platform/single_instance.h"
#include "window/window_core.h"
#include "window/window_watch.h"
#include "window/win32/win32_layer_state.h"

namespace {

int failures = 0;

void expect(bool condition, const std::string& what) {
    if (condition) return;
    failures += 1;
    std::printf("FAIL: %s\n", what.c_str());
}

// Window class names compare without case.
bool sameClass(const std::string& name, const char* expected) {
    return CompareStringOrdinal(win32layer::wideOf(name.c_str()).c_str(), -1,
                                win32layer::wideOf(expected).c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return win32layer::utf8Of(name, -1);
}

const char* expectedClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            return "Button";
        case ControlKind::Edit:
            return "Edit";
        case ControlKind::Label:
            return "Static";
        case ControlKind::ProgressBar:
            return "msctls_progress32";
        case ControlKind::DropDownList:
            return "ComboBox";
    }
    return "";
}

std::string rectText(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
           std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
}

// The template's styles as the resource must give them.
void checkStyles(DWORD style, DWORD extended, const ControlTemplate& entry,
                 const std::string& name) {
    auto has = [&entry](uint32_t flag) { return (entry.styles & flag) != 0; };
    expect(((style & WS_TABSTOP) != 0) == has(StyleTabStop), name + ": tab stop");
    expect(((style & WS_GROUP) != 0) == has(StyleGroup), name + ": group");
    expect(((style & WS_VSCROLL) != 0) == has(StyleVerticalScroll), name + ": vertical scroll");
    expect(((style & WS_BORDER) != 0) == has(StyleBorder), name + ": border");
    expect((style & WS_VISIBLE) != 0, name + ": visible");
    if (entry.kind == ControlKind::Edit) {
        expect(((style & ES_AUTOHSCROLL) != 0) == has(StyleAutoHorizontalScroll),
               name + ": horizontal auto-scroll");
    }
    if (entry.kind == ControlKind::Label) {
        const bool right = (style & SS_TYPEMASK) == SS_RIGHT || (extended & WS_EX_RIGHT) != 0;
        expect(right == has(StyleRightAligned), name + ": right-aligned");
    }
    if (entry.kind == ControlKind::DefaultPushButton || entry.kind == ControlKind::PushButton) {
        const bool isDefault = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        expect(isDefault == (entry.kind == ControlKind::DefaultPushButton), name + ": default");
    }
    if (entry.kind == ControlKind::DropDownList) {
        expect((style & 3) == CBS_DROPDOWNLIST, name + ": drop-down list without edit field");
    }
}

// Reads a dialog template resource (DLGTEMPLATEEX and its items).
class TemplateReader {
public:
    explicit TemplateReader(const uint8_t* data) : base_(data), at_(data) {}
    uint16_t word() {
        uint16_t value;
        std::memcpy(&value, at_, 2);
        at_ += 2;
        return value;
    }
    uint32_t dword() {
        const uint32_t low = word();
        return low | (static_cast<uint32_t>(word()) << 16);
    }
    uint8_t byte() { return *at_++; }
    std::string text() {
        std::wstring wide;
        for (uint16_t unit = word(); unit != 0; unit = word()) wide += static_cast<wchar_t>(unit);
        return win32layer::utf8Of(wide.c_str(), static_cast<int32_t>(wide.size()));
    }
    // A name or a number: the number as "#n", nothing as "".
    std::string nameOrNumber() {
        const uint16_t first = word();
        if (first == 0) return std::string();
        if (first == 0xFFFF) {
            // Appended rather than "#" + text: GCC 12 at -O3 misreads that
            // insert as an overlapping copy (-Wrestrict).
            std::string number("#");
            number.append(std::to_string(word()));
            return number;
        }
        at_ -= 2;
        return text();
    }
    void alignDword() {
        while ((at_ - base_) % 4 != 0) at_ += 1;
    }
    void skip(size_t bytes) { at_ += bytes; }

private:
    const uint8_t* base_;
    const uint8_t* at_;
};

// The predefined control classes' numbers in a dialog template.
std::string classOfNumber(const std::string& number) {
    if (number == "#128") return "Button";
    if (number == "#129") return "Edit";
    if (number == "#130") return "Static";
    if (number == "#133") return "ComboBox";
    return number;
}

// The resource itself, in dialog units, against the control table.
void checkTemplateResource() {
    const DialogTemplate& table = mainDialogTemplate;
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(table.resourceId), RT_DIALOG);
    const HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        expect(false, "dialog resource " + std::to_string(table.resourceId));
        return;
    }
    TemplateReader reader(static_cast<const uint8_t*>(data));
    const uint16_t version = reader.word();
    expect(version == 1 && reader.word() == 0xFFFF, "an extended dialog template");
    reader.dword();  // help id
    reader.dword();  // extended style
    const uint32_t style = reader.dword();
    constexpr uint32_t Frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    expect((style & WS_VISIBLE) == 0, "dialog not visible when created");
    expect((style & Frame) == Frame, "pop-up with caption, close box and modal frame");
    const uint16_t count = reader.word();
    expect(count == table.controlCount, "the resource has " + std::to_string(count) +
                                            " controls, the table " +
                                            std::to_string(table.controlCount));
    int16_t place[4];
    for (int16_t& value : place) value = static_cast<int16_t>(reader.word());
    expect(place[0] == 0 && place[1] == 0 && place[2] == table.width && place[3] == table.height,
           "dialog size");
    expect(reader.nameOrNumber().empty(), "no menu");
    expect(sameClass(reader.nameOrNumber(), InstanceWindowClassName), "dialog class");
    expect(reader.text() == table.title, "caption");
    expect((style & DS_SETFONT) != 0, "dialog font");
    expect(reader.word() == table.fontPointSize, "font size");
    const uint16_t weight = reader.word();
    const uint8_t italic = reader.byte();
    expect(weight == 0 && italic == 0, "normal weight, not italic");
    expect(reader.byte() == SHIFTJIS_CHARSET, "font charset");
    expect(reader.text() == table.fontName, "font face");

    for (int32_t i = 0; i < std::min<int32_t>(count, table.controlCount); ++i) {
        const ControlTemplate& entry = table.controls[i];
        const std::string name =
            "resource control " + std::to_string(i) + " (id " + std::to_string(entry.id) + ")";
        reader.alignDword();
        reader.dword();  // help id
        const uint32_t extended = reader.dword();
        const uint32_t itemStyle = reader.dword();
        int16_t item[4];
        for (int16_t& value : item) value = static_cast<int16_t>(reader.word());
        const auto id = static_cast<int32_t>(reader.dword());
        const std::string itemClass = reader.nameOrNumber();
        const std::string text = reader.nameOrNumber();
        reader.skip(reader.word());
        expect(id == entry.id, name + ": id " + std::to_string(id));
        expect(item[0] == entry.x && item[1] == entry.y && item[2] == entry.width &&
                   item[3] == entry.height,
               name + ": place");
        expect(sameClass(classOfNumber(itemClass), expectedClass(entry.kind)),
               name + ": class " + itemClass);
        expect(text == entry.text, name + ": text");
        checkStyles(itemStyle, extended, entry, name);
    }
}

// The dialog made from it: every control there, of its class, where the
// table places it (each of x, y, width and height converted to pixels).
void checkCreatedDialog(WindowHandle dialog) {
    const HWND window = dialog->native->window;
    const DialogTemplate& table = mainDialogTemplate;
    expect(sameClass(className(window), InstanceWindowClassName),
           "dialog class " + className(window));
    expect(FindWindowW(win32layer::wideOf(InstanceWindowClassName).c_str(), nullptr) == window,
           "FindWindow finds the dialog by its class");
    RECT size{0, 0, table.width, table.height};
    MapDialogRect(window, &size);
    RECT client{};
    GetClientRect(window, &client);
    expect(client.right == size.right && client.bottom == size.bottom,
           "dialog size " + rectText(client) + ", table " + rectText(size));
    expect(GetMenu(window) == nullptr, "dialog without menu");

    int32_t index = 0;
    for (HWND control = GetWindow(window, GW_CHILD);
         control != nullptr && index < table.controlCount;
         control = GetWindow(control, GW_HWNDNEXT), ++index) {
        const ControlTemplate& entry = table.controls[index];
        const std::string name =
            "control " + std::to_string(index) + " (id " + std::to_string(entry.id) + ")";
        expect(static_cast<int16_t>(GetDlgCtrlID(control)) == entry.id, name + ": id");
        expect(sameClass(className(control), expectedClass(entry.kind)),
               name + ": class " + className(control));
        RECT mapped{entry.x, entry.y, entry.width, entry.height};
        MapDialogRect(window, &mapped);
        RECT actual{};
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
        // A list's window is its closed field; the table's height includes
        // the opened list, which the resource check compares.
        const bool heightKnown = entry.kind != ControlKind::DropDownList;
        const RECT expected{mapped.left, mapped.top, mapped.left + mapped.right,
                            heightKnown ? mapped.top + mapped.bottom : actual.bottom};
        expect(EqualRect(&actual, &expected) != FALSE,
               name + ": place " + rectText(actual) + ", table " + rectText(expected));
    }
    expect(index == table.controlCount, "the dialog has " + std::to_string(index) +
                                            " controls, the table " +
                                            std::to_string(table.controlCount));
}

std::atomic<int32_t> closeRequests{0};
std::atomic<int32_t> destroyMessages{0};
std::atomic<int32_t> watchCalls{0};

int32_t procedure(WindowHandle dialog, DialogMessage message, uint32_t) {
    switch (message) {
        case DialogMessage::Initialize:
            return 1;
        case DialogMessage::Close:
            closeRequests += 1;
            windowDestroy(dialog);
            return 0;
        case DialogMessage::Destroy:
            destroyMessages += 1;
            return 0;
        case DialogMessage::Command:
        case DialogMessage::DropPath:
            return 0;
    }
    return 0;
}

MessageBoxAnswer answerYes(const windowcore::MessageBoxShown& box) {
    return std::strcmp(box.caption, "確認") == 0 ? MessageBoxAnswer::Yes : MessageBoxAnswer::Failed;
}

void countWatch(void* pipe) {
    watchCalls += 1;
    char byte = 0;
    _read(*static_cast<int*>(pipe), &byte, 1);
}

// From another thread, with the message loop running: calls are served,
// also while a message box is open; once the dialog is gone they fail at
// once. Then the quit ends the loop with its code.
void otherThread(WindowHandle dialog, int writeEnd) {
    const char* folder = "Z:\\tmp\\音声\\";
    expect(windowSetItemText(dialog, SourceFolderEdit, folder), "set text from another thread");
    char text[300] = {};
    expect(windowGetItemText(dialog, SourceFolderEdit, text, sizeof(text)) ==
                   static_cast<int32_t>(std::strlen(folder)) &&
               std::strcmp(text, folder) == 0,
           "UTF-8 text round trip");
    // "Z:\tmp\音" fits 11 bytes, "声" would not: cut before the whole sequence.
    expect(windowGetItemText(dialog, SourceFolderEdit, text, 13) == 10,
           "text cut before a sequence");
    expect(windowListAddString(dialog, BitRateList, "abc") == 0 &&
               windowListAddString(dialog, BitRateList, "ABC") == 1,
           "list rows");
    expect(windowListSelectString(dialog, BitRateList, "ABC") == 1 &&
               windowListGetSelection(dialog, BitRateList) == 1,
           "list selection matches case exactly");
    expect(windowListSelectString(dialog, BitRateList, "AB") == -1, "no prefix match");
    expect(windowSetProgressRange(dialog, ProgressBar, 0, 3) &&
               windowSetProgressPosition(dialog, ProgressBar, 2) &&
               windowGetProgressPosition(dialog, ProgressBar) == 2,
           "progress bar");
    expect(
        windowEnableItem(dialog, StartButton, false) && !windowIsItemEnabled(dialog, StartButton),
        "disable");
    windowcore::setMessageBoxHook(answerYes);
    expect(windowMessageBox(dialog, "上書きしますか？", "確認", MessageBoxButtons::YesNo,
                            MessageBoxIcon::Warning) == MessageBoxAnswer::Yes,
           "message box answered through the test hook");
    windowcore::setMessageBoxHook(nullptr);
    expect(_write(writeEnd, "x", 1) == 1, "pipe write");
    // The loop polls the pipe; a few seconds stand for never.
    for (int waited = 0; watchCalls == 0 && waited < 5000; ++waited) Sleep(1);

    // The close box, as the user's click would send it.
    PostMessageW(dialog->native->window, WM_CLOSE, 0, 0);
    while (windowIsAlive(dialog)) Sleep(1);
    expect(!windowSetItemText(dialog, SourceFolderEdit, "x"), "no call once the dialog is gone");
    expect(windowMessageBox(dialog, "x", "x", MessageBoxButtons::Ok, MessageBoxIcon::None) ==
               MessageBoxAnswer::Failed,
           "no message box once the dialog is gone");
    windowPostQuit(7);
}

// A drop handle as the shell hands it over: a DROPFILES header, then the
// paths as a wide list ending in an empty one, in movable global memory;
// at is in the dialog's client pixels. The receiver frees it (DragFinish).
HDROP makeDrop(POINT at, const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const std::wstring& path : paths) units += path.size() + 1;
    const HGLOBAL memory =
        GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + units * sizeof(wchar_t));
    if (memory == nullptr) return nullptr;
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    if (header == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    header->pFiles = sizeof(DROPFILES);
    header->pt = at;
    header->fNC = FALSE;
    header->fWide = TRUE;
    auto* list = reinterpret_cast<wchar_t*>(reinterpret_cast<uint8_t*>(header) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        std::memcpy(list, path.c_str(), path.size() * sizeof(wchar_t));
        list += path.size() + 1;  // the zeroed memory holds the terminators
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// The middle of a control in the dialog's client pixels; a point on the
// dialog itself, outside every control, for ControlIdNone.
POINT dropPoint(HWND dialog, int32_t id) {
    if (id == ControlIdNone) {
        POINT corner{2, 2};
        expect(ChildWindowFromPoint(dialog, corner) == dialog,
               "the dialog's corner holds no control");
        return corner;
    }
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::string itemText(WindowHandle dialog, int32_t id) {
    char text[PathCapacity * 2] = {};
    return windowGetItemText(dialog, id, text, sizeof(text)) < 0 ? std::string("(no text)")
                                                                 : std::string(text);
}

// A scratch folder in the temporary folder, holding a folder with a Japanese
// name and a file; removed again at the end.
struct DropScratch {
    std::wstring base;  // ends in a separator
    bool made = false;
    DropScratch() {
        wchar_t temporary[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
        if (length == 0 || length > MAX_PATH) return;
        base =
            std::wstring(temporary) + L"vud-drop-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        if (!CreateDirectoryW(base.c_str(), nullptr)) return;
        if (!CreateDirectoryW(folder().c_str(), nullptr)) return;
        const HANDLE created = CreateFileW(file().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        made = WriteFile(created, "x", 1, &written, nullptr) && written == 1;
        made = CloseHandle(created) && made;
    }
    ~DropScratch() {
        if (base.empty()) return;
        DeleteFileW(file().c_str());
        RemoveDirectoryW(folder().c_str());
        RemoveDirectoryW(base.c_str());
    }
    DropScratch(const DropScratch&) = delete;
    DropScratch& operator=(const DropScratch&) = delete;
    std::wstring folder() const { return base + L"音声"; }
    std::wstring file() const { return base + L"old.pac"; }
};

// What the main dialog's fields hold; compared with the shared values the
// start request reads.
struct Fields {
    std::string source;
    std::string output;
};

// Drops on the main dialog, over its own procedure as the program runs it:
// a folder dropped anywhere but on the output field becomes the source
// folder (with its closing separator), on the output field it gets the
// archive's name, a file there is taken as it is; a file as the source,
// several paths, a path that is no valid UTF-16 and anything during a run
// are refused, changing nothing.
void checkDrops() {
    const DropScratch scratch;
    expect(scratch.made, "the scratch folder for the drops");
    if (!scratch.made) return;
    mainDialog = windowCreateDialog(&mainDialogTemplate, mainDialogProc);
    expect(mainDialog != nullptr, "the main dialog");
    if (mainDialog == nullptr) return;
    windowShow(mainDialog, ShowCommand::Show);
    const HWND window = mainDialog->native->window;

    const std::string folder = win32layer::utf8Of(scratch.folder().c_str(), -1) + "\\";
    const std::string file = win32layer::utf8Of(scratch.file().c_str(), -1);
    const std::wstring root = scratch.base.substr(0, 3);  // "C:\": no separator added
    const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    const Fields kept{"kept", "kept.pac"};
    struct DropCase {
        const char* what;
        int32_t target;
        std::vector<std::wstring> paths;
        bool running;
        Fields expected;
    };
    const DropCase cases[] = {
        {"folder on the source field",
         SourceFolderEdit,
         {scratch.folder()},
         false,
         {folder, kept.output}},
        {"folder on the progress bar",
         ProgressBar,
         {scratch.folder()},
         false,
         {folder, kept.output}},
        {"folder on no control", ControlIdNone, {scratch.folder()}, false, {folder, kept.output}},
        {"drive root on the source field",
         SourceFolderEdit,
         {root},
         false,
         {win32layer::utf8Of(root.c_str(), -1), kept.output}},
        {"folder on the output field",
         OutputPathEdit,
         {scratch.folder()},
         false,
         {kept.source, folder + "vud.pac"}},
        {"file on the output field", OutputPathEdit, {scratch.file()}, false, {kept.source, file}},
        {"file on the source field", SourceFolderEdit, {scratch.file()}, false, kept},
        {"file on no control", ControlIdNone, {scratch.file()}, false, kept},
        {"two folders", SourceFolderEdit, {scratch.folder(), scratch.folder()}, false, kept},
        {"no valid UTF-16", OutputPathEdit, {loneSurrogate}, false, kept},
        {"folder on the source field during a run",
         SourceFolderEdit,
         {scratch.folder()},
         true,
         kept},
        {"folder on the progress bar during a run", ProgressBar, {scratch.folder()}, true, kept},
        {"file on the output field during a run", OutputPathEdit, {scratch.file()}, true, kept},
    };
    for (const DropCase& drop : cases) {
        const std::string name = std::string("drop: ") + drop.what;
        setInputsEnabled(mainDialog, true);
        windowSetItemText(mainDialog, SourceFolderEdit, kept.source.c_str());
        windowSetItemText(mainDialog, OutputPathEdit, kept.output.c_str());
        setInputsEnabled(mainDialog, !drop.running);
        const HDROP handle = makeDrop(dropPoint(window, drop.target), drop.paths);
        expect(handle != nullptr, name + ": drop handle");
        if (handle == nullptr) continue;
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(handle), 0);
        const Fields shown{itemText(mainDialog, SourceFolderEdit),
                           itemText(mainDialog, OutputPathEdit)};
        expect(shown.source == drop.expected.source,
               name + ": source field \"" + shown.source + "\"");
        expect(shown.output == drop.expected.output,
               name + ": output field \"" + shown.output + "\"");
        expect(shown.source == sourceFolder && shown.output == outputPath,
               name + ": the fields and the start request's paths agree");
    }
    windowDestroy(mainDialog);
    mainDialog = nullptr;
}

WindowHandle loopDialog = nullptr;
int loopWriteEnd = -1;
std::thread other;

void CALLBACK startOtherThread(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    other = std::thread(otherThread, loopDialog, loopWriteEnd);
}

// The running program's dialog, found as a second start finds it (by its
// class), gets the minimise box's command.
int minimizeRunningCopy() {
    const HWND window = FindWindowW(win32layer::wideOf(InstanceWindowClassName).c_str(), nullptr);
    if (window == nullptr) {
        std::printf("no running dialog\n");
        return 1;
    }
    PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    // A few seconds stand for never.
    for (int waited = 0; waited < 500; ++waited) {
        if (IsIconic(window)) return 0;
        Sleep(10);
    }
    std::printf("the dialog was not minimised\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--minimize") == 0) return minimizeRunningCopy();
    if (!windowLayerInitialize(nullptr, nullptr)) {
        std::printf("FAIL: the window layer could not be set up\n");
        return 1;
    }
    WindowHandle dialog = windowCreateDialog(&mainDialogTemplate, procedure);
    if (dialog == nullptr) {
        std::printf("FAIL: dialog %d could not be created\n", mainDialogTemplate.resourceId);
        return 1;
    }
    checkTemplateResource();
    checkCreatedDialog(dialog);
    windowShow(dialog, ShowCommand::Show);

    int pipeEnds[2] = {-1, -1};
    expect(_pipe(pipeEnds, 64, _O_BINARY) == 0, "pipe");
    expect(windowWatchReadable(pipeEnds[0], countWatch, &pipeEnds[0]), "watch a pipe");
    // The other thread starts once the loop serves: a timer's call-back runs
    // inside the loop.
    loopDialog = dialog;
    loopWriteEnd = pipeEnds[1];
    SetTimer(nullptr, 0, 0, startOtherThread);
    const int32_t code = windowRunMessageLoop();
    other.join();
    windowUnwatch(pipeEnds[0]);
    expect(code == 7, "the loop ends with the quit's code, not " + std::to_string(code));
    expect(closeRequests == 1 && destroyMessages == 1, "one Close and one Destroy");
    expect(watchCalls >= 1, "the watched pipe was reported readable");
    expect(!windowSetItemText(dialog, SourceFolderEdit, "x"), "no call after the loop");
    checkDrops();
    // The main dialog's end posted a quit with no loop to take it: the
    // shutdown drops it.
    windowLayerShutdown();
    // The script checks that the locale gave the code page it meant.
    std::printf("code page %u\n", GetACP());
    std::printf("%s: %d failed\n", failures == 0 ? "ok" : "FAIL", failures);
    return failures == 0 ? 0 : 1;
}
