// Handing calls to the user-interface thread, and the posted commands.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/window_console/console_state.h"

namespace {

ConsoleLayer theLayer;
thread_local bool isUserInterfaceThread = false;

static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<PlatformWindow*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void failQueuedLocked(ConsoleLayer& layer) {
    for (Request* request = layer.queueHead; request != nullptr;) {
        Request* next = request->next;
        request->applied = false;
        request->done = true;
        request = next;
    }
    layer.queueHead = nullptr;
    layer.queueTail = nullptr;
    layer.requestDone.notify_all();
}

bool postMessage(WindowHandle dialog, DialogMessage message, uint32_t param) {
    ConsoleLayer& layer = theLayer;
    if (layer.wakeWrite.load() < 0) return false;
    uint32_t index = layer.postedWrite.load();
    do {
        if (index - layer.postedRead.load() >= PostedRingSize) return false;
    } while (!layer.postedWrite.compare_exchange_weak(index, index + 1));
    PostedSlot& slot = layer.posted[index % PostedRingSize];
    slot.dialog.store(dialog, std::memory_order_relaxed);
    slot.message.store(static_cast<uint32_t>(message), std::memory_order_relaxed);
    slot.param.store(param, std::memory_order_relaxed);
    slot.state.store(SlotReady, std::memory_order_release);
    wakeLoop();
    return true;
}

PlatformWindow* newestLiveDialog() {
    std::lock_guard<std::mutex> lock(theLayer.mutex);
    // The list is newest first.
    for (PlatformWindow* window = theLayer.windows; window != nullptr; window = window->next) {
        if (window->alive) return window;
    }
    return nullptr;
}

// true when flag became set within a short spin.
bool awaitBriefly(const std::atomic<bool>& flag) {
    constexpr auto HandOffSpin = std::chrono::microseconds(200);
    const auto deadline = std::chrono::steady_clock::now() + HandOffSpin;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (flag.load(std::memory_order_acquire)) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

}  // namespace

ConsoleLayer& consoleLayer() {
    return theLayer;
}
bool onUserInterfaceThread() {
    return isUserInterfaceThread;
}
void setUserInterfaceThread(bool value) {
    isUserInterfaceThread = value;
}
bool consoleIsUserInterfaceThread() {
    return isUserInterfaceThread;
}

int32_t consoleQueuedCallCount() {
    std::lock_guard<std::mutex> lock(theLayer.mutex);
    int32_t count = 0;
    for (const Request* request = theLayer.queueHead; request != nullptr; request = request->next) {
        count += 1;
    }
    return count;
}

int32_t copyText(char* buffer, int32_t capacity, const char* text) {
    if (buffer == nullptr || capacity < 1) return 0;
    if (text == nullptr) text = "";
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(capacity - 1)) {
        length = static_cast<size_t>(capacity - 1);
        // Back off to the first byte of a UTF-8 sequence.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0u) == 0x80u) {
            length -= 1;
        }
    }
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

bool isLiveLocked(const PlatformWindow* target) {
    if (target == nullptr) return false;
    for (const PlatformWindow* window = theLayer.windows; window != nullptr;
         window = window->next) {
        if (window == target) return window->alive;
    }
    return false;
}

bool isLive(const PlatformWindow* target) {
    std::lock_guard<std::mutex> lock(theLayer.mutex);
    return isLiveLocked(target);
}

bool consoleCall(PlatformWindow* target, bool needsTarget, void (*invoke)(void*), void* closure) {
    ConsoleLayer& layer = theLayer;
    if (isUserInterfaceThread) {
        if (needsTarget && !isLive(target)) return false;
        invoke(closure);
        return true;
    }
    Request request{nullptr, target, needsTarget, invoke, closure, false, false};
    std::unique_lock<std::mutex> lock(layer.mutex);
    // Both gates, before queuing: nobody would ever apply the call otherwise.
    if (layer.servingDepth < 1) return false;
    if (needsTarget && !isLiveLocked(target)) return false;
    if (layer.queueTail == nullptr) {
        layer.queueHead = &request;
    } else {
        layer.queueTail->next = &request;
    }
    layer.queueTail = &request;
    wakeLoop();
    lock.unlock();
    // The user-interface thread answers within microseconds. Waiting for it on
    // the spot keeps the caller on its core; sleeping lets the scheduler wake
    // it on another one, and the lost caches cost more than the call itself.
    if (awaitBriefly(request.done)) return request.applied;
    lock.lock();
    layer.requestDone.wait(lock, [&request] { return request.done.load(); });
    return request.applied;
}

