// The wake event: windowbackend::wake sets it (auto-reset), the loop waits
// on it in short slices and looks at the watched pipes between them, as
// nothing can wait on an anonymous pipe.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/win32/pipe_descriptor.h"
#include "window/console/console_state.h"

namespace {

constexpr int64_t PipeLookMilliseconds = 10;

std::atomic<HANDLE> wakeEvent{nullptr};

uint32_t readyDescriptors(int first, int second) {
    uint32_t ready = 0;
    if (descriptorReadable(first)) ready |= 1u;
    if (descriptorReadable(second)) ready |= 2u;
    return ready;
}

}  // namespace

bool openWake() {
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return false;
    wakeEvent.store(event);
    return true;
}

void closeWake() {
    const HANDLE event = wakeEvent.exchange(nullptr);
    if (event != nullptr) CloseHandle(event);
}

void windowbackend::wake() {
    const HANDLE event = wakeEvent.load();
    if (event != nullptr) SetEvent(event);
}

uint32_t waitForWake(int32_t timeoutMilliseconds, int first, int second) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMilliseconds, 0));
    const bool watching = first >= 0 || second >= 0;
    for (;;) {
        const uint32_t ready = readyDescriptors(first, second);
        if (ready != 0) return ready;
        const int64_t left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        const int64_t slice = watching ? std::min(left, PipeLookMilliseconds) : left;
        if (WaitForSingleObject(wakeEvent.load(), static_cast<DWORD>(slice)) == WAIT_OBJECT_0) {
            return readyDescriptors(first, second);
        }
    }
}
