// Message boxes and the folder browser. Each runs a loop of its own that
// serves calls from other threads, and ends when its owner is destroyed or
// the program quits.
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

#include "window/qt/qt_layer_state.h"

namespace {

std::atomic<qtlayer::FolderBrowserHook> folderBrowserHook{nullptr};

// An open message box or folder browser, running its own loop.
struct ModalRecord {
    WindowHandle owner;  // null for an ownerless box
    QEventLoop* loop;
    QWidget* widget;
    bool endedFromOutside;  // the owner was destroyed or the program quit
};

// User-interface thread only; the most recently opened last.
std::vector<ModalRecord*> modals;

const std::pair<MessageBoxIcon, QMessageBox::Icon> icons[] = {
    {MessageBoxIcon::None, QMessageBox::NoIcon},
    {MessageBoxIcon::Warning, QMessageBox::Warning},
    {MessageBoxIcon::Information, QMessageBox::Information},
    {MessageBoxIcon::Error, QMessageBox::Critical},
    {MessageBoxIcon::Question, QMessageBox::Question},
};

// The answers and their buttons; any other button answers Failed.
const std::pair<MessageBoxAnswer, QMessageBox::StandardButton> answerButtons[] = {
    {MessageBoxAnswer::Ok, QMessageBox::Ok},
    {MessageBoxAnswer::Yes, QMessageBox::Yes},
    {MessageBoxAnswer::No, QMessageBox::No},
};

// What key stands beside in table, looked up from either side; missing when
// it is not there.
template <typename Left, typename Right, size_t Rows>
Right partnerOf(const std::pair<Left, Right> (&table)[Rows], Left key, Right missing) {
    for (const auto& [left, right] : table) {
        if (left == key) return right;
    }
    return missing;
}

template <typename Left, typename Right, size_t Rows>
Left partnerOf(const std::pair<Left, Right> (&table)[Rows], Right key, Left missing) {
    for (const auto& [left, right] : table) {
        if (right == key) return left;
    }
    return missing;
}

// Runs widget's own loop until finished or ended from outside; the widget
// must already be shown. Counts as a serving loop.
bool runModalLoop(WindowHandle owner, QDialog* widget) {
    QEventLoop loop;
    QObject::connect(widget, &QDialog::finished, &loop, &QEventLoop::quit);
    ModalRecord record{owner, &loop, widget, false};
    modals.push_back(&record);
    windowcore::enterServing();
    loop.exec();
    windowcore::leaveServing();
    std::erase(modals, &record);
    return !record.endedFromOutside;
}

}  // namespace

MessageBoxAnswer windowbackend::messageBox(PlatformWindow* owner, const char* text,
                                           const char* caption, MessageBoxButtons buttons,
                                           MessageBoxIcon icon) {
    QWidget* parent = qtlayer::dialogWidget(owner);
    QMessageBox box(parent);
    box.setIcon(partnerOf(icons, icon, QMessageBox::NoIcon));
    box.setWindowTitle(QString::fromUtf8(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text));
    const bool question = buttons == MessageBoxButtons::YesNo;
    box.setStandardButtons(question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    // The first button is the default one, as on Windows.
    box.setDefaultButton(question ? QMessageBox::Yes : QMessageBox::Ok);
    box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::NonModal);
    box.show();

    const QMessageBox::StandardButton scripted = partnerOf(
        answerButtons, windowcore::announceMessageBox({owner, text, caption, buttons, icon}),
        QMessageBox::NoButton);
    if (scripted != QMessageBox::NoButton) {
        QTimer::singleShot(0, &box, [&box, scripted] {
            if (QAbstractButton* button = box.button(scripted)) button->click();
        });
    }
    if (!runModalLoop(owner, &box)) return MessageBoxAnswer::Failed;
    return partnerOf(answerButtons, box.standardButton(box.clickedButton()),
                     MessageBoxAnswer::Failed);
}

namespace {

// The folder startAt names, else its nearest existing parent; relative
// paths count from the current folder. The home folder when none exists.
QString startFolderOf(const char* startAt) {
    QString path = QString::fromUtf8(startAt);
    if (path.isEmpty()) return QDir::homePath();
    path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path) return QDir::homePath();
        path = parent;
    }
    return path;
}

// Folders as usual; of the files only the source archives, greyed: they
// show that the right folder is open but cannot be chosen.
class SourceArchivesGreyed final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        const Qt::ItemFlags flags = QSortFilterProxyModel::flags(index);
        if (!index.isValid() || isFolderRow(mapToSource(index))) return flags;
        return flags & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const QModelIndex index = sourceModel()->index(row, 0, parent);
        return isFolderRow(index) ||
               index.data().toString().endsWith(QStringLiteral(".vud"), Qt::CaseInsensitive);
    }

private:
    bool isFolderRow(const QModelIndex& index) const {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        return files == nullptr || files->isDir(index);
    }
};

// Wide enough that names, types and dates are not cut at the first look;
// the places list shows its entries whole too.
void makeColumnsReadable(QFileDialog* browser) {
    browser->setViewMode(QFileDialog::Detail);
    const QRect screen = browser->screen() != nullptr ? browser->screen()->availableGeometry()
                                                      : QRect(0, 0, 1024, 768);
    browser->resize(std::min(760, screen.width() - 40), std::min(460, screen.height() - 40));
    if (auto* tree = browser->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = tree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (auto* places = browser->findChild<QSplitter*>(QStringLiteral("splitter"))) {
        const int32_t placesWidth = std::max(150, places->widget(0)->sizeHint().width());
        places->setSizes({placesWidth, browser->width() - placesWidth});
    }
}

}  // namespace

bool windowbackend::browseForFolder(PlatformWindow* owner, const char* title, const char* startAt,
                                    char* buffer, int32_t capacity) {
    QWidget* parent = qtlayer::dialogWidget(owner);
    QFileDialog browser(parent, QString::fromUtf8(title));
    // Qt's own browser everywhere: it speaks the program's language and can
    // grey the source archives.
    browser.setOption(QFileDialog::DontUseNativeDialog, true);
    browser.setFileMode(QFileDialog::Directory);
    browser.setProxyModel(new SourceArchivesGreyed(&browser));
    const QString start = startFolderOf(startAt);
    browser.setDirectory(start);
    makeColumnsReadable(&browser);
    browser.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);

    const qtlayer::FolderBrowserHook hook = folderBrowserHook.load();
    browser.show();
    std::string choice;
    if (hook != nullptr && hook(owner, title, start.toStdString(), &choice)) {
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
    windowcore::copyText(buffer, capacity, path.constData(), static_cast<size_t>(path.size()));
    return true;
}

void qtlayer::endModalsOwnedBy(WindowHandle owner) {
    const std::vector<ModalRecord*> open = modals;
    for (ModalRecord* record : open) {
        if ((owner != nullptr && record->owner != owner) || record->endedFromOutside) continue;
        record->endedFromOutside = true;
        record->widget->hide();
        // The owner's widget is about to go; the box must not go with it
        // while its own loop still runs.
        if (owner != nullptr) record->widget->setParent(nullptr);
        record->loop->quit();
    }
}

QWidget* qtlayer::topModalWidget() {
    return modals.empty() ? nullptr : modals.back()->widget;
}

void qtlayer::setFolderBrowserHook(FolderBrowserHook hook) {
    folderBrowserHook.store(hook);
}
