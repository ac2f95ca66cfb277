// What the Qt backend adds to the window layer's contract (see
// tests/window/window_contract.h, run over this backend by
// qt_contract_test.cpp): the dialog built from its template, the platform's
// keyboard and notification behaviour, message boxes and the folder browser
// with their own loops.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "app/dialog_resource.h"
#include "window/qt/qt_dialog_font.h"
#include "tests/gui/gui_support.h"
#include "tests/window/test_dialog.h"

namespace {

int32_t toPixelsX(int32_t units, DialogBaseUnits base) {
    return dialogUnitsToPixels(units, base.x, 4);
}
int32_t toPixelsY(int32_t units, DialogBaseUnits base) {
    return dialogUnitsToPixels(units, base.y, 8);
}

// The shown top-level window of that class; a responder runs before the
// layer records the window as open.
QWidget* shownWindow(const char* className) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->inherits(className)) return window;
    }
    return nullptr;
}

class QtDialog : public ::testing::Test {
protected:
    void SetUp() override {
        testDialogMessages.clear();
        qtTestClearMessageBoxes();
        qtTestSetMessageBoxResponder(nullptr);
        dialog = windowCreateDialog(&testTemplate, testDialogProcedure);
        ASSERT_NE(dialog, nullptr);
        testDialogMessages.clear();
    }
    void TearDown() override {
        if (windowIsAlive(dialog)) windowDestroy(dialog);
        qtTestSetMessageBoxResponder(nullptr);
        qtTestSetFolderBrowserResponder(nullptr);
    }
    WindowHandle dialog = nullptr;
};

TEST(QtDialogLayout, MainDialogIsLaidOutInDialogUnitsOfItsMappedFont) {
    WindowHandle dialog = windowCreateDialog(&mainDialogTemplate, testDialogProcedure);
    ASSERT_NE(dialog, nullptr);
    QDialog* widget = qtTestDialogWidget(dialog);
    ASSERT_NE(widget, nullptr);

    EXPECT_EQ(QFontInfo(widget->font()).family(), QStringLiteral("IPAPGothic"));
    EXPECT_EQ(QFontInfo(widget->font()).pointSize(), 9);
    const DialogBaseUnits base = dialogBaseUnits(widget->font());
    EXPECT_EQ(widget->size(), QSize(toPixelsX(211, base), toPixelsY(125, base)));
    EXPECT_TRUE(widget->findChildren<QMenuBar*>().isEmpty());

    for (int32_t i = 0; i < mainDialogTemplate.controlCount; ++i) {
        const ControlTemplate& entry = mainDialogTemplate.controls[i];
        if (entry.id == ControlIdNone) continue;
        QWidget* control = qtTestItemWidget(dialog, entry.id);
        ASSERT_NE(control, nullptr) << entry.id;
        const QRect rect = control->geometry();
        SCOPED_TRACE(entry.id);
        EXPECT_EQ(rect.top(), toPixelsY(entry.y, base));
        if (entry.kind == ControlKind::Label && (entry.styles & StyleRightAligned)) {
            // Right-aligned labels keep their right edge and may grow leftwards.
            EXPECT_EQ(rect.left() + rect.width(),
                      toPixelsX(entry.x, base) + toPixelsX(entry.width, base));
        } else {
            EXPECT_EQ(rect.left(), toPixelsX(entry.x, base));
            EXPECT_EQ(rect.width(), toPixelsX(entry.width, base));
        }
        if (entry.kind == ControlKind::DropDownList) {
            // The template's height includes the opened list.
            EXPECT_LE(rect.height(), toPixelsY(entry.height, base));
        } else {
            EXPECT_EQ(rect.height(), toPixelsY(entry.height, base));
        }
    }

    // Resource order is the tab order.
    std::vector<int32_t> tabOrder;
    QWidget* start = qtTestItemWidget(dialog, StartButton);
    QWidget* current = start;
    do {
        if (current->focusPolicy() & Qt::TabFocus) {
            for (int32_t id : {1000, 1001, 1002, 1003, 1005, 1006}) {
                if (qtTestItemWidget(dialog, id) == current) tabOrder.push_back(id);
            }
        }
        current = current->nextInFocusChain();
    } while (current != start && tabOrder.size() < 12);
    EXPECT_EQ(tabOrder, (std::vector<int32_t>{1006, 1000, 1001, 1002, 1003, 1005}));
    EXPECT_EQ(widget->focusWidget(), start)
        << "Initialize answered 1: the first tab stop has the focus";

    EXPECT_TRUE(itemWidget<QLabel>(dialog, PercentText)->alignment() & Qt::AlignRight);
    EXPECT_TRUE(itemWidget<QLabel>(dialog, VersionLine)->alignment() & Qt::AlignRight);
    EXPECT_FALSE(itemWidget<QProgressBar>(dialog, ProgressBar)->isTextVisible());

    // The widest texts fit their controls: nothing is cut off, and the
    // mapped font has every Japanese glyph.
    // The opened bit-rate list takes the height the template gives it, and
    // scrolls through the rows that do not fit.
    auto* list = itemWidget<QComboBox>(dialog, BitRateList);
    for (const char* row :
         {"8", "16", "24", "32", "40", "48", "56", "64", "80", "96", "112", "128", "144", "160"}) {
        windowListAddString(dialog, BitRateList, row);
    }
    list->showPopup();
    QWidget* popup = list->view()->window();
    EXPECT_LE(list->height() + popup->height(), toPixelsY(105, base));
    EXPECT_GE(list->height() + popup->height() + list->view()->sizeHintForRow(0),
              toPixelsY(105, base))
        << "as many rows as fit";
    EXPECT_GT(list->view()->verticalScrollBar()->maximum(), 0);
    list->hidePopup();

    // The percentage's right edge stays where 0-99 % put it.
    const int32_t percentRight = qtTestItemWidget(dialog, PercentText)->geometry().right();
    for (const char* percent : {"99%", "100%"}) {
        windowSetItemText(dialog, PercentText, percent);
        EXPECT_EQ(qtTestItemWidget(dialog, PercentText)->geometry().right(), percentRight)
            << percent;
    }
    windowSetItemText(dialog, VersionLine, "GOGO.DLL lame 3.100 (stand-in 1.0)");
    const auto* percent = itemWidget<QLabel>(dialog, PercentText);
    const QFontMetrics metrics = percent->fontMetrics();
    EXPECT_GT(percent->geometry().right() + 1 - metrics.horizontalAdvance(percent->text()) +
                  metrics.tightBoundingRect(percent->text()).left(),
              qtTestItemWidget(dialog, ProgressBar)->geometry().right())
        << "the grown percentage is drawn clear of the bar";
    EXPECT_LE(qtTestItemWidget(dialog, PercentText)->geometry().right(), widget->width());
    for (QLabel* label : widget->findChildren<QLabel*>()) {
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
            << label->text().toStdString();
        EXPECT_GE(label->height(), label->fontMetrics().height()) << label->text().toStdString();
        for (QChar character : label->text()) {
            EXPECT_TRUE(label->fontMetrics().inFont(character)) << label->text().toStdString();
        }
    }
    for (QPushButton* button : widget->findChildren<QPushButton*>()) {
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()));
        for (QChar character : button->text()) EXPECT_TRUE(button->fontMetrics().inFont(character));
    }
    windowDestroy(dialog);
}

