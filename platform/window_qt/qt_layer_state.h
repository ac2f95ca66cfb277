// Inside the Qt backend of the window layer: the native parts of a dialog
// and of its controls, and the open modal windows (message boxes, folder
// browsers) that the owner's destruction or a quit must end.
#pragma once

#include <QPointer>
#include <QRect>
#include <string>
#include <vector>

#include "platform/window_core.h"

class QDialog;
class QEventLoop;
class QWidget;

struct NativeControl {
    ControlKind kind;
    uint32_t styles;
    QWidget* widget;     // a child of the dialog's widget
    QRect templateRect;  // pixels, as the template places it
};

struct NativeDialog {
    QPointer<QDialog> widget;
    std::vector<NativeControl> controls;  // in template order
};

namespace qtlayer {

// An open message box or folder browser, running its own loop.
struct ModalRecord {
    WindowHandle owner;  // null for an ownerless box
    QEventLoop* loop;
    QWidget* widget;
    bool endedFromOutside;  // the owner was destroyed or the program quit
};

void beginModal(ModalRecord* record);
void endModal(ModalRecord* record);
// owner null: every open modal window (the program quits).
void endModalsOwnedBy(WindowHandle owner, bool all);
// The most recently opened modal window still open, or null.
QWidget* topModalWidget();

QDialog* dialogWidget(WindowHandle dialog);
inline constexpr auto& sendToProcedure = windowcore::send;
void unwatchAllDescriptors();

// Test support, null in the programs: called once a folder browser is up;
// true scripts it, choosing *choice (cancelling when empty).
typedef bool (*FolderBrowserHook)(WindowHandle owner, const char* title,
                                  const std::string& startFolder, std::string* choice);
void setFolderBrowserHook(FolderBrowserHook hook);

}  // namespace qtlayer
