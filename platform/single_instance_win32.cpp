// The running copy is found by its dialog's window class. A named mutex,
// per session, closes the race of two starts at once: only the start that
// created it goes on; a later one raises the window of the copy that holds
// it and ends.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/single_instance.h"
#include "platform/win32/wide_text.h"

struct SingleInstance {
    HANDLE mutex;
};

namespace {

constexpr char MutexNamespace[] = "Local\\";
constexpr int32_t NameCapacity = MAX_PATH;
// The holder may still be opening its window: looked for during ~2 s.
constexpr int32_t FindAttempts = 40;
constexpr DWORD FindRetryMilliseconds = 50;

void raiseRunningWindow() {
    const WideText className = widenUtf8(InstanceWindowClassName);
    if (!className) return;
    for (int32_t attempt = 0; attempt < FindAttempts; ++attempt) {
        const HWND window = FindWindowW(className.get(), nullptr);
        if (window != nullptr) {
            ShowWindow(window, SW_RESTORE);
            SetForegroundWindow(window);
            return;
        }
        Sleep(FindRetryMilliseconds);
    }
}

}  // namespace

const char* sharedInstanceName(const char* name) {
    const char* chosen = std::getenv("VUD_INSTANCE_NAME");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : name;
}

InstanceClaim claimSingleInstance(const char* name, SingleInstance** instance) {
    if (instance == nullptr) return InstanceClaim::Unavailable;
    *instance = nullptr;
    if (name == nullptr) return InstanceClaim::Unavailable;
    char mutexName[NameCapacity];
    const size_t prefix = sizeof MutexNamespace - 1;
    const size_t length = std::strlen(name);
    if (prefix + length >= sizeof mutexName) return InstanceClaim::Unavailable;
    std::memcpy(mutexName, MutexNamespace, prefix);
    // The namespace's separator is the only one an object name may hold.
    for (size_t i = 0; i <= length; ++i) {
        mutexName[prefix + i] = name[i] == '\\' ? '/' : name[i];
    }
    const WideText wideName = widenUtf8(mutexName);
    if (!wideName) return InstanceClaim::Unavailable;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, wideName.get());
    if (mutex == nullptr) return InstanceClaim::Unavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        raiseRunningWindow();
        return InstanceClaim::Another;
    }
    auto* held = new (std::nothrow) SingleInstance{mutex};
    if (held == nullptr) {
        CloseHandle(mutex);
        return InstanceClaim::Unavailable;
    }
    *instance = held;
    return InstanceClaim::First;
}

int32_t singleInstanceDescriptor(const SingleInstance*) {
    return -1;
}

bool takeActivationRequests(SingleInstance*) {
    return false;
}

void releaseSingleInstance(SingleInstance* instance) {
    if (instance == nullptr) return;
    CloseHandle(instance->mutex);
    delete instance;
}
