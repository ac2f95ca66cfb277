// Message boxes and the folder browser. Each runs a loop of its own that
// serves calls from other threads, and ends when its owner is destroyed or
// the program quits.
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cstring>
#include <utility>

#include "platform/window_qt/qt_layer_state.h"

namespace {

std::atomic<qtlayer::FolderBrowserHook> folderBrowserHook{nullptr};

QMessageBox::Icon iconOf(MessageBoxIcon icon) {
    switch (icon) {
        case MessageBoxIcon::None:
            return QMessageBox::NoIcon;
        case MessageBoxIcon::Warning:
            return QMessageBox::Warning;
        case MessageBoxIcon::Information:
            return QMessageBox::Information;
        case MessageBoxIcon::Error:
            return QMessageBox::Critical;
        case MessageBoxIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// The answers and their buttons; any other button answers Failed.
const std::pair<MessageBoxAnswer, QMessageBox::StandardButton> answerButtons[] = {
    {MessageBoxAnswer::Ok, QMessageBox::Ok},
    {MessageBoxAnswer::Yes, QMessageBox::Yes},
    {MessageBoxAnswer::No, QMessageBox::No},
};

QMessageBox::StandardButton standardButtonOf(MessageBoxAnswer answer) {
    for (const auto& [known, button] : answerButtons) {
        if (known == answer) return button;
    }
    return QMessageBox::NoButton;
}

MessageBoxAnswer answerOf(QMessageBox::StandardButton button) {
    for (const auto& [answer, known] : answerButtons) {
        if (known == button) return answer;
    }
    return MessageBoxAnswer::Failed;
}

// Runs widget's own loop until finished or ended from outside; the widget
// must already be shown. Counts as a serving loop.
bool runModalLoop(WindowHandle owner, QDialog* widget) {
    QEventLoop loop;
    QObject::connect(widget, &QDialog::finished, &loop, &QEventLoop::quit);
    qtlayer::ModalRecord record{owner, &loop, widget, false};
    qtlayer::beginModal(&record);
    windowcore::enterServing();
    loop.exec();
    windowcore::leaveServing();
    qtlayer::endModal(&record);
    return !record.endedFromOutside;
}

}  // namespace

MessageBoxAnswer windowbackend::messageBox(PlatformWindow* owner, const char* text,
                                           const char* caption, MessageBoxButtons buttons,
                                           MessageBoxIcon icon) {
    QWidget* parent = owner != nullptr ? qtlayer::dialogWidget(owner) : nullptr;
    QMessageBox box(parent);
    box.setIcon(iconOf(icon));
    box.setWindowTitle(QString::fromUtf8(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text));
    switch (buttons) {
        case MessageBoxButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MessageBoxButtons::YesNo:
            // The first button is the default one, as on Windows.
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            break;
    }
    box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::NonModal);
    box.show();

    const QMessageBox::StandardButton scripted =
        standardButtonOf(windowcore::announceMessageBox({owner, text, caption, buttons, icon}));
    if (scripted != QMessageBox::NoButton) {
        QTimer::singleShot(0, &box, [&box, scripted] {
            if (QAbstractButton* button = box.button(scripted)) button->click();
        });
    }
    if (!runModalLoop(owner, &box)) return MessageBoxAnswer::Failed;
    return answerOf(box.standardButton(box.clickedButton()));
}

bool windowbackend::browseForFolder(PlatformWindow* owner, const char* title, char* buffer,
                                    int32_t capacity) {
    QWidget* parent = owner != nullptr ? qtlayer::dialogWidget(owner) : nullptr;
    QFileDialog browser(parent, QString::fromUtf8(title));
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly, true);
    browser.setDirectory(QDir::homePath());
    browser.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);

    const qtlayer::FolderBrowserHook hook = folderBrowserHook.load();
    // A test drives the browser's own widgets, never a native dialog.
    if (hook != nullptr) browser.setOption(QFileDialog::DontUseNativeDialog, true);
    browser.show();
    std::string choice;
    if (hook != nullptr && hook(owner, title, &choice)) {
        QTimer::singleShot(0, &browser, [&browser, choice] {
            if (choice.empty()) {
                browser.reject();
                return;
            }
            browser.setDirectory(QString::fromUtf8(choice.c_str()));
            static_cast<QDialog&>(browser).accept();
        });
    }
    if (!runModalLoop(owner, &browser) || browser.result() != QDialog::Accepted) return false;
    const QList<QUrl> chosen = browser.selectedUrls();
    if (chosen.isEmpty() || !chosen.front().isLocalFile()) return false;
    const QByteArray path = QFile::encodeName(QDir::cleanPath(chosen.front().toLocalFile()));
    if (path.isEmpty() || path.size() >= capacity) return false;
    std::memcpy(buffer, path.constData(), static_cast<size_t>(path.size()));
    buffer[path.size()] = '\0';
    return true;
}

void qtlayer::setFolderBrowserHook(FolderBrowserHook hook) {
    folderBrowserHook.store(hook);
}
