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
#include <cstring>

#include "platform/window_qt/qt_dialog_font.h"
#include "platform/window_qt/qt_layer_state.h"

namespace qtlayer {
namespace {

// The command that Escape sends, as the platform's dialogs do; procedures
// that do not handle it make Escape do nothing.
constexpr int32_t CancelCommandId = 2;

constexpr Qt::WindowFlags DialogWindowFlags = Qt::Window | Qt::CustomizeWindowHint |
                                              Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                              Qt::WindowCloseButtonHint;

bool isButton(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton;
}

// The control that Enter clicks: a focused push button, else the default
// push button. ControlIdNone when that control is disabled.
int32_t enterCommandId(WindowHandle dialog, QWidget* focus) {
    for (const ControlRecord& control : dialog->controls) {
        if (control.widget == focus && isButton(control.kind)) {
            return control.widget->isEnabled() ? control.id : ControlIdNone;
        }
    }
    for (const ControlRecord& control : dialog->controls) {
        if (control.kind == ControlKind::DefaultPushButton) {
            return control.widget->isEnabled() ? control.id : ControlIdNone;
        }
    }
    return ControlIdNone;
}

// The path of the drag the procedure is asked about; empty otherwise.
QByteArray droppedPath;

// The control whose widget (or a part of it) is at point, dialog coordinates.
int32_t controlIdAt(WindowHandle dialog, QWidget* widget, QPoint point) {
    for (QWidget* child = widget->childAt(point); child != nullptr && child != widget;
         child = child->parentWidget()) {
        for (const ControlRecord& control : dialog->controls) {
            if (control.widget == child) return control.id;
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
        sendToProcedure(dialog_, DialogMessage::Close, 0);
    }

    void keyPressEvent(QKeyEvent* event) override {
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        const int key = event->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
            event->accept();
            const int32_t id = enterCommandId(dialog_, focusWidget());
            if (id != ControlIdNone)
                sendToProcedure(dialog_, DialogMessage::Command, commandParam(id, NotifyClicked));
            return;
        }
        if (key == Qt::Key_Escape && modifiers == Qt::NoModifier) {
            event->accept();
            sendToProcedure(dialog_, DialogMessage::Command,
                            commandParam(CancelCommandId, NotifyClicked));
            return;
        }
        // Past QDialog's own Enter and Escape handling.
        QWidget::keyPressEvent(event);
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
        droppedPath = localPathOf(event);
        const int32_t target = controlIdAt(dialog_, this, event->position().toPoint());
        const bool taken =
            !droppedPath.isEmpty() &&
            sendToProcedure(dialog_, DialogMessage::DropPath, commandParam(target, phase)) != 0;
        droppedPath.clear();
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
void fitLabel(ControlRecord* control) {
    auto* label = static_cast<QLabel*>(control->widget);
    const int32_t needed = label->fontMetrics().horizontalAdvance(label->text()) + 1;
    QRect rect = control->templateRect;
    if (needed <= rect.width()) {
        label->setGeometry(rect);
        return;
    }
    if (control->styles & StyleRightAligned) rect.setLeft(std::max(0, rect.right() + 1 - needed));
    if (rect.width() < needed) rect.setWidth(needed);
    label->setGeometry(rect);
}

void showProgressState(ControlRecord* control) {
    auto* bar = static_cast<QProgressBar*>(control->widget);
    if (control->rangeMaximum > control->rangeMinimum) {
        bar->setRange(control->rangeMinimum, control->rangeMaximum);
        bar->setValue(control->position);
    } else {
        // An empty range shows an empty bar; the widget's own (0, 0) range
        // would animate as busy.
        bar->setRange(0, 1);
        bar->setValue(0);
    }
}

int32_t clampedPosition(const ControlRecord& control, int32_t position) {
    if (control.rangeMaximum <= control.rangeMinimum) return control.rangeMinimum;
    return std::clamp(position, control.rangeMinimum, control.rangeMaximum);
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
            QObject::connect(button, &QPushButton::clicked, button, [dialog, id] {
                sendToProcedure(dialog, DialogMessage::Command, commandParam(id, NotifyClicked));
            });
            return button;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(textOf(entry.text), parent);
            edit->setFrame((entry.styles & StyleBorder) != 0);
            // Drops go to the dialog, which knows what a path means here.
            edit->setAcceptDrops(false);
            // Typed changes; the program's own changes notify in windowSetItemText.
            QObject::connect(edit, &QLineEdit::textEdited, edit, [dialog, id] {
                sendToProcedure(dialog, DialogMessage::Command,
                                commandParam(id, NotifyEditChanged));
            });
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
            QObject::connect(list, &QComboBox::activated, list, [dialog, id] {
                sendToProcedure(dialog, DialogMessage::Command,
                                commandParam(id, NotifyListSelChanged));
            });
            return list;
        }
    }
    return nullptr;
}

Qt::FocusPolicy focusPolicyOf(const ControlTemplate& entry) {
    switch (entry.kind) {
        case ControlKind::Label:
        case ControlKind::ProgressBar:
            return Qt::NoFocus;
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::Edit:
        case ControlKind::DropDownList:
            return (entry.styles & StyleTabStop) ? Qt::StrongFocus : Qt::ClickFocus;
    }
    return Qt::NoFocus;
}

bool setItemTextNow(WindowHandle dialog, int32_t id, const char* text) {
    ControlRecord* control = findControl(dialog, id);
    if (control == nullptr) return false;
    switch (control->kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            static_cast<QPushButton*>(control->widget)->setText(textOf(text));
            return true;
        case ControlKind::Edit:
            static_cast<QLineEdit*>(control->widget)->setText(textOf(text));
            // As on Windows, setting an edit's text notifies like typing.
            sendToProcedure(dialog, DialogMessage::Command, commandParam(id, NotifyEditChanged));
            return true;
        case ControlKind::Label:
            static_cast<QLabel*>(control->widget)->setText(textOf(text));
            fitLabel(control);
            return true;
        case ControlKind::ProgressBar:
            return true;
        case ControlKind::DropDownList:
            return false;
    }
    return false;
}

QString itemTextNow(const ControlRecord& control) {
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            return static_cast<QPushButton*>(control.widget)->text();
        case ControlKind::Edit:
            return static_cast<QLineEdit*>(control.widget)->text();
        case ControlKind::Label:
            return static_cast<QLabel*>(control.widget)->text();
        case ControlKind::ProgressBar:
            return QString();
        case ControlKind::DropDownList:
            return static_cast<QComboBox*>(control.widget)->currentText();
    }
    return QString();
}

// Copies at most capacity - 1 bytes, never cutting a UTF-8 sequence.
int32_t copyText(const QString& text, char* buffer, int32_t capacity) {
    const QByteArray bytes = text.toUtf8();
    int32_t length = static_cast<int32_t>(std::min<qsizetype>(bytes.size(), capacity - 1));
    if (length < bytes.size()) {
        while (length > 0 && (static_cast<unsigned char>(bytes[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
}

QComboBox* listOf(WindowHandle dialog, int32_t id) {
    ControlRecord* control = findControl(dialog, id);
    if (control == nullptr || control->kind != ControlKind::DropDownList) return nullptr;
    return static_cast<QComboBox*>(control->widget);
}

ControlRecord* progressOf(WindowHandle dialog, int32_t id) {
    ControlRecord* control = findControl(dialog, id);
    if (control == nullptr || control->kind != ControlKind::ProgressBar) return nullptr;
    return control;
}

}  // namespace

ControlRecord* findControl(WindowHandle dialog, int32_t id) {
    if (dialog == nullptr || id == ControlIdNone) return nullptr;
    for (ControlRecord& control : dialog->controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

QDialog* dialogWidget(WindowHandle dialog) {
    return dialog == nullptr ? nullptr : dialog->widget.data();
}

int32_t sendToProcedure(WindowHandle dialog, DialogMessage message, uint32_t param) {
    if (dialog == nullptr || !dialog->alive || dialog->procedure == nullptr) return 0;
    return dialog->procedure(dialog, message, param);
}

}  // namespace qtlayer

using namespace qtlayer;

WindowHandle windowCreateDialog(const DialogTemplate* dialogTemplate, DialogProcedure procedure) {
    if (!onUiThread() || dialogTemplate == nullptr || procedure == nullptr) return nullptr;
    if (dialogTemplate->controlCount < 0 ||
        (dialogTemplate->controlCount > 0 && dialogTemplate->controls == nullptr)) {
        return nullptr;
    }
    auto* dialog = new PlatformWindow{};
    dialog->dialogTemplate = dialogTemplate;
    dialog->procedure = procedure;
    auto* widget = new DialogWidget(dialog);
    dialog->widget = widget;
    widget->setWindowTitle(textOf(dialogTemplate->title));
    const QFont font = dialogFont(dialogTemplate->fontName, dialogTemplate->fontPointSize);
    widget->setFont(font);
    const DialogBaseUnits units = dialogBaseUnits(font);
    widget->setFixedSize(dialogUnitsToPixels(dialogTemplate->width, units.x, 4),
                         dialogUnitsToPixels(dialogTemplate->height, units.y, 8));

    dialog->controls.reserve(static_cast<size_t>(dialogTemplate->controlCount));
    QWidget* previousTabStop = nullptr;
    for (int32_t i = 0; i < dialogTemplate->controlCount; ++i) {
        const ControlTemplate& entry = dialogTemplate->controls[i];
        QRect rect;
        QWidget* control = createControl(dialog, widget, entry, units, &rect);
        if (control == nullptr) continue;
        control->setFocusPolicy(focusPolicyOf(entry));
        control->setGeometry(rect);
        dialog->controls.push_back({entry.id, entry.kind, entry.styles, control, rect, 0, 100, 0});
        if (entry.kind == ControlKind::ProgressBar) showProgressState(&dialog->controls.back());
        if (control->focusPolicy() == Qt::StrongFocus) {
            if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, control);
            previousTabStop = control;
        }
    }

    for (ControlRecord& control : dialog->controls) {
        if (control.kind == ControlKind::Label) fitLabel(&control);
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
    registerDialog(dialog);

    const int32_t focusFirst = sendToProcedure(dialog, DialogMessage::Initialize, 0);
    if (!dialog->alive) return nullptr;
    if (focusFirst != 0) {
        for (const ControlRecord& control : dialog->controls) {
            if (control.widget->focusPolicy() == Qt::StrongFocus && control.widget->isEnabled()) {
                control.widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return dialog;
}

void windowDestroy(WindowHandle dialog) {
    if (!onUiThread() || !dialogAlive(dialog)) return;
    // Owned boxes go first, as owned windows do on Windows.
    endModalsOwnedBy(dialog, false);
    sendToProcedure(dialog, DialogMessage::Destroy, 0);
    retireDialog(dialog);
    if (QDialog* widget = dialog->widget.data()) {
        widget->hide();
        // One of its own handlers may be on the stack (the close box).
        widget->deleteLater();
    }
}

bool windowSetTitle(WindowHandle dialog, const char* title) {
    return runOnUiThread(dialog, true, [&] { dialog->widget->setWindowTitle(textOf(title)); });
}

bool windowSetItemText(WindowHandle dialog, int32_t id, const char* text) {
    bool done = false;
    runOnUiThread(dialog, true, [&] { done = setItemTextNow(dialog, id, text); });
    return done;
}

int32_t windowGetItemText(WindowHandle dialog, int32_t id, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    int32_t length = -1;
    runOnUiThread(dialog, true, [&] {
        const ControlRecord* control = findControl(dialog, id);
        if (control != nullptr) length = copyText(itemTextNow(*control), buffer, capacity);
    });
    return length;
}

int32_t windowGetDroppedPath(WindowHandle dialog, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    buffer[0] = '\0';
    if (!onUiThread() || !dialogAlive(dialog) || droppedPath.isEmpty()) return -1;
    return copyText(QString::fromUtf8(droppedPath), buffer, capacity);
}

bool windowEnableItem(WindowHandle dialog, int32_t id, bool enable) {
    bool done = false;
    runOnUiThread(dialog, true, [&] {
        ControlRecord* control = findControl(dialog, id);
        if (control == nullptr) return;
        control->widget->setEnabled(enable);
        done = true;
    });
    return done;
}

bool windowIsItemEnabled(WindowHandle dialog, int32_t id) {
    bool enabled = false;
    runOnUiThread(dialog, true, [&] {
        const ControlRecord* control = findControl(dialog, id);
        enabled = control != nullptr && control->widget->isEnabled();
    });
    return enabled;
}

bool windowSetProgressRange(WindowHandle dialog, int32_t id, int32_t minimum, int32_t maximum) {
    bool done = false;
    runOnUiThread(dialog, true, [&] {
        ControlRecord* control = progressOf(dialog, id);
        if (control == nullptr) return;
        control->rangeMinimum = minimum;
        control->rangeMaximum = maximum;
        control->position = clampedPosition(*control, control->position);
        showProgressState(control);
        done = true;
    });
    return done;
}

bool windowSetProgressPosition(WindowHandle dialog, int32_t id, int32_t position) {
    bool done = false;
    runOnUiThread(dialog, true, [&] {
        ControlRecord* control = progressOf(dialog, id);
        if (control == nullptr) return;
        control->position = clampedPosition(*control, position);
        showProgressState(control);
        done = true;
    });
    return done;
}

int32_t windowGetProgressPosition(WindowHandle dialog, int32_t id) {
    int32_t position = -1;
    runOnUiThread(dialog, true, [&] {
        const ControlRecord* control = progressOf(dialog, id);
        if (control != nullptr) position = control->position;
    });
    return position;
}

int32_t windowListAddString(WindowHandle dialog, int32_t id, const char* text) {
    int32_t row = -1;
    runOnUiThread(dialog, true, [&] {
        QComboBox* list = listOf(dialog, id);
        if (list == nullptr) return;
        const int32_t selection = list->currentIndex();
        list->addItem(textOf(text));
        if (list->count() == 1) fitOpenList(list);
        // Adding a row selects nothing, unlike the widget's first row.
        if (selection < 0) list->setCurrentIndex(-1);
        row = list->count() - 1;
    });
    return row;
}

int32_t windowListSelectString(WindowHandle dialog, int32_t id, const char* text) {
    int32_t row = -1;
    runOnUiThread(dialog, true, [&] {
        QComboBox* list = listOf(dialog, id);
        if (list == nullptr) return;
        row = list->findText(textOf(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (row >= 0) list->setCurrentIndex(row);
    });
    return row;
}

int32_t windowListGetSelection(WindowHandle dialog, int32_t id) {
    int32_t row = -1;
    runOnUiThread(dialog, true, [&] {
        const QComboBox* list = listOf(dialog, id);
        if (list != nullptr) row = list->currentIndex();
    });
    return row;
}

bool windowGetRect(WindowHandle dialog, WindowRect* rect) {
    if (rect == nullptr) return false;
    return runOnUiThread(dialog, true, [&] {
        const QRect frame = dialog->widget->frameGeometry();
        *rect = {frame.left(), frame.top(), frame.left() + frame.width(),
                 frame.top() + frame.height()};
    });
}

bool windowMove(WindowHandle dialog, int32_t x, int32_t y, int32_t width, int32_t height) {
    bool done = false;
    runOnUiThread(dialog, true, [&] {
        QDialog* widget = dialog->widget.data();
        const QRect frame = widget->frameGeometry();
        const int32_t clientWidth = width - (frame.width() - widget->width());
        const int32_t clientHeight = height - (frame.height() - widget->height());
        if (clientWidth < 0 || clientHeight < 0) return;
        if (clientWidth != widget->width() || clientHeight != widget->height()) {
            widget->setFixedSize(clientWidth, clientHeight);
        }
        // A window's position is that of its frame.
        widget->move(x, y);
        done = true;
    });
    return done;
}

bool windowShow(WindowHandle dialog, ShowCommand command) {
    return runOnUiThread(dialog, true, [&] {
        QDialog* widget = dialog->widget.data();
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
    });
}

bool windowBringToFront(WindowHandle dialog) {
    return runOnUiThread(dialog, true, [&] {
        QDialog* widget = dialog->widget.data();
        widget->raise();
        widget->activateWindow();
    });
}

int32_t windowScreenWidth() {
    int32_t width = 0;
    runOnUiThread(nullptr, false, [&] {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            width = screen->geometry().width();
    });
    return width;
}

int32_t windowScreenHeight() {
    int32_t height = 0;
    runOnUiThread(nullptr, false, [&] {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            height = screen->geometry().height();
    });
    return height;
}
