// The layer's set-up, its message loop and the thread contract: calls from
// other threads are queued to the user-interface thread and wait there, gated
// on a live dialog and a serving loop, checked when queued and again when run.
//
// Qt's own blocking queued connections are not used: they hang once the loop
// has ended. The message loop is a loop of our own rather than the
// application's, because ending the application's loop would also end a
// message box's loop, and a quit queued while no loop runs would end the next.
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QObject>
#include <QTranslator>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/window_qt/qt_descriptor_watch.h"
#include "platform/window_qt/qt_dialog_font.h"
#include "platform/window_qt/qt_layer_state.h"

namespace qtlayer {
namespace {

enum class CallState { Queued, Running, Done, Failed };

struct QueuedCall {
    WindowHandle dialog;
    bool needsDialog;
    const std::function<void()>* action;
    CallState state;
};

const QEvent::Type CallEventType = static_cast<QEvent::Type>(QEvent::User + 601);
const QEvent::Type QuitEventType = static_cast<QEvent::Type>(QEvent::User + 602);

class QuitEvent final : public QEvent {
public:
    explicit QuitEvent(uint64_t generation) : QEvent(QuitEventType), generation(generation) {}
    const uint64_t generation;
};

void runNextCall();
void quitLoopOfGeneration(uint64_t generation);

class Dispatcher final : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == CallEventType) {
            runNextCall();
            return true;
        }
        if (event->type() == QuitEventType) {
            quitLoopOfGeneration(static_cast<QuitEvent*>(event)->generation);
            return true;
        }
        return QObject::event(event);
    }
};

struct Layer {
    std::mutex mutex;
    std::condition_variable callFinished;
    // Guarded by mutex.
    std::deque<QueuedCall*> queue;
    int32_t servingDepth = 0;
    std::vector<WindowHandle> liveDialogs;
    QEventLoop* messageLoop = nullptr;
    uint64_t loopGeneration = 0;
    int32_t quitCode = 0;
    // User-interface thread only.
    std::vector<WindowHandle> deadDialogs;
    std::vector<ModalRecord*> modals;
    Dispatcher* dispatcher = nullptr;
    QApplication* ownedApplication = nullptr;
    QTranslator* translator = nullptr;
};

// Never destroyed: a toolkit that ends the process with exit() while the
// worker waits on the condition variable would otherwise wait for ever in
// its destructor.
Layer& layer = *new Layer;
std::atomic<bool> initialized{false};
std::thread::id uiThreadId;

int fallbackArgc = 1;
char fallbackProgramName[] = "vud-converter";
char* fallbackArgv[] = {fallbackProgramName, nullptr};

bool aliveLocked(WindowHandle dialog) {
    return dialog != nullptr && std::find(layer.liveDialogs.begin(), layer.liveDialogs.end(),
                                          dialog) != layer.liveDialogs.end();
}

bool gateOpenLocked(WindowHandle dialog, bool needsDialog) {
    return layer.servingDepth > 0 && (!needsDialog || aliveLocked(dialog));
}

// Fails the queued calls that match; the caller notifies.
template <typename Predicate>
void failQueuedLocked(Predicate matches) {
    for (auto it = layer.queue.begin(); it != layer.queue.end();) {
        if (matches(**it)) {
            (*it)->state = CallState::Failed;
            it = layer.queue.erase(it);
        } else {
            ++it;
        }
    }
}

void runNextCall() {
    QueuedCall* call = nullptr;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        if (layer.queue.empty()) return;
        call = layer.queue.front();
        layer.queue.pop_front();
        if (!gateOpenLocked(call->dialog, call->needsDialog)) {
            call->state = CallState::Failed;
            layer.callFinished.notify_all();
            return;
        }
        call->state = CallState::Running;
    }
    (*call->action)();
    std::lock_guard<std::mutex> lock(layer.mutex);
    // The caller may return as soon as it sees Done: call is not touched again.
    call->state = CallState::Done;
    layer.callFinished.notify_all();
}

