// Win32 only: scope-bound ownership of a kernel object handle.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

// Owns one handle; an unopened CreateFileW result (INVALID_HANDLE_VALUE) is
// kept as null so that a test of the owner means "opened".
using OwnedHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

inline OwnedHandle ownHandle(HANDLE handle) {
    return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}
