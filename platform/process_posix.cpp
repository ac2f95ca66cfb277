// Facts about the running program on Linux.
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/process.h"

bool currentProgramPath(char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    buffer[0] = '\0';
    // readlink does not terminate and silently truncates: a result that fills
    // the whole buffer may have been cut, so it counts as "does not fit".
    ssize_t length = readlink("/proc/self/exe", buffer, static_cast<size_t>(capacity));
    if (length < 0 || length >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    buffer[length] = '\0';
    return true;
}

bool currentFolderPath(char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    if (getcwd(buffer, static_cast<size_t>(capacity)) == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

void keepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}
