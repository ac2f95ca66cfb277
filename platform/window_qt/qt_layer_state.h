// Inside the Qt backend of the window layer: the dialog record, the queue of
// calls handed to the user-interface thread, and the open modal windows
// (message boxes, folder browsers) that the owner's destruction or a quit
// must end.
#pragma once

#include <QPointer>
#include <QRect>
#include <functional>
#include <vector>

#include "platform/window_layer.h"

class QDialog;
class QEventLoop;
class QWidget;

namespace qtlayer {

struct ControlRecord {
    int32_t id;
    ControlKind kind;
    uint32_t styles;
    QWidget* widget;     // a child of the dialog's widget
    QRect templateRect;  // pixels, as the template places it
    // Progress bars keep their own range and position: the widget cannot
    // show an empty range without a busy animation.
    int32_t rangeMinimum;
    int32_t rangeMaximum;
    int32_t position;
};

// An open message box or folder browser, running its own loop.
struct ModalRecord {
    WindowHandle owner;  // null for an ownerless box
    QEventLoop* loop;
    QWidget* widget;
    bool endedFromOutside;  // the owner was destroyed or the program quit
};

bool onUiThread();
bool layerInitialized();

// Runs action on the user-interface thread under the layer's gate: the
// dialog (when needsDialog) must be alive, and a call from another thread
// also needs a loop that serves. false when the gate is closed, before or
// when the call would run; action then never runs.
bool runOnUiThread(WindowHandle dialog, bool needsDialog, const std::function<void()>& action);

// A loop of the layer (the message loop, a box's loop) serves calls from
// other threads while it runs. Leaving the last one fails what is queued.
void enterServing();
void leaveServing();

// Live dialogs, readable from any thread.
void registerDialog(WindowHandle dialog);
// Marks the dialog dead and fails the calls queued for it.
void retireDialog(WindowHandle dialog);
bool dialogAlive(WindowHandle dialog);

bool loopServing();
int32_t queuedCallCount();

void beginModal(ModalRecord* record);
void endModal(ModalRecord* record);
// owner null: every open modal window (the program quits).
void endModalsOwnedBy(WindowHandle owner, bool all);
// The most recently opened modal window still open, or null.
QWidget* topModalWidget();

ControlRecord* findControl(WindowHandle dialog, int32_t id);
QDialog* dialogWidget(WindowHandle dialog);
int32_t sendToProcedure(WindowHandle dialog, DialogMessage message, uint32_t param);

// At shutdown: destroys the live dialogs, then frees every record.
void destroyAllDialogs();
void releaseDeadDialogs();
void unwatchAllDescriptors();

}  // namespace qtlayer

struct PlatformWindow {
    QPointer<QDialog> widget;
    const DialogTemplate* dialogTemplate;
    DialogProcedure procedure;
    std::vector<qtlayer::ControlRecord> controls;
    bool alive;  // written on the user-interface thread under the layer's lock
};
