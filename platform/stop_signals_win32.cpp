// Console control events stand for the POSIX stop signals: Ctrl-C for the
// interrupt, Ctrl-Break for quit, closing the console for a hang-up, logging
// off and shutting down for terminate. The system runs the routine on a
// thread of its own, so the handler needs no async-signal-safety here; the
// routines of two events are kept one after the other.
#include "platform/win32/stop_signals_routine.h"

#include <windows.h>

#include <atomic>

#include "platform/win32/console_handle.h"
#include "platform/files.h"
#include "platform/win32/pipe_descriptor.h"
#include "platform/stop_signals.h"

namespace {

constexpr int32_t SignalHangUp = 1;
constexpr int32_t SignalInterrupt = 2;
constexpr int32_t SignalQuit = 3;
constexpr int32_t SignalTerminate = 15;
// The system ends the process about 5 s after a close, logoff or shutdown
// event; the program gets most of that to end on its own.
constexpr DWORD EndingGraceMilliseconds = 4000;

std::atomic<StopSignalHandler> stopHandler{nullptr};
SRWLOCK routineLock = SRWLOCK_INIT;
std::atomic<bool> routineRegistered{false};
int32_t markRead = -1;
HANDLE markWrite = nullptr;

bool endsProcessOnReturn(DWORD consoleEvent) {
    return consoleEvent == CTRL_CLOSE_EVENT || consoleEvent == CTRL_LOGOFF_EVENT ||
           consoleEvent == CTRL_SHUTDOWN_EVENT;
}

}  // namespace

int32_t stopSignalNumberFor(DWORD consoleEvent) {
    switch (consoleEvent) {
        case CTRL_C_EVENT:
            return SignalInterrupt;
        case CTRL_BREAK_EVENT:
            return SignalQuit;
        case CTRL_CLOSE_EVENT:
            return SignalHangUp;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return SignalTerminate;
        default:
            return 0;
    }
}

BOOL WINAPI stopControlRoutine(DWORD consoleEvent) {
    const int32_t signalNumber = stopSignalNumberFor(consoleEvent);
    if (signalNumber == 0) return FALSE;
    AcquireSRWLockExclusive(&routineLock);
    const StopSignalHandler handler = stopHandler.load();
    if (handler != nullptr) handler(signalNumber);
    markDescriptor(markRead, markWrite);
    ReleaseSRWLockExclusive(&routineLock);
    if (endsProcessOnReturn(consoleEvent)) {
        // Returning would let the system end the process with the output
        // half written; a program that ends on its own meanwhile ends this
        // thread with it.
        Sleep(EndingGraceMilliseconds);
        AcquireSRWLockExclusive(&routineLock);
        discardPendingOutputNow();
        endProcessFromSignal(nullptr, 128 + signalNumber);
    }
    return TRUE;
}

// Windows raises nothing on a write to a closed pipe (the write fails) and
// has no file-size signal: nothing to ignore.
void ignoreWriteSignals() {}

int32_t installStopSignalHandler(StopSignalHandler handler) {
    AcquireSRWLockExclusive(&routineLock);
    if (markRead < 0 && !openDescriptorPipe(&markRead, &markWrite, 0)) {
        ReleaseSRWLockExclusive(&routineLock);
        return -1;
    }
    stopHandler.store(handler);
    ReleaseSRWLockExclusive(&routineLock);
    if (!routineRegistered.load()) {
        if (!SetConsoleCtrlHandler(stopControlRoutine, TRUE)) return -1;
        routineRegistered.store(true);
    }
    return markRead;
}

void endProcessFromSignal(const char* message, int32_t exitCode) {
    if (message != nullptr) {
        size_t length = 0;
        while (message[length] != '\0') ++length;
        HANDLE error = streamHandle(stderr);
        if (error == INVALID_HANDLE_VALUE) error = GetStdHandle(STD_ERROR_HANDLE);
        // Best effort: the console may be gone, which is one reason to be here.
        if (writeConsoleText(error, message, length) == ConsoleWrite::NotConsole) {
            DWORD written = 0;
            WriteFile(error, message, static_cast<DWORD>(length), &written, nullptr);
        }
    }
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    ExitProcess(static_cast<UINT>(exitCode));
}

// The system calls the routine on a thread of its own, never on the worker
// or the user-interface thread: there is nothing to keep from them.
void blockStopSignals() {}
void unblockStopSignals() {}

// The window program has no console, so no console event ever reaches it.
int32_t catchStopSignals() {
    return -1;
}
// Empties the descriptor installStopSignalHandler gave; without one
// (the window program), false.
bool takeStopSignals() {
    return drainDescriptor(markRead);
}
void releaseStopSignals() {}
