// Text for the user on standard output and standard error. The programs'
// texts are UTF-8. A terminal on POSIX takes those bytes as they are; a
// Windows console would read them in its own code page, so there the text
// goes to the console as wide characters, while a pipe or a file still gets
// the UTF-8 bytes unchanged (through the C stream, so its buffering and line
// ends stay those of the stream).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// The stream functions' own format checks (the C runtime's on Windows).
#if defined(__MINGW_PRINTF_FORMAT)
#define VUD_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define VUD_PRINTF_FORMAT printf
#endif

// Writes length bytes of text to stream (stdout or stderr); false when the
// write failed. "\033[K" (clear to the end of the line) works on a console
// whatever it understands.
bool consoleWrite(std::FILE* stream, const char* text, size_t length);
bool consolePuts(std::FILE* stream, const char* text);
__attribute__((format(VUD_PRINTF_FORMAT, 2, 3))) bool consolePrint(std::FILE* stream,
                                                                   const char* format, ...);
__attribute__((format(VUD_PRINTF_FORMAT, 2, 0))) bool consolePrintList(std::FILE* stream,
                                                                       const char* format,
                                                                       va_list arguments);
