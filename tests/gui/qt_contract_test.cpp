// The window layer's contract over the Qt backend (set up once for the test
// program by gui_support).
#include <QTimer>

#include "tests/window/window_contract.h"

namespace {

struct QtDriver {
    static void setUp() {}
    static void tearDown() {}
    static int32_t runLoop(const std::function<void()>& tick) {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, tick);
        timer.start(1);
        return windowRunMessageLoop();
    }
    static void answerBoxes(const MessageBoxResponder& responder) {
        windowTestSetMessageBoxResponder(responder);
    }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, WindowContract, QtDriver);
