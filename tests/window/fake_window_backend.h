// A backend with no user interface at all, for the core's own tests (and
// ThreadSanitizer, which runs without a display): controls held as plain
// values, a message loop that sleeps on a condition variable, and message
// boxes answered by the test's responder (else Ok, or No to a question).
#pragma once

#include <functional>

// Called on the user-interface thread every millisecond or so while the
// message loop runs; empty for none.
void fakeWindowSetLoopTick(std::function<void()> tick);