TEST(QtDialogFont, UnknownWindowsFontsMapToAnInstalledGothic) {
    EXPECT_EQ(dialogFontFamilies("ＭＳ Ｐゴシック").value(0), QStringLiteral("IPAPGothic"));
    EXPECT_EQ(dialogFontFamilies("ＭＳ ゴシック").value(0), QStringLiteral("IPAGothic"));
    EXPECT_FALSE(dialogFontFamilies("No Such Font At All").isEmpty());
    EXPECT_EQ(dialogUnitsToPixels(211, 7, 4), 369);   // 369.25
    EXPECT_EQ(dialogUnitsToPixels(125, 13, 8), 203);  // 203.125
    EXPECT_EQ(dialogUnitsToPixels(6, 7, 4), 11);      // 10.5 rounds up
    EXPECT_EQ(dialogUnitsToPixels(-6, 7, 4), -11);
}

TEST_F(QtDialog, EditNotifiesForTheProgramsAndTheUsersChanges) {
    const uint32_t changed = commandParam(NameEdit, NotifyEditChanged);
    ASSERT_TRUE(windowSetItemText(dialog, NameEdit, "abc"));
    EXPECT_EQ(testDialogCommands(), std::vector<uint32_t>{changed});

    auto* field = itemWidget<QLineEdit>(dialog, NameEdit);
    field->setFocus();
    field->end(false);
    QTest::keyClicks(field, "de");
    EXPECT_EQ(testDialogCommands(), (std::vector<uint32_t>{changed, changed, changed}));
    EXPECT_EQ(itemText(dialog, NameEdit), "abcde");

    typeIntoField(field, QStringLiteral("出力フォルダ"));
    EXPECT_EQ(testDialogCommands().size(), 4u);
    EXPECT_EQ(itemText(dialog, NameEdit), "出力フォルダ");

    // A short buffer never ends inside a character.
    char shortBuffer[5];
    EXPECT_EQ(windowGetItemText(dialog, NameEdit, shortBuffer, sizeof shortBuffer), 3);
    EXPECT_STREQ(shortBuffer, "出");
}

