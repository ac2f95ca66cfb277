// The dialog and its controls, held in memory.
#include <algorithm>
#include <cstring>
#include <new>

#include "window/console/console_state.h"

namespace {

// Pixels per dialog unit for a 9-point dialog font: a quarter of an average
// character width across, an eighth of the character height down.
constexpr int32_t PixelsAcrossNumerator = 3, PixelsAcrossDenominator = 2;
constexpr int32_t PixelsDownNumerator = 13, PixelsDownDenominator = 8;
constexpr int32_t ConsoleScreenWidth = 1024, ConsoleScreenHeight = 768;

// start + size (size is not negative), held at the largest coordinate.
int32_t edge(int32_t start, int32_t size) {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{start} + size, INT32_MAX));
}

}  // namespace

namespace windowbackend {

bool create(PlatformWindow* dialog, const DialogTemplate* dialogTemplate) {
    auto* native = new (std::nothrow) NativeDialog{};
    if (native == nullptr) return false;
    dialog->native = native;
    const int32_t count = dialog->controlCount;
    native->controls.reset(new (std::nothrow) NativeControl[count > 0 ? count : 1]());
    if (!native->controls) return false;
    for (int32_t i = 0; i < count; ++i) {
        NativeControl& control = native->controls[i];
        dialog->controls[i].native = &control;
        control.enabled = true;
        windowcore::copyText(control.text, ConsoleTextCapacity, dialogTemplate->controls[i].text);
        control.selection = -1;
        if (dialog->controls[i].kind == ControlKind::DropDownList) {
            control.rows.reset(new (std::nothrow) char[ConsoleListCapacity][PathCapacity]);
            if (!control.rows) return false;
        }
    }
    windowcore::copyText(native->title, ConsoleTextCapacity, dialogTemplate->title);
    native->rect.right = dialogTemplate->width * PixelsAcrossNumerator / PixelsAcrossDenominator;
    native->rect.bottom = dialogTemplate->height * PixelsDownNumerator / PixelsDownDenominator;
    return true;
}

void initialized(PlatformWindow*, bool) {}

void destroy(PlatformWindow* dialog) {
    if (layer.progress.dialog == dialog) finishProgressLine();
}

void release(PlatformWindow* dialog) {
    delete dialog->native;
}

void setTitle(PlatformWindow* dialog, const char* title) {
    windowcore::copyText(dialog->native->title, ConsoleTextCapacity, title);
}

void setText(PlatformWindow* dialog, WindowControl& control, const char* text) {
    windowcore::copyText(control.native->text, ConsoleTextCapacity, text);
    // The label may be the percentage shown on the progress line.
    markProgressDirty(dialog);
}

int32_t text(const WindowControl& control, char* buffer, int32_t capacity) {
    return windowcore::copyText(buffer, capacity, control.native->text);
}

void enable(WindowControl& control, bool enable) {
    control.native->enabled = enable;
}

bool isEnabled(const WindowControl& control) {
    return control.native->enabled;
}

int32_t listAdd(WindowControl& list, const char* text) {
    NativeControl& rows = *list.native;
    if (rows.rowCount >= ConsoleListCapacity) return -1;
    windowcore::copyText(rows.rows[rows.rowCount], PathCapacity, text);
    return rows.rowCount++;
}

int32_t listSelect(WindowControl& list, const char* text) {
    for (int32_t row = 0; row < list.native->rowCount; ++row) {
        if (std::strcmp(list.native->rows[row], text) == 0) return list.native->selection = row;
    }
    return -1;
}

int32_t listSelection(const WindowControl& list) {
    return list.native->selection;
}

int32_t listSelectionText(const WindowControl& list, char* buffer, int32_t capacity) {
    const int32_t row = list.native->selection;
    return windowcore::copyText(buffer, capacity, row >= 0 ? list.native->rows[row] : "");
}

void getRect(PlatformWindow* dialog, WindowRect* rect) {
    *rect = dialog->native->rect;
}

bool move(PlatformWindow* dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    dialog->native->rect = WindowRect{x, y, edge(x, width), edge(y, height)};
    return true;
}

void show(PlatformWindow* dialog, ShowCommand command) {
    dialog->native->visible = command != ShowCommand::Hide;
}

void bringToFront(PlatformWindow*) {}

void screenSize(int32_t* width, int32_t* height) {
    *width = ConsoleScreenWidth;
    *height = ConsoleScreenHeight;
}

bool browseForFolder(PlatformWindow*, const char*, const char*, char*, int32_t) {
    // A console has no folder browser: every browse counts as cancelled.
    return false;
}

int32_t droppedPath(PlatformWindow*, char*, int32_t) {
    // Nothing is ever dropped on a console.
    return -1;
}

}  // namespace windowbackend
