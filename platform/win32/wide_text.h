// Win32 only: the shell's texts and paths are UTF-8, the wide-character
// (...W) calls take UTF-16. Every conversion happens here, at the platform
// boundary, so any file name and the Japanese texts work whatever the
// system's code page.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

// A NUL-terminated UTF-16 copy of a UTF-8 text; null when the text is not
// valid UTF-8 or memory ran out.
using WideText = std::unique_ptr<wchar_t[]>;
WideText widenUtf8(const char* text);

// UTF-16 (length units, or -1: NUL-terminated) to UTF-8 in buffer, with a
// terminator. The number of bytes before the terminator, or -1 (buffer set to
// "") when the text does not fit capacity or is not valid UTF-16.
int32_t narrowToUtf8(const wchar_t* text, int32_t length, char* buffer, int32_t capacity);

// Text in the system's ANSI code page to UTF-8, as narrowToUtf8 answers.
int32_t ansiToUtf8(const char* text, char* buffer, int32_t capacity);
