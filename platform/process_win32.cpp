// Facts about the running program on Win32, as UTF-8.
#include <windows.h>

#include <new>

#include "platform/process.h"
#include "platform/win32/wide_text.h"

namespace {

// Long enough for any path the wide calls give back.
constexpr DWORD WidePathUnits = 32768;

}  // namespace

bool currentProgramPath(char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    buffer[0] = '\0';
    WideText wide(new (std::nothrow) wchar_t[WidePathUnits]);
    if (!wide) return false;
    // A result that fills the whole buffer was cut (older systems do not
    // even say so through the error code).
    const DWORD units = GetModuleFileNameW(nullptr, wide.get(), WidePathUnits);
    if (units == 0 || units >= WidePathUnits) return false;
    return narrowToUtf8(wide.get(), static_cast<int32_t>(units), buffer, capacity) >= 0;
}

bool currentFolderPath(char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    buffer[0] = '\0';
    WideText wide(new (std::nothrow) wchar_t[WidePathUnits]);
    if (!wide) return false;
    const DWORD units = GetFullPathNameW(L".", WidePathUnits, wide.get(), nullptr);
    if (units == 0 || units >= WidePathUnits) return false;
    return narrowToUtf8(wide.get(), static_cast<int32_t>(units), buffer, capacity) >= 0;
}

// The Windows heap keeps freed blocks for reuse by itself.
void keepFreedMemoryForReuse() {}

int32_t availableProcessorCount() {
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) &&
        processMask != 0) {
        int32_t count = 0;
        for (; processMask != 0; processMask &= processMask - 1) count += 1;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors >= 1 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
}

int64_t awakeMilliseconds() {
    // The unbiased interrupt time leaves out the time the machine slept;
    // steady_clock's performance counter may not.
    ULONGLONG hundredNanoseconds = 0;
    QueryUnbiasedInterruptTime(&hundredNanoseconds);
    return static_cast<int64_t>(hundredNanoseconds / 10000);
}
