#include "tests/window/qt_test_hooks.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <mutex>

#include "window/qt/qt_layer_state.h"

namespace {

std::mutex browsersMutex;
std::vector<FolderBrowserRecord> browsers;
FolderBrowserResponder browserResponder;

bool scriptBrowser(WindowHandle owner, const char* title, const std::string& startFolder,
                   std::string* choice) {
    FolderBrowserResponder responder;
    {
        std::lock_guard<std::mutex> lock(browsersMutex);
        browsers.push_back({title, owner, startFolder});
        responder = browserResponder;
    }
    if (!responder) return false;
    *choice = responder({title, owner, startFolder}).value_or("");
    return true;
}

}  // namespace

void qtTestSetFolderBrowserResponder(FolderBrowserResponder responder) {
    std::lock_guard<std::mutex> lock(browsersMutex);
    browserResponder = std::move(responder);
    qtlayer::setFolderBrowserHook(browserResponder ? scriptBrowser : nullptr);
}

std::vector<FolderBrowserRecord> qtTestFolderBrowsers() {
    std::lock_guard<std::mutex> lock(browsersMutex);
    return browsers;
}

void qtTestClearFolderBrowsers() {
    std::lock_guard<std::mutex> lock(browsersMutex);
    browsers.clear();
}

QDialog* qtTestDialogWidget(WindowHandle dialog) {
    return windowIsAlive(dialog) ? qtlayer::dialogWidget(dialog) : nullptr;
}

QWidget* qtTestItemWidget(WindowHandle dialog, int32_t id) {
    if (!windowIsAlive(dialog)) return nullptr;
    const WindowControl* control = windowcore::findControl(dialog, id);
    return control != nullptr ? control->native->widget : nullptr;
}

QWidget* qtTestOpenModal() {
    return qtlayer::topModalWidget();
}

bool qtTestServeUntil(const std::function<bool()>& done, int32_t timeoutMilliseconds) {
    if (!windowcore::onUserInterfaceThread()) return false;
    QElapsedTimer clock;
    clock.start();
    windowcore::enterServing();
    bool held = done();
    while (!held && clock.elapsed() < timeoutMilliseconds) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
        held = done();
    }
    windowcore::leaveServing();
    return held;
}
