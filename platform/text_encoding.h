// Texts that outside code hands over in the system's own encoding (the
// encoder library's version text), turned into the UTF-8 the shell uses; and
// the cut of a UTF-8 text, for every place that shortens one.
#pragma once

#include <cstdint>

// Writes text as UTF-8 into buffer, terminated, cut on a whole UTF-8 sequence
// when longer than capacity - 1 bytes. On Windows text is in the system's
// ANSI code page; on POSIX systems it is UTF-8 already and copied. The bytes
// written before the terminator, or -1 (buffer set to "" when there is one)
// when text cannot be read.
int32_t systemTextToUtf8(const char* text, char* buffer, int32_t capacity);

// The first bytes of text, at most limit, that end on a whole UTF-8 sequence.
int32_t wholeUtf8Prefix(const char* text, int32_t length, int32_t limit);
