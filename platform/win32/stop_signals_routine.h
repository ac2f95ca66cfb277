// Win32 only: the console control routine behind installStopSignalHandler,
// reachable by tests without a console event.
#pragma once

#include <windows.h>

#include <cstdint>

// The POSIX signal number a console event stands for (so exit codes match
// the POSIX build); 0 for an event that is not a stop.
int32_t stopSignalNumberFor(DWORD consoleEvent);

// The routine registered with SetConsoleCtrlHandler.
BOOL WINAPI stopControlRoutine(DWORD consoleEvent);
