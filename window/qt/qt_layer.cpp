// The layer's set-up, its message loop, and the wake-up of the core's call
// gate: a posted event to a dispatcher object on the user-interface thread.
//
// Qt's own blocking queued connections are not used: they hang once the loop
// has ended. The message loop is a loop of our own rather than the
// application's, because ending the application's loop would also end a
// message box's loop.
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QObject>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "window/qt/qt_dialog_font.h"
#include "window/qt/qt_layer_state.h"
#include "window/window_watch.h"

namespace qtlayer {
namespace {

const QEvent::Type WakeEventType = static_cast<QEvent::Type>(QEvent::User + 601);

// User-interface thread only.
QObject* dispatcher = nullptr;
QEventLoop* messageLoop = nullptr;
QApplication* ownedApplication = nullptr;
QTranslator* translator = nullptr;

class Dispatcher final : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != WakeEventType) return QObject::event(event);
        if (messageLoop == nullptr || !windowcore::quitPending()) {
            windowcore::serveCalls();
            return true;
        }
        // A quit ends the loop before any further call is served. As on
        // Windows, it also ends the modal loops running inside the message
        // loop, so the message loop can return.
        endModalsOwnedBy(nullptr);
        messageLoop->quit();
        return true;
    }
};

int fallbackArgc = 1;
char fallbackProgramName[] = "vud-converter";
char* fallbackArgv[] = {fallbackProgramName, nullptr};

bool displayNamed(int argc, char** argv) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], "-platform") == 0) return true;
    }
    return false;
}

}  // namespace

QDialog* dialogWidget(WindowHandle dialog) {
    return dialog == nullptr || dialog->native == nullptr ? nullptr : dialog->native->widget.data();
}

}  // namespace qtlayer

using namespace qtlayer;

void windowbackend::wake() {
    // Under the core's lock: shutdown closes the gate under it before it
    // deletes the dispatcher.
    QCoreApplication::postEvent(dispatcher, new QEvent(WakeEventType));
}

bool windowLayerInitialize(int* argc, char** argv) {
    if (windowcore::started()) return windowcore::onUserInterfaceThread();
    if (QCoreApplication::instance() == nullptr) {
        if (argc == nullptr || argv == nullptr) {
            argc = &fallbackArgc;
            argv = fallbackArgv;
        }
        if (!displayNamed(*argc, argv)) {
            std::fprintf(stderr, "no display: set DISPLAY, or QT_QPA_PLATFORM=offscreen\n");
            return false;
        }
        ownedApplication = new QApplication(*argc, argv);
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
    translator = new QTranslator;
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    dispatcher = new Dispatcher;
    windowcore::start();
    return true;
}

void windowLayerShutdown() {
    if (!windowcore::stop()) return;
    unwatchAllDescriptors();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete dispatcher;
    dispatcher = nullptr;
    delete translator;
    translator = nullptr;
    delete ownedApplication;
    ownedApplication = nullptr;
}

int32_t windowRunMessageLoop() {
    if (!windowcore::beginLoop()) return -1;
    // A quit posted before the loop ends it at once.
    if (!windowcore::quitPending()) {
        QEventLoop loop;
        messageLoop = &loop;
        loop.exec();
        messageLoop = nullptr;
    }
    const int32_t code = windowcore::endLoop();
    // Dialogs destroyed inside the loop are deleted now that no handler of
    // theirs is on the stack.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
