// The dialog and its controls, held in memory.
#include <cstring>
#include <new>

#include "platform/window_console/console_state.h"

namespace {

// Pixels per dialog unit for a 9-point dialog font: a quarter of an average
// character width across, an eighth of the character height down.
constexpr int32_t PixelsAcrossNumerator = 3, PixelsAcrossDenominator = 2;
constexpr int32_t PixelsDownNumerator = 13, PixelsDownDenominator = 8;
constexpr int32_t ConsoleScreenWidth = 1024, ConsoleScreenHeight = 768;

int32_t clampToRange(const ConsoleControl& bar, int32_t position) {
    if (position < bar.rangeMinimum) return bar.rangeMinimum;
    if (position > bar.rangeMaximum) return bar.rangeMaximum;
    return position;
}

bool fillControls(PlatformWindow* window, const DialogTemplate* dialogTemplate) {
    const int32_t count = dialogTemplate->controlCount;
    if (count < 0 || (count > 0 && dialogTemplate->controls == nullptr)) return false;
    window->controls.reset(new (std::nothrow) ConsoleControl[count > 0 ? count : 1]());
    if (!window->controls) return false;
    window->controlCount = count;
    for (int32_t i = 0; i < count; ++i) {
        const ControlTemplate& source = dialogTemplate->controls[i];
        ConsoleControl& control = window->controls[i];
        control.id = source.id;
        control.kind = source.kind;
        control.enabled = true;
        copyText(control.text, ConsoleTextCapacity, source.text);
        // A new progress bar's range is 0..100, as the platform's is.
        control.rangeMaximum = 100;
        control.selection = -1;
        if (source.kind == ControlKind::DropDownList) {
            control.rows.reset(new (std::nothrow) ConsoleListRow[ConsoleListCapacity]);
            if (!control.rows) return false;
        }
    }
    return true;
}

int32_t saturatedSum(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

void sendCommand(PlatformWindow* dialog, int32_t id, uint16_t code) {
    dialog->procedure(dialog, DialogMessage::Command, commandParam(id, code));
}

}  // namespace

ConsoleControl* findControl(PlatformWindow* dialog, int32_t id) {
    if (dialog == nullptr || id == ControlIdNone) return nullptr;
    for (int32_t i = 0; i < dialog->controlCount; ++i) {
        if (dialog->controls[i].id == id) return &dialog->controls[i];
    }
    return nullptr;
}

ConsoleControl* findControl(PlatformWindow* dialog, int32_t id, ControlKind kind) {
    ConsoleControl* control = findControl(dialog, id);
    return control != nullptr && control->kind == kind ? control : nullptr;
}

WindowHandle windowCreateDialog(const DialogTemplate* dialogTemplate, DialogProcedure procedure) {
    if (!onUserInterfaceThread() || dialogTemplate == nullptr || procedure == nullptr) {
        return nullptr;
    }
    ConsoleLayer& layer = consoleLayer();
    PlatformWindow* window = new (std::nothrow) PlatformWindow{};
    if (window == nullptr) return nullptr;
    if (!fillControls(window, dialogTemplate)) {
        delete window;
        return nullptr;
    }
    window->procedure = procedure;
    copyText(window->title, ConsoleTextCapacity, dialogTemplate->title);
    window->rect.right = dialogTemplate->width * PixelsAcrossNumerator / PixelsAcrossDenominator;
    window->rect.bottom = dialogTemplate->height * PixelsDownNumerator / PixelsDownDenominator;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        window->alive = true;
        // Kept in the list until the layer shuts down, so a stale handle is
        // recognised instead of followed.
        window->next = layer.windows;
        layer.windows = window;
    }
    procedure(window, DialogMessage::Initialize, 0);
    // A dialog that destroyed itself while initialising was not created.
    return isLive(window) ? window : nullptr;
}

void windowDestroy(WindowHandle dialog) {
    auto apply = [&] {
        if (dialog->destroying) return;
        dialog->destroying = true;
        dialog->procedure(dialog, DialogMessage::Destroy, 0);
        ConsoleLayer& layer = consoleLayer();
        if (layer.progress.dialog == dialog) finishProgressLine();
        std::lock_guard<std::mutex> lock(layer.mutex);
        dialog->alive = false;
    };
    callOnUiThread(dialog, true, apply);
}

bool windowIsAlive(WindowHandle dialog) {
    return isLive(dialog);
}

bool windowSetTitle(WindowHandle dialog, const char* title) {
    auto apply = [&] { copyText(dialog->title, ConsoleTextCapacity, title); };
    return callOnUiThread(dialog, true, apply);
}

bool windowSetItemText(WindowHandle dialog, int32_t id, const char* text) {
    bool result = false;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id);
        if (control == nullptr) return;
        copyText(control->text, ConsoleTextCapacity, text);
        result = true;
        progressChanged(dialog);
        // An edit control tells its dialog about every change of its text,
        // also one made by the program.
        if (control->kind == ControlKind::Edit) sendCommand(dialog, id, NotifyEditChanged);
    };
    return callOnUiThread(dialog, true, apply) && result;
}

int32_t windowGetItemText(WindowHandle dialog, int32_t id, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    int32_t length = -1;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id);
        if (control != nullptr) length = copyText(buffer, capacity, control->text);
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return length;
}

bool windowEnableItem(WindowHandle dialog, int32_t id, bool enable) {
    bool result = false;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id);
        if (control == nullptr) return;
        control->enabled = enable;
        result = true;
    };
    return callOnUiThread(dialog, true, apply) && result;
}

