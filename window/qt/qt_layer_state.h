// Inside the Qt backend of the window layer: the native parts of a dialog
// and of its controls, and the open modal windows (message boxes, folder
// browsers) that the owner's destruction or a quit must end.
#pragma once

#include <QPointer>
#include <QRect>
#include <string>
#include <vector>

#include "window/window_core.h"

class QDialog;
class QWidget;

struct NativeControl {
    QWidget* widget;     // a child of the dialog's widget
    QRect templateRect;  // pixels, as the template places it
};

struct NativeDialog {
    QPointer<QDialog> widget;
    std::vector<NativeControl> controls;  // in template order
};

namespace qtlayer {

// Ends the open message boxes and folder browsers of owner; null: every
// open one (the program quits).
void endModalsOwnedBy(WindowHandle owner);
// The most recently opened modal window still open, or null.
QWidget* topModalWidget();

QDialog* dialogWidget(WindowHandle dialog);
void unwatchAllDescriptors();

// Test support, null in the programs: called once a folder browser is up;
// true scripts it, choosing *choice (cancelling when empty).
typedef bool (*FolderBrowserHook)(WindowHandle owner, const char* title,
                                  const std::string& startFolder, std::string* choice);
void setFolderBrowserHook(FolderBrowserHook hook);

}  // namespace qtlayer
