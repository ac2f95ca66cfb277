#include "platform/win32/pipe_descriptor.h"

#include <fcntl.h>
#include <io.h>

namespace {

HANDLE handleOf(int32_t descriptor) {
    if (descriptor < 0) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// The bytes waiting; -1 when the writer is gone or the handle is no pipe.
int64_t waitingBytes(int32_t descriptor) {
    const HANDLE pipe = handleOf(descriptor);
    if (pipe == INVALID_HANDLE_VALUE) return -1;
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return -1;
    return available;
}

}  // namespace

bool openDescriptorPipe(int32_t* readDescriptor, HANDLE* writeEnd, uint32_t bufferBytes) {
    *readDescriptor = -1;
    *writeEnd = nullptr;
    HANDLE readEnd = nullptr;
    HANDLE writing = nullptr;
    if (!CreatePipe(&readEnd, &writing, nullptr, bufferBytes)) return false;
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(readEnd), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(readEnd);
        CloseHandle(writing);
        return false;
    }
    *readDescriptor = descriptor;
    *writeEnd = writing;
    return true;
}

bool descriptorReadable(int32_t descriptor) {
    return descriptor >= 0 && waitingBytes(descriptor) != 0;
}

int32_t readWaitingBytes(int32_t descriptor, char* buffer, int32_t capacity) {
    const int64_t waiting = waitingBytes(descriptor);
    if (waiting <= 0 || capacity <= 0) return waiting < 0 ? -1 : 0;
    // Only what waits is asked for, so the read returns at once.
    const DWORD wanted =
        static_cast<DWORD>(waiting < int64_t{capacity} ? waiting : int64_t{capacity});
    DWORD got = 0;
    if (!ReadFile(handleOf(descriptor), buffer, wanted, &got, nullptr)) return -1;
    return static_cast<int32_t>(got);
}

bool drainDescriptor(int32_t descriptor) {
    bool drained = false;
    char bytes[64];
    while (readWaitingBytes(descriptor, bytes, sizeof bytes) > 0) drained = true;
    return drained;
}

void markDescriptor(int32_t readDescriptor, HANDLE writeEnd) {
    if (writeEnd == nullptr || waitingBytes(readDescriptor) > 0) return;
    const char mark = 1;
    DWORD written = 0;
    // Best effort: a mark that cannot be written leaves the loop to its
    // next timeout.
    WriteFile(writeEnd, &mark, 1, &written, nullptr);
}
