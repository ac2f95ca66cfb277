// The dialog: built from its template in dialog units, its controls, and the
// keyboard and notification behaviour of the platform's dialogs.
#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <span>

#include "window/qt/qt_dialog_font.h"
#include "window/qt/qt_layer_state.h"

namespace qtlayer {
namespace {

// The command that Escape sends, as the platform's dialogs do; procedures
// that do not handle it make Escape do nothing.
constexpr int32_t CancelCommandId = 2;

constexpr Qt::WindowFlags DialogWindowFlags = Qt::Window | Qt::CustomizeWindowHint |
                                              Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                              Qt::WindowCloseButtonHint;

std::span<WindowControl> controlsOf(WindowHandle dialog) {
    return {dialog->controls.get(), static_cast<size_t>(dialog->controlCount)};
}

void sendCommand(WindowHandle dialog, int32_t id, uint16_t code) {
    windowcore::send(dialog, DialogMessage::Command, commandParam(id, code));
}

// A slot sending the procedure the notification code of control id.
auto commandSender(WindowHandle dialog, int32_t id, uint16_t code) {
    return [dialog, id, code] { sendCommand(dialog, id, code); };
}

// The control that Enter clicks: a focused push button, else the default
// push button. ControlIdNone when that control is disabled.
int32_t enterCommandId(WindowHandle dialog, QWidget* focus) {
    const WindowControl* chosen = nullptr;
    for (const WindowControl& control : controlsOf(dialog)) {
        const bool isDefault = control.kind == ControlKind::DefaultPushButton;
        if (control.native->widget == focus &&
            (isDefault || control.kind == ControlKind::PushButton)) {
            chosen = &control;
            break;
        }
        if (isDefault && chosen == nullptr) chosen = &control;
    }
    return chosen != nullptr && chosen->native->widget->isEnabled() ? chosen->id : ControlIdNone;
}

// The path of the drag the procedure is asked about; empty otherwise.
QByteArray draggedPath;

// The control whose widget (or a part of it) is at point, dialog coordinates.
int32_t controlIdAt(WindowHandle dialog, QWidget* widget, QPoint point) {
    for (QWidget* child = widget->childAt(point); child != nullptr && child != widget;
         child = child->parentWidget()) {
        for (const WindowControl& control : controlsOf(dialog)) {
            if (control.native->widget == child) return control.id;
        }
    }
    return ControlIdNone;
}

class DialogWidget final : public QDialog {
public:
    explicit DialogWidget(WindowHandle dialog)
        : QDialog(nullptr, DialogWindowFlags), dialog_(dialog) {
        setAcceptDrops(true);
    }

    // A modeless dialog must not hide itself: Escape is a command for the
    // procedure, and closing goes through Close.
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        windowcore::send(dialog_, DialogMessage::Close, 0);
    }

    void keyPressEvent(QKeyEvent* event) override {
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        const int key = event->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (modifiers != Qt::NoModifier || (!enter && key != Qt::Key_Escape)) {
            // Past QDialog's own Enter and Escape handling.
            QWidget::keyPressEvent(event);
            return;
        }
        event->accept();
        const int32_t id = enter ? enterCommandId(dialog_, focusWidget()) : CancelCommandId;
        if (id != ControlIdNone) sendCommand(dialog_, id, NotifyClicked);
    }

    // Only drags of one local file or folder are offered to the procedure;
    // the first move after the enter asks about the place.
    void dragEnterEvent(QDragEnterEvent* event) override {
        event->setAccepted(!localPathOf(event).isEmpty());
    }
    void dragMoveEvent(QDragMoveEvent* event) override { offer(event, DropHovering); }
    void dropEvent(QDropEvent* event) override { offer(event, DropReleased); }

private:
    static QByteArray localPathOf(const QDropEvent* event) {
        const QList<QUrl> urls =
            event->mimeData() != nullptr ? event->mimeData()->urls() : QList<QUrl>();
        if (urls.size() != 1 || !urls.front().isLocalFile()) return QByteArray();
        return QFile::encodeName(QDir::cleanPath(urls.front().toLocalFile()));
    }

