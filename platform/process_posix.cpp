// Facts about the running program on Linux.
#include <sched.h>
#include <time.h>
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

int32_t availableProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count >= 1) return count;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online >= 1 && online <= INT32_MAX ? static_cast<int32_t>(online) : 1;
}

int64_t awakeMilliseconds() {
    // CLOCK_MONOTONIC stops while Linux is suspended (CLOCK_BOOTTIME would not).
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}