void enterServing() {
    std::lock_guard<std::mutex> lock(theLayer.mutex);
    theLayer.servingDepth += 1;
}

void leaveServing() {
    std::lock_guard<std::mutex> lock(theLayer.mutex);
    theLayer.servingDepth -= 1;
    if (theLayer.servingDepth < 1) {
        theLayer.servingDepth = 0;
        failQueuedLocked(theLayer);
    }
}

void serveQueuedCalls() {
    ConsoleLayer& layer = theLayer;
    // The call just applied; it is marked done under the same lock that takes
    // the next one, one lock per hand-off.
    Request* finished = nullptr;
    bool finishedApplied = false;
    for (;;) {
        Request* request = nullptr;
        bool live = true;
        {
            std::lock_guard<std::mutex> lock(layer.mutex);
            if (finished != nullptr) {
                finished->applied = finishedApplied;
                finished->done = true;
                layer.requestDone.notify_all();
            }
            request = layer.queueHead;
            if (request == nullptr) return;
            layer.queueHead = request->next;
            if (layer.queueHead == nullptr) layer.queueTail = nullptr;
            // The dialog may have died since the call was queued.
            if (request->needsTarget) live = isLiveLocked(request->target);
        }
        // Applied outside the lock: it may send messages to the dialog
        // procedure, which may call the layer again.
        if (live) request->invoke(request->closure);
        finished = request;
        finishedApplied = live;
    }
}

void wakeLoop() {
    int fd = theLayer.wakeWrite.load();
    if (fd < 0) return;
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already wakes the loop; the byte is not needed then.
    ssize_t written = write(fd, &byte, 1);
    (void)written;
    errno = savedErrno;
}

bool waitForWake(int32_t timeoutMilliseconds, int fd) {
    pollfd fds[2] = {{theLayer.wakeRead.load(), POLLIN, 0}, {fd, POLLIN, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    int ready = poll(fds, count, timeoutMilliseconds);
    if (ready <= 0) return false;
    if ((fds[0].revents & POLLIN) != 0) {
        char drain[64];
        while (read(fds[0].fd, drain, sizeof drain) > 0) {
        }
    }
    return count == 2 && (fds[1].revents & (POLLIN | POLLHUP)) != 0;
}

bool postedPending() {
    ConsoleLayer& layer = theLayer;
    uint32_t index = layer.postedRead.load();
    return layer.posted[index % PostedRingSize].state.load(std::memory_order_acquire) == SlotReady;
}

void dispatchPosted() {
    ConsoleLayer& layer = theLayer;
    for (;;) {
        uint32_t index = layer.postedRead.load();
        PostedSlot& slot = layer.posted[index % PostedRingSize];
        // A slot claimed but not yet filled (a poster interrupted by a signal)
        // holds back the ones after it, so posts keep their order.
        if (slot.state.load(std::memory_order_acquire) != SlotReady) return;
        PlatformWindow* dialog = slot.dialog.load(std::memory_order_relaxed);
        const DialogMessage message = static_cast<DialogMessage>(slot.message.load());
        const uint32_t param = slot.param.load(std::memory_order_relaxed);
        slot.state.store(SlotEmpty, std::memory_order_relaxed);
        layer.postedRead.store(index + 1);
        if (dialog == nullptr) dialog = newestLiveDialog();
        if (dialog == nullptr || !isLive(dialog)) continue;
        dialog->procedure(dialog, message, param);
    }
}

bool consolePostCommand(WindowHandle dialog, int32_t id, uint16_t code) {
    return postMessage(dialog, DialogMessage::Command, commandParam(id, code));
}

bool consolePostClose(WindowHandle dialog) {
    return postMessage(dialog, DialogMessage::Close, 0);
}

bool openDispatch() {
    ConsoleLayer& layer = theLayer;
    if (layer.wakeRead.load() < 0) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
        layer.wakeRead.store(fds[0]);
        layer.wakeWrite.store(fds[1]);
    }
    for (PostedSlot& slot : layer.posted) slot.state.store(SlotEmpty);
    layer.postedRead.store(layer.postedWrite.load());
    layer.quitPosted.store(false);
    return true;
}

void closeDispatch() {
    ConsoleLayer& layer = theLayer;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        layer.servingDepth = 0;
        failQueuedLocked(layer);
        for (PlatformWindow* window = layer.windows; window != nullptr;) {
            PlatformWindow* next = window->next;
            delete window;
            window = next;
        }
        layer.windows = nullptr;
    }
    const int read = layer.wakeRead.exchange(-1);
    const int write = layer.wakeWrite.exchange(-1);
    if (read >= 0) close(read);
    if (write >= 0) close(write);
}