    void offer(QDropEvent* event, DropPhase phase) {
        draggedPath = localPathOf(event);
        const int32_t target = controlIdAt(dialog_, this, event->position().toPoint());
        const bool taken =
            !draggedPath.isEmpty() &&
            windowcore::send(dialog_, DialogMessage::DropPath, commandParam(target, phase)) != 0;
        draggedPath.clear();
        if (!taken) {
            event->ignore();
            return;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }

    WindowHandle dialog_;
};

QString textOf(const char* text) {
    return QString::fromUtf8(text == nullptr ? "" : text);
}

// A label whose text is wider than its box grows, so the text is never cut
// off. A right-aligned one keeps its right edge, so a changing text (a
// percentage) never moves sideways: it grows left, up to the dialog's edge,
// and only then right.
void fitLabel(const WindowControl& control) {
    auto* label = static_cast<QLabel*>(control.native->widget);
    const int32_t needed = label->fontMetrics().horizontalAdvance(label->text()) + 1;
    QRect rect = control.native->templateRect;
    if (needed <= rect.width()) {
        label->setGeometry(rect);
        return;
    }
    if (control.styles & StyleRightAligned) rect.setLeft(std::max(0, rect.right() + 1 - needed));
    if (rect.width() < needed) rect.setWidth(needed);
    label->setGeometry(rect);
}

void showProgressState(const WindowControl& control) {
    auto* bar = static_cast<QProgressBar*>(control.native->widget);
    if (control.rangeMaximum > control.rangeMinimum) {
        bar->setRange(control.rangeMinimum, control.rangeMaximum);
        bar->setValue(control.position);
    } else {
        // An empty range shows an empty bar; the widget's own (0, 0) range
        // would animate as busy.
        bar->setRange(0, 1);
        bar->setValue(0);
    }
}

constexpr const char* OpenListHeight = "vudOpenListHeight";

// As many rows as the opened list's height in the template holds, measured
// on the rows themselves once there are any.
void fitOpenList(QComboBox* list) {
    const int32_t room = list->property(OpenListHeight).toInt();
    const int32_t frame = 2 * (list->view()->frameWidth() + 1);
    int32_t rowHeight = list->count() > 0 ? list->view()->sizeHintForRow(0) : 0;
    if (rowHeight < 1) rowHeight = list->fontMetrics().height() + 4;
    list->setMaxVisibleItems(std::max(1, (room - frame) / rowHeight));
}

QIcon iconOfResource(int32_t resourceId) {
    QIcon icon;
    if (resourceId <= 0) return icon;
    QDirIterator files(QStringLiteral(":/icons/%1").arg(resourceId), QDir::Files);
    while (files.hasNext()) icon.addFile(files.next());
    return icon;
}

QWidget* createControl(WindowHandle dialog, QWidget* parent, const ControlTemplate& entry,
                       DialogBaseUnits units, QRect* rect) {
    *rect =
        QRect(dialogUnitsToPixels(entry.x, units.x, 4), dialogUnitsToPixels(entry.y, units.y, 8),
              dialogUnitsToPixels(entry.width, units.x, 4),
              dialogUnitsToPixels(entry.height, units.y, 8));
    const int32_t id = entry.id;
    switch (entry.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(textOf(entry.text), parent);
            // Enter is handled by the dialog; a focused button still clicks itself.
            button->setAutoDefault(false);
            button->setDefault(entry.kind == ControlKind::DefaultPushButton);
            QObject::connect(button, &QPushButton::clicked, button,
                             commandSender(dialog, id, NotifyClicked));
            return button;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(textOf(entry.text), parent);
            edit->setFrame((entry.styles & StyleBorder) != 0);
            // Drops go to the dialog, which knows what a path means here.
            edit->setAcceptDrops(false);
            // Typed changes; the program's own changes notify in windowSetItemText.
            QObject::connect(edit, &QLineEdit::textEdited, edit,
                             commandSender(dialog, id, NotifyEditChanged));
            return edit;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(
                ((entry.styles & StyleRightAligned) ? Qt::AlignRight : Qt::AlignLeft) |
                Qt::AlignTop);
            label->setText(textOf(entry.text));
            return label;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            return bar;
        }
        case ControlKind::DropDownList: {
            auto* list = new QComboBox(parent);
            list->setEditable(false);
            // A scrolling list below the field, as on Windows, rather than a
            // menu of every row over it: only then are the visible rows limited.
            list->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
            // The template's height includes the opened list.
            const int32_t closedHeight = std::min(list->sizeHint().height(), rect->height());
            list->setProperty(OpenListHeight, rect->height() - closedHeight);
            fitOpenList(list);
            rect->setHeight(closedHeight);
            // User choices only; selecting from the program does not notify.
            QObject::connect(list, &QComboBox::activated, list,
                             commandSender(dialog, id, NotifyListSelChanged));
            return list;
        }
    }
    return nullptr;
}

int32_t copyText(const QString& text, char* buffer, int32_t capacity) {
    const QByteArray bytes = text.toUtf8();
    return windowcore::copyText(buffer, capacity, bytes.constData(),
                                static_cast<size_t>(bytes.size()));
}

QComboBox* comboOf(const WindowControl& list) {
    return static_cast<QComboBox*>(list.native->widget);
}

}  // namespace
}  // namespace qtlayer