bool windowIsItemEnabled(WindowHandle dialog, int32_t id) {
    bool result = false;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id);
        result = control != nullptr && control->enabled;
    };
    return callOnUiThread(dialog, true, apply) && result;
}

bool windowSetProgressRange(WindowHandle dialog, int32_t id, int32_t minimum, int32_t maximum) {
    bool result = false;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id, ControlKind::ProgressBar);
        if (control == nullptr || maximum < minimum) return;
        control->rangeMinimum = minimum;
        control->rangeMaximum = maximum;
        control->position = clampToRange(*control, control->position);
        result = true;
        progressRangeSet(dialog, id);
    };
    return callOnUiThread(dialog, true, apply) && result;
}

bool windowSetProgressPosition(WindowHandle dialog, int32_t id, int32_t position) {
    bool result = false;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id, ControlKind::ProgressBar);
        if (control == nullptr) return;
        control->position = clampToRange(*control, position);
        result = true;
        progressChanged(dialog);
    };
    return callOnUiThread(dialog, true, apply) && result;
}

int32_t windowGetProgressPosition(WindowHandle dialog, int32_t id) {
    int32_t position = -1;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id, ControlKind::ProgressBar);
        if (control != nullptr) position = control->position;
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return position;
}

bool consoleGetProgressRange(WindowHandle dialog, int32_t id, int32_t* minimum, int32_t* maximum) {
    bool result = false;
    auto apply = [&] {
        ConsoleControl* control = findControl(dialog, id, ControlKind::ProgressBar);
        if (control == nullptr) return;
        if (minimum != nullptr) *minimum = control->rangeMinimum;
        if (maximum != nullptr) *maximum = control->rangeMaximum;
        result = true;
    };
    return callOnUiThread(dialog, true, apply) && result;
}

int32_t windowListAddString(WindowHandle dialog, int32_t id, const char* text) {
    int32_t index = -1;
    auto apply = [&] {
        ConsoleControl* list = findControl(dialog, id, ControlKind::DropDownList);
        if (list == nullptr || list->rowCount >= ConsoleListCapacity) return;
        copyText(list->rows[list->rowCount].text, PathCapacity, text);
        index = list->rowCount;
        list->rowCount += 1;
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return index;
}

int32_t windowListSelectString(WindowHandle dialog, int32_t id, const char* text) {
    int32_t index = -1;
    auto apply = [&] {
        ConsoleControl* list = findControl(dialog, id, ControlKind::DropDownList);
        if (list == nullptr || text == nullptr) return;
        for (int32_t row = 0; row < list->rowCount; ++row) {
            if (std::strcmp(list->rows[row].text, text) != 0) continue;
            // A selection made by the program sends no notification.
            list->selection = row;
            index = row;
            return;
        }
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return index;
}

int32_t windowListGetSelection(WindowHandle dialog, int32_t id) {
    int32_t selection = -1;
    auto apply = [&] {
        ConsoleControl* list = findControl(dialog, id, ControlKind::DropDownList);
        if (list != nullptr) selection = list->selection;
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return selection;
}

int32_t consoleListRowCount(WindowHandle dialog, int32_t id) {
    int32_t count = -1;
    auto apply = [&] {
        ConsoleControl* list = findControl(dialog, id, ControlKind::DropDownList);
        if (list != nullptr) count = list->rowCount;
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return count;
}

int32_t consoleListRowText(WindowHandle dialog, int32_t id, int32_t row, char* buffer,
                           int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    int32_t length = -1;
    auto apply = [&] {
        ConsoleControl* list = findControl(dialog, id, ControlKind::DropDownList);
        if (list == nullptr || row < 0 || row >= list->rowCount) return;
        length = copyText(buffer, capacity, list->rows[row].text);
    };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return length;
}

int32_t consoleGetTitle(WindowHandle dialog, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    int32_t length = -1;
    auto apply = [&] { length = copyText(buffer, capacity, dialog->title); };
    if (!callOnUiThread(dialog, true, apply)) return -1;
    return length;
}

bool consoleIsVisible(WindowHandle dialog) {
    bool visible = false;
    auto apply = [&] { visible = dialog->visible; };
    return callOnUiThread(dialog, true, apply) && visible;
}

bool windowBrowseForFolder(WindowHandle, const char*, const char*, char* buffer, int32_t capacity) {
    // A console has no folder browser: every browse counts as cancelled.
    if (buffer != nullptr && capacity > 0) buffer[0] = '\0';
    return false;
}

int32_t windowGetDroppedPath(WindowHandle, char* buffer, int32_t capacity) {
    // Nothing is ever dropped on a console.
    if (buffer != nullptr && capacity > 0) buffer[0] = '\0';
    return -1;
}

bool windowGetRect(WindowHandle dialog, WindowRect* rect) {
    if (rect == nullptr) return false;
    auto apply = [&] { *rect = dialog->rect; };
    return callOnUiThread(dialog, true, apply);
}

bool windowMove(WindowHandle dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    auto apply = [&] {
        dialog->rect = WindowRect{x, y, saturatedSum(x, width), saturatedSum(y, height)};
    };
    return callOnUiThread(dialog, true, apply);
}

bool windowShow(WindowHandle dialog, ShowCommand command) {
    auto apply = [&] { dialog->visible = command != ShowCommand::Hide; };
    return callOnUiThread(dialog, true, apply);
}

bool windowBringToFront(WindowHandle dialog) {
    auto apply = [] {};
    return callOnUiThread(dialog, true, apply);
}

int32_t windowScreenWidth() {
    return ConsoleScreenWidth;
}
int32_t windowScreenHeight() {
    return ConsoleScreenHeight;
}