TEST_F(QtDialog, ListNotifiesForTheUsersChoiceOnly) {
    EXPECT_EQ(windowListAddString(dialog, Choices, "8kbit/s"), 0);
    EXPECT_EQ(windowListAddString(dialog, Choices, "16kbit/s"), 1);
    EXPECT_EQ(windowListAddString(dialog, Choices, "24kbit/s"), 2);
    EXPECT_EQ(windowListGetSelection(dialog, Choices), -1) << "adding rows selects nothing";

    EXPECT_EQ(windowListSelectString(dialog, Choices, "16kbit/s"), 1);
    EXPECT_EQ(windowListSelectString(dialog, Choices, "16"), -1) << "only a whole text matches";
    EXPECT_EQ(windowListGetSelection(dialog, Choices), 1);
    EXPECT_TRUE(testDialogCommands().empty());

    auto* list = itemWidget<QComboBox>(dialog, Choices);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(windowListGetSelection(dialog, Choices), 2);
    EXPECT_EQ(testDialogCommands(),
              std::vector<uint32_t>{commandParam(Choices, NotifyListSelChanged)});
    EXPECT_EQ(itemText(dialog, Choices), "24kbit/s");
}

TEST_F(QtDialog, TheBarShowsTheClampedPositionAndNeverShowsBusy) {
    auto* bar = itemWidget<QProgressBar>(dialog, Bar);
    ASSERT_TRUE(windowSetProgressRange(dialog, Bar, 0, 10));
    ASSERT_TRUE(windowSetProgressPosition(dialog, Bar, 15));
    EXPECT_EQ(bar->value(), 10);
    windowSetProgressRange(dialog, Bar, 0, 0);
    EXPECT_NE(bar->minimum(), bar->maximum()) << "an empty range must not animate as busy";
    EXPECT_EQ(bar->value(), bar->minimum());
    EXPECT_FALSE(windowSetProgressRange(dialog, Bar, 9, 2));
    EXPECT_NE(bar->minimum(), bar->maximum());
}

TEST_F(QtDialog, EnterClicksTheDefaultOrFocusedButtonAndEscapeDoesNothing) {
    windowShow(dialog, ShowCommand::Show);
    QDialog* widget = qtTestDialogWidget(dialog);
    auto* field = itemWidget<QLineEdit>(dialog, NameEdit);
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
    const uint32_t go = commandParam(GoButton, NotifyClicked);
    EXPECT_EQ(testDialogCommands(), (std::vector<uint32_t>{go, go}));

    testDialogMessages.clear();
    auto* other = itemWidget<QPushButton>(dialog, OtherButton);
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    EXPECT_EQ(testDialogCommands(),
              std::vector<uint32_t>{commandParam(OtherButton, NotifyClicked)});

    testDialogMessages.clear();
    windowEnableItem(dialog, GoButton, false);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(testDialogCommands().empty()) << "a disabled default button is not clicked";

    // Escape is the cancel command (id 2), which the procedure may ignore;
    // the dialog itself stays.
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(testDialogCommands(), std::vector<uint32_t>{commandParam(2, NotifyClicked)});
    EXPECT_TRUE(widget->isVisible());
    EXPECT_TRUE(windowIsAlive(dialog));
}

TEST_F(QtDialog, CloseBoxSendsCloseToTheProcedure) {
    windowShow(dialog, ShowCommand::Show);
    qtTestDialogWidget(dialog)->close();
    ASSERT_EQ(testDialogMessages.size(), 2u);
    EXPECT_EQ(testDialogMessages[0].message, DialogMessage::Close);
    EXPECT_EQ(testDialogMessages[1].message, DialogMessage::Destroy);
    EXPECT_FALSE(windowIsAlive(dialog));
    EXPECT_FALSE(windowSetItemText(dialog, NameEdit, "x"));
    EXPECT_EQ(windowGetProgressPosition(dialog, Bar), -1);
}