using namespace qtlayer;

namespace windowbackend {

bool create(PlatformWindow* dialog, const DialogTemplate* dialogTemplate) {
    auto* native = new NativeDialog{};
    dialog->native = native;
    auto* widget = new DialogWidget(dialog);
    native->widget = widget;
    widget->setWindowTitle(textOf(dialogTemplate->title));
    const QFont font = dialogFont(dialogTemplate->fontName, dialogTemplate->fontPointSize);
    widget->setFont(font);
    const DialogBaseUnits units = dialogBaseUnits(font);
    widget->setFixedSize(dialogUnitsToPixels(dialogTemplate->width, units.x, 4),
                         dialogUnitsToPixels(dialogTemplate->height, units.y, 8));

    // Reserved once: the controls' records point into it.
    native->controls.reserve(static_cast<size_t>(dialog->controlCount));
    QWidget* previousTabStop = nullptr;
    for (int32_t i = 0; i < dialog->controlCount; ++i) {
        const ControlTemplate& entry = dialogTemplate->controls[i];
        QRect rect;
        QWidget* control = createControl(dialog, widget, entry, units, &rect);
        if (control == nullptr) return false;
        // Labels and bars take no focus (the widgets' own policy); the others
        // take it by Tab when they are tab stops, else by a click only.
        if (control->focusPolicy() != Qt::NoFocus) {
            control->setFocusPolicy((entry.styles & StyleTabStop) ? Qt::StrongFocus
                                                                  : Qt::ClickFocus);
        }
        control->setGeometry(rect);
        native->controls.push_back({control, rect});
        dialog->controls[i].native = &native->controls.back();
        if (entry.kind == ControlKind::ProgressBar) showProgressState(dialog->controls[i]);
        if (control->focusPolicy() == Qt::StrongFocus) {
            if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, control);
            previousTabStop = control;
        }
    }

    for (const WindowControl& control : controlsOf(dialog)) {
        if (control.kind == ControlKind::Label) fitLabel(control);
    }

    const QIcon icon = iconOfResource(dialogTemplate->iconResourceId);
    if (!icon.isNull()) {
        widget->setWindowIcon(icon);
        QApplication::setWindowIcon(icon);
    }
    // The dialog's place in the template; start-up moves it afterwards.
    widget->move(0, 0);
    // The window exists from here on, as on Windows, and knows its frame.
    widget->winId();
    return true;
}

