// Win32 only: the "descriptors" that the POSIX build's loops poll are, on
// Windows, C runtime descriptors over the read end of an anonymous pipe.
// Nothing waits on them: the loops look with PeekNamedPipe between their
// short waits.
#pragma once

#include <windows.h>

#include <cstdint>

// A new pipe holding at least bufferBytes (0: the system's choice): its read
// end as a descriptor, its write end as a handle. false (both -1 / null)
// when it cannot be made.
bool openDescriptorPipe(int32_t* readDescriptor, HANDLE* writeEnd, uint32_t bufferBytes);

// Bytes wait in the pipe, or its writing end is gone (as poll's POLLHUP).
bool descriptorReadable(int32_t descriptor);

// Reads what waits, up to capacity, without waiting: the bytes read (> 0),
// 0 when nothing waits, -1 when the writing end is gone or on an error.
int32_t readWaitingBytes(int32_t descriptor, char* buffer, int32_t capacity);

// Reads and drops whatever waits; true when anything did.
bool drainDescriptor(int32_t descriptor);

// Writes one byte unless one already waits, so the write never blocks on a
// full pipe. Safe from any thread while the pipe is open.
void markDescriptor(int32_t readDescriptor, HANDLE writeEnd);