TEST_F(QtDialog, MessageBoxesShowCaptionIconAndButtons) {
    // The toolkit's own texts are Japanese whatever the locale.
    QStringList buttonTexts;
    qtTestSetMessageBoxResponder([&buttonTexts](const MessageBoxRecord&) {
        if (QWidget* box = shownWindow("QMessageBox")) {
            for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
                buttonTexts << button->text().remove(QLatin1Char('&'));
        }
        return MessageBoxAnswer::No;
    });
    EXPECT_EQ(windowMessageBox(dialog, "上書きしますか？", "確認", MessageBoxButtons::YesNo,
                               MessageBoxIcon::Warning),
              MessageBoxAnswer::No);
    answerMessageBoxes(MessageBoxAnswer::Yes);
    EXPECT_EQ(
        windowMessageBox(dialog, "q", "c", MessageBoxButtons::YesNo, MessageBoxIcon::Question),
        MessageBoxAnswer::Yes);
    answerMessageBoxes(MessageBoxAnswer::Ok);
    EXPECT_EQ(windowMessageBox(nullptr, "alone", "VUD Data Converter", MessageBoxButtons::Ok,
                               MessageBoxIcon::Warning),
              MessageBoxAnswer::Ok);

    EXPECT_EQ(buttonTexts, (QStringList{"はい(Y)", "いいえ(N)"}));
    const std::vector<MessageBoxRecord> boxes = qtTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "上書きしますか？");
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::YesNo);
    EXPECT_EQ(boxes[0].icon, MessageBoxIcon::Warning);
    EXPECT_EQ(boxes[0].owner, dialog);
    EXPECT_EQ(boxes[1].icon, MessageBoxIcon::Question);
    EXPECT_EQ(boxes[2].owner, nullptr);
    EXPECT_EQ(boxes[2].buttons, MessageBoxButtons::Ok);

    windowDestroy(dialog);
    EXPECT_EQ(windowMessageBox(dialog, "gone", "c", MessageBoxButtons::Ok, MessageBoxIcon::None),
              MessageBoxAnswer::Failed);
    EXPECT_EQ(qtTestMessageBoxes().size(), 3u) << "no box for a destroyed owner";
}

TEST_F(QtDialog, FolderBrowserGivesTheChosenFolderOrNothing) {
    TempFolder folder;
    const std::string chosen = folder.path.substr(0, folder.path.size() - 1);
    qtTestClearFolderBrowsers();
    qtTestSetFolderBrowserResponder(
        [&chosen](const FolderBrowserRecord&) { return std::optional<std::string>(chosen); });
    char buffer[512];
    ASSERT_TRUE(windowBrowseForFolder(dialog, "フォルダの選択", "", buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), chosen);
    ASSERT_EQ(qtTestFolderBrowsers().size(), 1u);
    EXPECT_EQ(qtTestFolderBrowsers()[0].title, "フォルダの選択");
    EXPECT_EQ(qtTestFolderBrowsers()[0].owner, dialog);

    char tooSmall[4];
    EXPECT_FALSE(windowBrowseForFolder(dialog, "t", "", tooSmall, sizeof tooSmall));
    EXPECT_EQ(tooSmall[0], '\0');

    qtTestSetFolderBrowserResponder(
        [](const FolderBrowserRecord&) { return std::optional<std::string>(); });
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(windowBrowseForFolder(dialog, "t", "", buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer, 4), std::string(4, '\0')) << "a cancel clears the buffer";
}

