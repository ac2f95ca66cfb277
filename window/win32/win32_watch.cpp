// Descriptor watches for the window program. A Windows message loop waits
// for messages, not descriptors: a timer of the layer's message window
// polls each watched pipe instead. The program's own descriptors are pipes
// or absent (-1) on Windows.
#include <io.h>

#include <algorithm>
#include <vector>

#include "window/window_watch.h"
#include "window/win32/win32_layer_state.h"

namespace {

constexpr UINT PollMilliseconds = 50;

struct Watch {
    int descriptor;
    HANDLE pipe;
    void (*onReadable)(void* context);
    void* context;
};

// User-interface thread only.
std::vector<Watch> watches;

bool readable(HANDLE pipe) {
    DWORD available = 0;
    // A pipe whose writer has gone reads as its end, as a readable one.
    return !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0;
}

}  // namespace

bool windowWatchReadable(int descriptor, void (*onReadable)(void* context), void* context) {
    if (!windowcore::onUserInterfaceThread() || descriptor < 0 || onReadable == nullptr) {
        return false;
    }
    const intptr_t handle = _get_osfhandle(descriptor);
    if (handle == -1 || GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_PIPE) {
        return false;
    }
    windowUnwatch(descriptor);
    if (SetTimer(win32layer::messageWindow(), win32layer::WatchTimerId, PollMilliseconds,
                 nullptr) == 0) {
        return false;
    }
    watches.push_back({descriptor, reinterpret_cast<HANDLE>(handle), onReadable, context});
    return true;
}

void windowUnwatch(int descriptor) {
    std::erase_if(watches,
                  [descriptor](const Watch& watch) { return watch.descriptor == descriptor; });
    if (watches.empty()) KillTimer(win32layer::messageWindow(), win32layer::WatchTimerId);
}

void win32layer::pollWatches() {
    // A call-back may unwatch: each watch is looked up again before its call.
    const std::vector<Watch> polled = watches;
    for (const Watch& watch : polled) {
        const bool stillWatched =
            std::any_of(watches.begin(), watches.end(), [&watch](const Watch& current) {
                return current.descriptor == watch.descriptor && current.pipe == watch.pipe;
            });
        if (stillWatched && readable(watch.pipe)) watch.onReadable(watch.context);
    }
}
