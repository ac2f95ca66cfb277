// The window layer's contract over the console backend.
#include "tests/window/console_test_hooks.h"
#include "tests/window/window_contract.h"

namespace {

std::function<void()> loopTick;
MessageBoxResponder questionResponder;

void runTick(void*) {
    loopTick();
}

// The console shows Ok boxes as messages; only questions take an answer.
MessageBoxAnswer answerQuestion(const char* text, const char* caption, void*) {
    if (!questionResponder) return MessageBoxAnswer::No;
    return questionResponder(
        {text, caption, MessageBoxButtons::YesNo, MessageBoxIcon::Question, nullptr});
}

struct ConsoleDriver {
    static void setUp() {
        ConsoleWindowConfig config = consoleTestConfig();
        config.questionHandler = answerQuestion;
        consoleConfigure(config);
        ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr));
    }
    static void tearDown() { windowLayerShutdown(); }
    static int32_t runLoop(const std::function<void()>& tick) {
        loopTick = tick;
        consoleSetLoopHook(runTick, nullptr, 1);
        const int32_t code = windowRunMessageLoop();
        consoleSetLoopHook(nullptr, nullptr, 1);
        return code;
    }
    static void answerBoxes(const MessageBoxResponder& responder) { questionResponder = responder; }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Console, WindowContract, ConsoleDriver);