void quitLoopOfGeneration(uint64_t generation) {
    QEventLoop* loop = nullptr;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        if (layer.messageLoop == nullptr || layer.loopGeneration != generation) return;
        loop = layer.messageLoop;
    }
    // As on Windows, a quit also ends the modal loops running inside the
    // message loop, so the message loop can return.
    endModalsOwnedBy(nullptr, true);
    loop->quit();
}

bool displayNamed(int argc, char** argv) {
    const char* names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], "-platform") == 0) return true;
    }
    return false;
}

}  // namespace

bool onUiThread() {
    return initialized.load(std::memory_order_acquire) && std::this_thread::get_id() == uiThreadId;
}

bool layerInitialized() {
    return initialized.load(std::memory_order_acquire);
}

bool runOnUiThread(WindowHandle dialog, bool needsDialog, const std::function<void()>& action) {
    if (!layerInitialized()) return false;
    if (onUiThread()) {
        if (needsDialog && !dialogAlive(dialog)) return false;
        action();
        return true;
    }
    QueuedCall call{dialog, needsDialog, &action, CallState::Queued};
    std::unique_lock<std::mutex> lock(layer.mutex);
    if (!gateOpenLocked(dialog, needsDialog)) return false;
    layer.queue.push_back(&call);
    // Posted under the lock: shutdown closes the gate under it before it
    // deletes the dispatcher.
    QCoreApplication::postEvent(layer.dispatcher, new QEvent(CallEventType));
    layer.callFinished.wait(
        lock, [&call] { return call.state == CallState::Done || call.state == CallState::Failed; });
    return call.state == CallState::Done;
}

void enterServing() {
    std::lock_guard<std::mutex> lock(layer.mutex);
    layer.servingDepth += 1;
}

void leaveServing() {
    std::lock_guard<std::mutex> lock(layer.mutex);
    layer.servingDepth -= 1;
    if (layer.servingDepth > 0) return;
    layer.servingDepth = 0;
    failQueuedLocked([](const QueuedCall&) { return true; });
    layer.callFinished.notify_all();
}

void registerDialog(WindowHandle dialog) {
    std::lock_guard<std::mutex> lock(layer.mutex);
    dialog->alive = true;
    layer.liveDialogs.push_back(dialog);
}

void retireDialog(WindowHandle dialog) {
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        dialog->alive = false;
        layer.liveDialogs.erase(
            std::remove(layer.liveDialogs.begin(), layer.liveDialogs.end(), dialog),
            layer.liveDialogs.end());
        failQueuedLocked(
            [dialog](const QueuedCall& call) { return call.needsDialog && call.dialog == dialog; });
        layer.callFinished.notify_all();
    }
    // The record outlives its widget, so a stale handle never names a newer
    // dialog; records are freed at shutdown.
    layer.deadDialogs.push_back(dialog);
}

bool dialogAlive(WindowHandle dialog) {
    std::lock_guard<std::mutex> lock(layer.mutex);
    return aliveLocked(dialog);
}

void beginModal(ModalRecord* record) {
    layer.modals.push_back(record);
}

void endModal(ModalRecord* record) {
    layer.modals.erase(std::remove(layer.modals.begin(), layer.modals.end(), record),
                       layer.modals.end());
}

void endModalsOwnedBy(WindowHandle owner, bool all) {
    const std::vector<ModalRecord*> open = layer.modals;
    for (ModalRecord* record : open) {
        if (!all && record->owner != owner) continue;
        if (record->endedFromOutside) continue;
        record->endedFromOutside = true;
        record->widget->hide();
        // The owner's widget is about to go; the box must not go with it
        // while its own loop still runs.
        if (!all) record->widget->setParent(nullptr);
        record->loop->quit();
    }
}

QWidget* topModalWidget() {
    return layer.modals.empty() ? nullptr : layer.modals.back()->widget;
}

