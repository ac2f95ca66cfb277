// Threads on Win32: the procedure's result is the thread's exit code, read
// back with GetExitCodeThread once the thread has ended.
#include <windows.h>

#include <new>

#include "platform/thread.h"

struct PlatformThread {
    HANDLE thread;
    ThreadProcedure procedure;
    void* argument;
};

namespace {

DWORD WINAPI runThread(void* raw) {
    const PlatformThread* thread = static_cast<const PlatformThread*>(raw);
    return static_cast<DWORD>(thread->procedure(thread->argument));
}

}  // namespace

ThreadHandle threadStart(ThreadProcedure procedure, void* argument) {
    if (procedure == nullptr) return nullptr;
    PlatformThread* thread = new (std::nothrow) PlatformThread{};
    if (thread == nullptr) return nullptr;
    thread->procedure = procedure;
    thread->argument = argument;
    thread->thread = CreateThread(nullptr, 0, runThread, thread, 0, nullptr);
    if (thread->thread == nullptr) {
        delete thread;
        return nullptr;
    }
    return thread;
}

int32_t threadJoin(ThreadHandle thread) {
    if (thread == nullptr) return -1;
    int32_t result = -1;
    DWORD exitCode = 0;
    if (WaitForSingleObject(thread->thread, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeThread(thread->thread, &exitCode)) {
        result = static_cast<int32_t>(exitCode);
    }
    CloseHandle(thread->thread);
    delete thread;
    return result;
}

void sleepMilliseconds(uint32_t milliseconds) {
    Sleep(milliseconds);
}
