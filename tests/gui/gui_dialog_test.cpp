// The main dialog on the Qt backend, driven as a user drives it: keys,
// clicks, typed (also Japanese) text, the folder browser and the answers to
// its questions.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <cstring>
#include <memory>

#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "app/shell_state.h"
#include "app/startup.h"
#include "app/status_services.h"
#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/gui/gui_support.h"
#include "worker/conversion_worker.h"
#include "worker/worker_state.h"

namespace {

constexpr const char* NoSourceWarning = "VUDデータの場所を指定してください.";
constexpr const char* NoOutputWarning = "作成データ出力先を指定してください.";

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        workerState.store(WorkerIdle);
        sourceFolder[0] = '\0';
        bitRateSelection.store(InitialBitRateSelection);
        std::snprintf(outputPath, sizeof outputPath, "%svud.pac", scratch.path.c_str());
        qtTestClearMessageBoxes();
        qtTestClearFolderBrowsers();
        answerMessageBoxes(MessageBoxAnswer::Ok);
        mainDialog = windowCreateDialog(&mainDialogTemplate, mainDialogProc);
        ASSERT_NE(mainDialog, nullptr);
        windowShow(mainDialog, ShowCommand::Show);
    }

    void TearDown() override {
        if (windowIsAlive(mainDialog)) windowDestroy(mainDialog);
        mainDialog = nullptr;
        workerState.store(WorkerIdle);
        qtTestSetMessageBoxResponder(nullptr);
        qtTestSetFolderBrowserResponder(nullptr);
    }

    QLineEdit* sourceField() { return itemWidget<QLineEdit>(mainDialog, SourceFolderEdit); }
    QLineEdit* outputField() { return itemWidget<QLineEdit>(mainDialog, OutputPathEdit); }
    QPushButton* button(int32_t id) { return itemWidget<QPushButton>(mainDialog, id); }

    bool inputsEnabled(bool enabled) {
        for (int32_t id : {SourceFolderEdit, OutputPathEdit, BrowseSourceButton, BrowseOutputButton,
                           BitRateList}) {
            if (windowIsItemEnabled(mainDialog, id) != enabled) return false;
        }
        return true;
    }

    void resetToIdle() {
        workerState.store(WorkerIdle);
        setInputsEnabled(mainDialog, true);
        windowEnableItem(mainDialog, StartButton, true);
    }

    TempFolder scratch;
};