// Where the browser opens, and what it shows there: folders, the source
// archives greyed, no other file; every column readable; the toolkit's
// texts in Japanese.
TEST_F(QtDialog, FolderBrowserOpensAtTheNearestFolderAndShowsTheArchivesGreyed) {
    TempFolder folder;
    ASSERT_TRUE(writeWholeFile(folder.path + "z001.vud", "VUDPAC"));
    ASSERT_TRUE(writeWholeFile(folder.path + "notes.txt", "-"));
    const std::string base = folder.path.substr(0, folder.path.size() - 1);
    std::vector<std::string> starts;
    QTreeView* tree = nullptr;
    QStringList buttons;
    qtTestSetFolderBrowserResponder([&](const FolderBrowserRecord& record) {
        starts.push_back(record.startFolder);
        if (tree != nullptr) return std::optional<std::string>();
        QWidget* browser = shownWindow("QFileDialog");
        if (browser == nullptr) {
            ADD_FAILURE() << "no browser shown";
            return std::optional<std::string>();
        }
        tree = browser->findChild<QTreeView*>(QStringLiteral("treeView"));
        if (tree == nullptr) {
            ADD_FAILURE() << "not the toolkit's own browser";
            return std::optional<std::string>();
        }
        for (QPushButton* button : browser->findChildren<QPushButton*>())
            buttons << button->text().remove(QLatin1Char('&'));
        // Neither the header nor any row's text is cut.
        const auto columnFits = [tree](int column) {
            const QAbstractItemView* view = tree;
            return tree->columnWidth(column) >= std::max(view->sizeHintForColumn(column),
                                                         tree->header()->sectionSizeHint(column));
        };
        serveUntil([&] {
            bool fits = tree->model()->rowCount(tree->rootIndex()) == 1;
            for (int column = 0; fits && column < tree->header()->count(); ++column)
                fits = columnFits(column);
            return fits;
        });
        const QModelIndex root = tree->rootIndex();
        EXPECT_EQ(tree->model()->rowCount(root), 1) << "notes.txt is not shown";
        const QModelIndex archive = tree->model()->index(0, 0, root);
        EXPECT_EQ(archive.data().toString(), QStringLiteral("z001.vud"));
        EXPECT_FALSE(tree->model()->flags(archive) & Qt::ItemIsEnabled) << "greyed";
        for (int column = 0; column < tree->header()->count(); ++column)
            EXPECT_TRUE(columnFits(column)) << column;
        return std::optional<std::string>();
    });
    char buffer[512];
    for (const std::string& start :
         {base, base + "/missing/deeper/vud.pac", folder.path + "z001.vud", std::string()}) {
        EXPECT_FALSE(windowBrowseForFolder(dialog, "t", start.c_str(), buffer, sizeof buffer));
    }
    const std::string home = QDir::homePath().toStdString();
    EXPECT_EQ(starts, (std::vector<std::string>{base, base, base, home}));
    EXPECT_TRUE(buttons.contains(QStringLiteral("キャンセル"))) << buttons.join(',').toStdString();
}

// Message boxes run loops of their own: they keep serving other threads'
// calls, and end with their owner or a quit.
class QtThreads : public QtDialog {};

TEST_F(QtThreads, DestroyingTheDialogEndsAMessageBoxItOwns) {
    answerMessageBoxes(MessageBoxAnswer::Failed);  // nobody answers
    std::atomic<int> answer{-1};
    std::thread worker([&] {
        answer = static_cast<int>(
            windowMessageBox(dialog, "w", "c", MessageBoxButtons::Ok, MessageBoxIcon::Warning));
    });
    // The box's own loop runs on top of ours: act from inside it.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (qtTestOpenModal() == nullptr) return;
        poll.stop();
        windowDestroy(dialog);
    });
    poll.start(5);
    EXPECT_TRUE(serveUntil([&] { return answer.load() >= 0; }));
    worker.join();
    EXPECT_EQ(answer.load(), static_cast<int>(MessageBoxAnswer::Failed));
    EXPECT_EQ(qtTestOpenModal(), nullptr);
}

TEST_F(QtThreads, AnOpenMessageBoxKeepsServingWorkerCalls) {
    std::atomic<bool> applied{false};
    std::thread worker([&] {
        // Fails at once until the box's loop serves.
        for (int i = 0; i < 5000 && !applied; ++i) {
            if (windowSetItemText(dialog, NameEdit, "during the box"))
                applied = true;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    qtTestSetMessageBoxResponder([](const MessageBoxRecord&) { return MessageBoxAnswer::Failed; });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(qtTestOpenModal());
        if (box != nullptr && applied) box->button(QMessageBox::Ok)->click();
    });
    poll.start(5);
    EXPECT_EQ(windowMessageBox(dialog, "open", "c", MessageBoxButtons::Ok, MessageBoxIcon::None),
              MessageBoxAnswer::Ok);
    worker.join();
    EXPECT_TRUE(applied);
    EXPECT_EQ(itemText(dialog, NameEdit), "during the box");
}

TEST_F(QtThreads, AQuitEndsAnOpenMessageBoxAndThenTheLoop) {
    answerMessageBoxes(MessageBoxAnswer::Failed);
    MessageBoxAnswer answer = MessageBoxAnswer::Ok;
    QTimer::singleShot(10, [&] {
        QTimer::singleShot(30, [] { windowPostQuit(4); });
        answer = windowMessageBox(dialog, "open", "c", MessageBoxButtons::Ok, MessageBoxIcon::None);
    });
    EXPECT_EQ(windowRunMessageLoop(), 4);
    EXPECT_EQ(answer, MessageBoxAnswer::Failed);
    EXPECT_EQ(qtTestOpenModal(), nullptr);
}

}  // namespace