void destroyAllDialogs() {
    std::vector<WindowHandle> live;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        live = layer.liveDialogs;
    }
    for (WindowHandle dialog : live) windowDestroy(dialog);
}

void releaseDeadDialogs() {
    for (WindowHandle dialog : layer.deadDialogs) delete dialog;
    layer.deadDialogs.clear();
}

bool loopServing() {
    std::lock_guard<std::mutex> lock(layer.mutex);
    return layer.servingDepth > 0;
}

int32_t queuedCallCount() {
    std::lock_guard<std::mutex> lock(layer.mutex);
    return static_cast<int32_t>(layer.queue.size());
}

}  // namespace qtlayer

using namespace qtlayer;

bool windowLayerInitialize(int* argc, char** argv) {
    if (layerInitialized()) return onUiThread();
    if (QCoreApplication::instance() == nullptr) {
        if (argc == nullptr || argv == nullptr) {
            argc = &fallbackArgc;
            argv = fallbackArgv;
        }
        if (!displayNamed(*argc, argv)) {
            std::fprintf(stderr, "no display: set DISPLAY, or QT_QPA_PLATFORM=offscreen\n");
            return false;
        }
        layer.ownedApplication = new QApplication(*argc, argv);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    // The dialog's destruction, not the last window closing, ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Desktops match the window to its desktop entry (and so its icon) by this name.
    if (QGuiApplication::desktopFileName().isEmpty()) {
        QGuiApplication::setDesktopFileName(QCoreApplication::applicationName());
    }
    // Message boxes and the folder browser speak Japanese too: in the
    // dialog's font, with the toolkit's own texts translated, whatever the
    // user's locale (the program has no other language).
    QApplication::setFont(dialogFont("", QApplication::font().pointSize()));
    if (layer.translator == nullptr) {
        layer.translator = new QTranslator;
        if (layer.translator->load(QLocale(QLocale::Japanese, QLocale::Japan),
                                   QStringLiteral("qtbase"), QStringLiteral("_"),
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(layer.translator);
        }
    }
    uiThreadId = std::this_thread::get_id();
    layer.dispatcher = new Dispatcher;
    initialized.store(true, std::memory_order_release);
    return true;
}

void windowLayerShutdown() {
    if (!onUiThread()) return;
    destroyAllDialogs();
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        layer.servingDepth = 0;
        failQueuedLocked([](const QueuedCall&) { return true; });
        layer.callFinished.notify_all();
        initialized.store(false, std::memory_order_release);
    }
    unwatchAllDescriptors();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete layer.dispatcher;
    layer.dispatcher = nullptr;
    releaseDeadDialogs();
    delete layer.translator;
    layer.translator = nullptr;
    delete layer.ownedApplication;
    layer.ownedApplication = nullptr;
}

bool windowIsAlive(WindowHandle dialog) {
    return layerInitialized() && dialogAlive(dialog);
}

void windowPostQuit(int32_t code) {
    if (!layerInitialized()) return;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        // A quit while no message loop runs is dropped: kept, it would end
        // the next loop at once.
        if (layer.messageLoop == nullptr) return;
        layer.quitCode = code;
        generation = layer.loopGeneration;
        if (!onUiThread()) {
            QCoreApplication::postEvent(layer.dispatcher, new QuitEvent(generation));
            return;
        }
    }
    quitLoopOfGeneration(generation);
}

int32_t windowRunMessageLoop() {
    if (!onUiThread()) return -1;
    QEventLoop loop;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        if (layer.messageLoop != nullptr) return -1;
        layer.messageLoop = &loop;
        layer.loopGeneration += 1;
        layer.quitCode = 0;
        layer.servingDepth += 1;
    }
    loop.exec();
    int32_t code = 0;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        layer.messageLoop = nullptr;
        code = layer.quitCode;
    }
    leaveServing();
    // Dialogs destroyed inside the loop are deleted now that no handler of
    // theirs is on the stack.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
