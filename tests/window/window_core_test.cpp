// The window layer's core over a backend without a user interface: the
// whole contract, and what only the core decides (set-up and shutdown, the
// template checks, the text copies). Runs under ThreadSanitizer too.
#include "window/window_core.h"

#include <cstring>

#include "tests/window/fake_window_backend.h"
#include "tests/window/window_contract.h"

namespace {

struct FakeDriver {
    static void setUp() { ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr)); }
    static void tearDown() { windowLayerShutdown(); }
    static int32_t runLoop(const std::function<void()>& tick) {
        fakeWindowSetLoopTick(tick);
        const int32_t code = windowRunMessageLoop();
        fakeWindowSetLoopTick(nullptr);
        return code;
    }
    static void answerBoxes(const MessageBoxResponder& responder) {
        windowTestSetMessageBoxResponder(responder);
    }
};

int32_t destroyOnInitialize(WindowHandle dialog, DialogMessage message, uint32_t) {
    if (message == DialogMessage::Initialize) windowDestroy(dialog);
    return 0;
}

int32_t quietProcedure(WindowHandle, DialogMessage, uint32_t) {
    return 0;
}

class WindowCore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr)); }
    void TearDown() override { windowLayerShutdown(); }
};

TEST_F(WindowCore, ShutdownDestroysTheDialogsStillAlive) {
    WindowHandle first = createContractDialog();
    ASSERT_NE(first, nullptr);
    windowDestroy(first);
    WindowHandle second = createContractDialog();
    ASSERT_NE(second, nullptr);
    testDialogMessages.clear();
    windowLayerShutdown();
    ASSERT_EQ(testDialogMessages.size(), 1u) << "Destroy for the live dialog only";
    EXPECT_EQ(testDialogMessages[0].message, DialogMessage::Destroy);
    EXPECT_FALSE(windowIsAlive(second));
    EXPECT_FALSE(windowSetItemText(second, 11, "x"));
    ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr));
}

TEST_F(WindowCore, AQuitIsDroppedBySetUpAndShutdown) {
    windowLayerShutdown();
    windowPostQuit(8);  // no layer: nothing to end
    ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr));
    windowPostQuit(5);
    windowLayerShutdown();
    ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr));
    EXPECT_FALSE(windowTestQuitPending());
    EXPECT_EQ(FakeDriver::runLoop([] { windowPostQuit(2); }), 2);
}

TEST_F(WindowCore, DialogsAreMadeFromSoundTemplatesOnly) {
    DialogTemplate broken{1, "t", "", 9, 10, 10, nullptr, 2, 0};
    EXPECT_EQ(windowCreateDialog(&broken, quietProcedure), nullptr) << "controls missing";
    broken.controlCount = -1;
    EXPECT_EQ(windowCreateDialog(&broken, quietProcedure), nullptr) << "negative count";
    broken.controlCount = 0;
    EXPECT_EQ(windowCreateDialog(nullptr, quietProcedure), nullptr);
    EXPECT_EQ(windowCreateDialog(&broken, nullptr), nullptr);
    EXPECT_EQ(windowCreateDialog(&broken, destroyOnInitialize), nullptr)
        << "a dialog that destroyed itself while initialising was not created";
    EXPECT_NE(windowCreateDialog(&broken, quietProcedure), nullptr) << "a dialog without controls";
}

TEST(WindowCoreText, CopiesAreTerminatedAndKeepWholeCharacters) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(windowcore::copyText(buffer, 1, "abc"), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(windowcore::copyText(buffer, sizeof buffer, nullptr), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(windowcore::copyText(buffer, 4, "abc"), 3) << "an exact fit";
    EXPECT_STREQ(buffer, "abc");
    // A four-byte character with one byte short is left out whole.
    EXPECT_EQ(windowcore::copyText(buffer, 5, "a\xF0\x9F\x8E\xB5"), 1);
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(windowcore::copyText(buffer, 8, "ab\0cd", 5), 5) << "a length given counts";
    EXPECT_EQ(windowcore::copyText(nullptr, 8, "abc"), 0);
}

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, WindowContract, FakeDriver);