TEST_F(MainDialogTest, EnterInEitherFieldStartsAndEscapeDoesNothing) {
    typeIntoField(sourceField(), QString::fromStdString(scratch.path));
    EXPECT_STREQ(sourceFolder, scratch.path.c_str());

    QTest::keyClick(sourceField(), Qt::Key_Escape);
    EXPECT_EQ(workerState.load(), WorkerIdle);
    EXPECT_TRUE(qtTestDialogWidget(mainDialog)->isVisible());
    EXPECT_TRUE(windowIsAlive(mainDialog));
    EXPECT_TRUE(qtTestMessageBoxes().empty());

    QTest::keyClick(sourceField(), Qt::Key_Return);
    EXPECT_EQ(workerState.load(), WorkerStartRequested);
    EXPECT_TRUE(inputsEnabled(false));
    EXPECT_FALSE(windowIsItemEnabled(mainDialog, StartButton));

    resetToIdle();
    outputField()->setFocus();
    QTest::keyClick(outputField(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(workerState.load(), WorkerStartRequested);
    EXPECT_TRUE(qtTestMessageBoxes().empty()) << describeBox(qtTestMessageBoxes().at(0));
}

TEST_F(MainDialogTest, BrowsingFillsTheFieldsAndTheOutputGetsTheArchiveName) {
    const std::string folder = scratch.path.substr(0, scratch.path.size() - 1);
    qtTestSetFolderBrowserResponder(
        [&folder](const FolderBrowserRecord&) { return std::optional<std::string>(folder); });
    QTest::mouseClick(button(BrowseSourceButton), Qt::LeftButton);
    EXPECT_EQ(itemText(mainDialog, SourceFolderEdit), folder + "/");
    EXPECT_STREQ(sourceFolder, (folder + "/").c_str());

    QTest::mouseClick(button(BrowseOutputButton), Qt::LeftButton);
    EXPECT_EQ(itemText(mainDialog, OutputPathEdit), folder + "/vud.pac");
    EXPECT_STREQ(outputPath, (folder + "/vud.pac").c_str());

    const std::vector<FolderBrowserRecord> browsers = qtTestFolderBrowsers();
    ASSERT_EQ(browsers.size(), 2u);
    EXPECT_EQ(browsers[0].title, "フォルダの選択");
    EXPECT_EQ(browsers[1].owner, mainDialog);
    // Each opens where its field points: the empty source field at home,
    // the output at the default output's folder.
    EXPECT_EQ(browsers[0].startFolder, QDir::homePath().toStdString());
    EXPECT_EQ(browsers[1].startFolder, folder);

    // A cancelled browser leaves both fields and buffers as they were.
    qtTestSetFolderBrowserResponder(
        [](const FolderBrowserRecord&) { return std::optional<std::string>(); });
    QTest::mouseClick(button(BrowseSourceButton), Qt::LeftButton);
    QTest::mouseClick(button(BrowseOutputButton), Qt::LeftButton);
    EXPECT_EQ(itemText(mainDialog, SourceFolderEdit), folder + "/");
    EXPECT_STREQ(outputPath, (folder + "/vud.pac").c_str());
}

TEST_F(MainDialogTest, ATypedOutputNameIsUsedAsTyped) {
    const std::string typed = scratch.path + "変換後の音声.bin";
    typeIntoField(outputField(), QString::fromStdString(typed));
    EXPECT_STREQ(outputPath, typed.c_str());
    EXPECT_EQ(itemText(mainDialog, OutputPathEdit), typed);

    outputField()->end(false);
    QTest::keyClicks(outputField(), ".x");
    EXPECT_STREQ(outputPath, (typed + ".x").c_str());

    typeIntoField(sourceField(), QStringLiteral("/no/closing/separator"));
    EXPECT_STREQ(sourceFolder, "/no/closing/separator")
        << "a typed folder is used exactly as typed";
}

// The scan uses the text as a prefix: a typed folder gets its closing '/'
// at the start request, shown in the field; other text stays as typed.
TEST_F(MainDialogTest, ATypedFolderGetsItsSeparatorAtTheStart) {
    const std::string folder = scratch.path.substr(0, scratch.path.size() - 1);
    ASSERT_TRUE(writeWholeFile(scratch.path + "file", "x"));
    for (const std::string& typed : {folder + "/file", folder + "/missing", folder}) {
        resetToIdle();
        typeIntoField(sourceField(), QString::fromStdString(typed));
        QTest::mouseClick(button(StartButton), Qt::LeftButton);
        const std::string expected = typed == folder ? scratch.path : typed;
        EXPECT_EQ(itemText(mainDialog, SourceFolderEdit), expected);
        EXPECT_STREQ(sourceFolder, expected.c_str());
        EXPECT_EQ(workerState.load(), WorkerStartRequested);
    }
}

// Drags as a file manager makes them, over the field (or any place) and
// released there.
bool dragAndDrop(QWidget* target, const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_EQ(move.isAccepted(), drop.isAccepted()) << "the hover foretells the drop";
    return drop.isAccepted();
}

TEST_F(MainDialogTest, DroppedFoldersAndFilesFillTheFields) {
    const std::string folder = scratch.path.substr(0, scratch.path.size() - 1);
    const std::string file = scratch.path + "old.pac";
    ASSERT_TRUE(writeWholeFile(file, "x"));
    QWidget* bar = qtTestItemWidget(mainDialog, ProgressBar);

    EXPECT_TRUE(dragAndDrop(sourceField(), {folder}));
    EXPECT_EQ(itemText(mainDialog, SourceFolderEdit), scratch.path);
    typeIntoField(sourceField(), QString());
    EXPECT_TRUE(dragAndDrop(bar, {folder})) << "anywhere but the output field";
    EXPECT_STREQ(sourceFolder, scratch.path.c_str());
    EXPECT_TRUE(dragAndDrop(outputField(), {folder}));
    EXPECT_EQ(itemText(mainDialog, OutputPathEdit), scratch.path + "vud.pac");
    EXPECT_TRUE(dragAndDrop(outputField(), {file}));
    EXPECT_STREQ(outputPath, file.c_str());

    // Refused: a file as the source, several paths, anything during a run.
    typeIntoField(sourceField(), QStringLiteral("kept"));
    EXPECT_FALSE(dragAndDrop(sourceField(), {file}));
    EXPECT_FALSE(dragAndDrop(sourceField(), {folder, folder}));
    setInputsEnabled(mainDialog, false);
    EXPECT_FALSE(dragAndDrop(sourceField(), {folder}));
    EXPECT_FALSE(dragAndDrop(bar, {folder}));
    EXPECT_FALSE(dragAndDrop(outputField(), {scratch.path + "new.pac"}));
    EXPECT_EQ(itemText(mainDialog, SourceFolderEdit), "kept");
    EXPECT_STREQ(outputPath, file.c_str());
}

TEST_F(MainDialogTest, ChoosingTheRow128StoresRow11) {
    EXPECT_EQ(itemText(mainDialog, BitRateList), "32kbit/s");
    auto* list = itemWidget<QComboBox>(mainDialog, BitRateList);
    ASSERT_EQ(list->count(), BitRateRowCount);
    for (int i = 0; i < 8; ++i) QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(itemText(mainDialog, BitRateList), "128kbit/s");
    EXPECT_EQ(bitRateSelection.load(), 11);
}

TEST_F(MainDialogTest, EmptyFieldsWarnAndOnlyTheFirst) {
    typeIntoField(outputField(), QString());
    ASSERT_STREQ(outputPath, "");
    QTest::mouseClick(button(StartButton), Qt::LeftButton);
    std::vector<MessageBoxRecord> boxes = qtTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, NoSourceWarning);
    EXPECT_EQ(boxes[0].caption, "VUD Data Converter");
    EXPECT_EQ(boxes[0].icon, MessageBoxIcon::Warning);
    EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::Ok);
    EXPECT_EQ(boxes[0].owner, mainDialog);
    EXPECT_EQ(workerState.load(), WorkerIdle);
    EXPECT_TRUE(windowIsItemEnabled(mainDialog, StartButton));
    EXPECT_TRUE(inputsEnabled(true));

    typeIntoField(sourceField(), QString::fromStdString(scratch.path));
    QTest::mouseClick(button(StartButton), Qt::LeftButton);
    boxes = qtTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, NoOutputWarning);
    EXPECT_EQ(workerState.load(), WorkerIdle);
}