void initialized(PlatformWindow* dialog, bool focusFirst) {
    if (!focusFirst) return;
    for (const NativeControl& control : dialog->native->controls) {
        if (control.widget->focusPolicy() == Qt::StrongFocus && control.widget->isEnabled()) {
            control.widget->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void destroy(PlatformWindow* dialog) {
    // Owned boxes go first, as owned windows do on Windows.
    endModalsOwnedBy(dialog);
    if (QDialog* widget = dialog->native->widget.data()) {
        widget->hide();
        // One of its own handlers may be on the stack (the close box).
        widget->deleteLater();
    }
}

void release(PlatformWindow* dialog) {
    delete dialog->native->widget.data();
    delete dialog->native;
}

void setTitle(PlatformWindow* dialog, const char* title) {
    dialog->native->widget->setWindowTitle(textOf(title));
}

// Buttons, edits and labels alike hold their text in the property "text".
void setText(PlatformWindow*, WindowControl& control, const char* text) {
    control.native->widget->setProperty("text", textOf(text));
    if (control.kind == ControlKind::Label) fitLabel(control);
}

int32_t text(const WindowControl& control, char* buffer, int32_t capacity) {
    return copyText(control.native->widget->property("text").toString(), buffer, capacity);
}

void enable(WindowControl& control, bool enable) {
    control.native->widget->setEnabled(enable);
}

bool isEnabled(const WindowControl& control) {
    return control.native->widget->isEnabled();
}

void progressChanged(PlatformWindow*, WindowControl& bar, bool) {
    showProgressState(bar);
}

int32_t listAdd(WindowControl& list, const char* text) {
    QComboBox* combo = comboOf(list);
    const int32_t selection = combo->currentIndex();
    combo->addItem(textOf(text));
    if (combo->count() == 1) fitOpenList(combo);
    // Adding a row selects nothing, unlike the widget's first row.
    if (selection < 0) combo->setCurrentIndex(-1);
    return combo->count() - 1;
}

int32_t listSelect(WindowControl& list, const char* text) {
    QComboBox* combo = comboOf(list);
    const int32_t row = combo->findText(textOf(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (row >= 0) combo->setCurrentIndex(row);
    return row;
}

int32_t listSelection(const WindowControl& list) {
    return comboOf(list)->currentIndex();
}

int32_t listSelectionText(const WindowControl& list, char* buffer, int32_t capacity) {
    // Empty without a selection.
    return copyText(comboOf(list)->currentText(), buffer, capacity);
}

void getRect(PlatformWindow* dialog, WindowRect* rect) {
    const QRect frame = dialog->native->widget->frameGeometry();
    *rect = {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
}

bool move(PlatformWindow* dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    QDialog* widget = dialog->native->widget.data();
    const QRect frame = widget->frameGeometry();
    const int32_t clientWidth = width - (frame.width() - widget->width());
    const int32_t clientHeight = height - (frame.height() - widget->height());
    if (clientWidth < 0 || clientHeight < 0) return false;
    if (clientWidth != widget->width() || clientHeight != widget->height()) {
        widget->setFixedSize(clientWidth, clientHeight);
    }
    // A window's position is that of its frame.
    widget->move(x, y);
    return true;
}

void show(PlatformWindow* dialog, ShowCommand command) {
    QDialog* widget = dialog->native->widget.data();
    switch (command) {
        case ShowCommand::Hide:
            widget->hide();
            return;
        case ShowCommand::Normal:
        case ShowCommand::Restore:
            widget->setWindowState(widget->windowState() &
                                   ~(Qt::WindowMinimized | Qt::WindowMaximized));
            widget->show();
            return;
        case ShowCommand::Show:
            widget->show();
            return;
    }
}

void bringToFront(PlatformWindow* dialog) {
    QDialog* widget = dialog->native->widget.data();
    widget->raise();
    widget->activateWindow();
}

void screenSize(int32_t* width, int32_t* height) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        *width = screen->geometry().width();
        *height = screen->geometry().height();
    }
}

int32_t droppedPath(PlatformWindow*, char* buffer, int32_t capacity) {
    if (draggedPath.isEmpty()) return -1;
    return copyText(QString::fromUtf8(draggedPath), buffer, capacity);
}

}  // namespace windowbackend
