// The status services' calls into the window layer: which controls, in which
// order, with which values.
#include <gtest/gtest.h>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "app/status_services.h"
#include "tests/shell/recording_window_layer.h"
#include "worker/source_scan.h"

namespace {

WindowHandle fakeDialog() {
    return reinterpret_cast<WindowHandle>(0x1000);
}

class StatusServicesOrder : public ::testing::Test {
protected:
    void SetUp() override {
        recordedCalls.clear();
        recordedBoxAnswer = MessageBoxAnswer::Ok;
        mainDialog = fakeDialog();
    }
    void TearDown() override { mainDialog = nullptr; }
};

TEST_F(StatusServicesOrder, InputsToggleInOrderWithoutTheStartButton) {
    for (bool enable : {false, true}) {
        recordedCalls.clear();
        setInputsEnabled(fakeDialog(), enable);
        std::vector<int32_t> ids;
        for (const RecordedCall& call : recordedCalls) {
            EXPECT_EQ(call.what, "enable");
            EXPECT_EQ(call.dialog, fakeDialog());
            EXPECT_EQ(call.first, enable ? 1 : 0);
            ids.push_back(call.id);
        }
        EXPECT_EQ(ids, (std::vector<int32_t>{1000, 1002, 1001, 1003, 1005}));
    }
}

TEST_F(StatusServicesOrder, WarningIsCaptionedAndOwnedByTheDialog) {
    showWarning("text");
    mainDialog = nullptr;  // before start-up has made the dialog
    showWarning("early");
    ASSERT_EQ(recordedCalls.size(), 2u);
    EXPECT_EQ(recordedCalls[0].dialog, fakeDialog());
    EXPECT_EQ(recordedCalls[0].text, "VUD Data Converter|text");
    EXPECT_EQ(recordedCalls[0].first, static_cast<int64_t>(MessageBoxButtons::Ok));
    EXPECT_EQ(recordedCalls[0].second, static_cast<int64_t>(MessageBoxIcon::Warning));
    EXPECT_EQ(recordedCalls[1].dialog, nullptr);
    EXPECT_EQ(recordedCalls[1].text, "VUD Data Converter|early");
}

TEST_F(StatusServicesOrder, WarningNobodyCanShowGoesToStandardError) {
    recordedBoxAnswer = MessageBoxAnswer::Failed;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(showWarning("フォルダ x 内に\nVUDファイルは見つかりませんでした."),
              MessageBoxAnswer::Failed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "VUD Data Converter: フォルダ x 内に\nVUDファイルは見つかりませんでした.\n");
}

TEST_F(StatusServicesOrder, ProgressStartsAtZeroOverTheWholeTotal) {
    totalEntryCount = 70000;
    startProgress(fakeDialog());
    ASSERT_EQ(recordedCalls.size(), 2u);
    EXPECT_EQ(recordedCalls[0].what, "range");
    EXPECT_EQ(recordedCalls[0].id, ProgressBar);
    EXPECT_EQ(recordedCalls[0].first, 0);
    EXPECT_EQ(recordedCalls[0].second, 70000);
    EXPECT_EQ(recordedCalls[1].what, "position");
    EXPECT_EQ(recordedCalls[1].first, 0);
}

TEST_F(StatusServicesOrder, ProgressSetsBarThenPercentOnTheMainDialog) {
    totalEntryCount = 7;
    convertedEntryCount = 1;
    showProgress();
    ASSERT_EQ(recordedCalls.size(), 2u);
    EXPECT_EQ(recordedCalls[0].what, "position");
    EXPECT_EQ(recordedCalls[0].dialog, fakeDialog());
    EXPECT_EQ(recordedCalls[0].id, ProgressBar);
    EXPECT_EQ(recordedCalls[0].first, 1);
    EXPECT_EQ(recordedCalls[1].what, "text");
    EXPECT_EQ(recordedCalls[1].id, PercentText);
    EXPECT_EQ(recordedCalls[1].text, "14%");
}

}  // namespace
