// Win32 only: UTF-8 text written to a console handle as wide characters,
// shared by the console text functions and the stop routine's last message.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdio>

enum class ConsoleWrite {
    Written,
    Failed,
    NotConsole,  // the handle is a pipe or a file: nothing was written
};

// "\033[K" clears to the end of the line: the console does it itself once
// it has been asked to understand such sequences, else the cells are
// blanked here.
ConsoleWrite writeConsoleText(HANDLE handle, const char* text, size_t length);

// The Windows handle beneath a C stream; INVALID_HANDLE_VALUE when none.
HANDLE streamHandle(std::FILE* stream);