TEST_F(MainDialogTest, TheOverwriteQuestionAnsweredNoChangesNothing) {
    const std::string existing = scratch.path + "既存.pac";
    ASSERT_TRUE(writeWholeFile(existing, "keep"));
    typeIntoField(sourceField(), QString::fromStdString(scratch.path));
    typeIntoField(outputField(), QString::fromStdString(existing));

    answerMessageBoxes(MessageBoxAnswer::No);
    QTest::mouseClick(button(StartButton), Qt::LeftButton);
    const std::vector<MessageBoxRecord> boxes = qtTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, existing + " は既に存在しています.\n上書きしますか？");
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::YesNo);
    EXPECT_EQ(boxes[0].icon, MessageBoxIcon::Warning);
    EXPECT_EQ(workerState.load(), WorkerIdle);
    EXPECT_TRUE(windowIsItemEnabled(mainDialog, StartButton));
    EXPECT_TRUE(inputsEnabled(true));
    EXPECT_EQ(readWholeFile(existing), "keep");

    answerMessageBoxes(MessageBoxAnswer::Yes);
    QTest::mouseClick(button(StartButton), Qt::LeftButton);
    EXPECT_EQ(workerState.load(), WorkerStartRequested);
}

TEST_F(MainDialogTest, TheCancelPressDisablesTheButtonAtOnce) {
    ASSERT_NE(loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH), 0);
    fakeEncoderReset();
    fakeEncoderBlockAtEntry(1);
    ApplicationRun run{};
    ASSERT_TRUE(startWorker(mainDialog, &run));

    TempFolder source;
    ASSERT_TRUE(copyFolderFiles(sourceTreePath("samples/voice"), source.path));
    typeIntoField(sourceField(), QString::fromStdString(source.path));
    typeIntoField(outputField(), QString::fromStdString(scratch.path + "out.pac"));
    auto serving = std::make_unique<ServingScope>();
    QTest::mouseClick(button(StartButton), Qt::LeftButton);
    const bool blocked = serveUntil([this] {
        return fakeEncoderWaitUntilBlocked(1) == 1 && workerState.load() == WorkerRunning &&
               windowIsItemEnabled(mainDialog, StartButton);
    });
    if (!blocked) {
        fakeEncoderRelease();
        serveUntil([] { return workerState.load() == WorkerIdle; });
        serving.reset();
        stopWorker(&run);
        FAIL() << "the run never reached the blocked entry with the cancel button enabled";
    }
    EXPECT_EQ(itemText(mainDialog, StartButton), CancelCaption);

    QTest::mouseClick(button(StartButton), Qt::LeftButton);
    EXPECT_FALSE(windowIsItemEnabled(mainDialog, StartButton));
    EXPECT_EQ(workerState.load(), WorkerStopping);

    fakeEncoderRelease();
    // The button comes back only with its start caption, in the stop step:
    // never as a cancel button while the archive in progress is finished.
    bool enabledTooEarly = false;
    EXPECT_TRUE(serveUntil([&] {
        const bool enabled = windowIsItemEnabled(mainDialog, StartButton);
        if (enabled && itemText(mainDialog, StartButton) == CancelCaption) enabledTooEarly = true;
        return workerState.load() == WorkerIdle && enabled;
    }));
    serving.reset();
    EXPECT_FALSE(enabledTooEarly);
    EXPECT_EQ(itemText(mainDialog, StartButton), StartCaption);
    EXPECT_TRUE(inputsEnabled(true));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_FALSE(fileExists(scratch.path + "out.pac")) << "a cancelled run leaves no output";

    EXPECT_TRUE(stopWorker(&run));
    unloadEncoderLibrary();
}

}  // namespace
