// The system registry, read only (registry.h). Text values arrive as UTF-16
// and are handed on as UTF-8, so a path outside the ANSI code page still
// names its file. Each build reads its own view of the registry (a 32-bit
// program the 32-bit one), the view of the libraries it can load.
#include <windows.h>

#include <memory>
#include <new>

#include "platform/registry.h"
#include "platform/win32/wide_text.h"

struct PlatformRegistryKey {
    HKEY key;
};

namespace {

HKEY rootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegistryRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
    }
    return nullptr;
}

// Reads up to maxBytes of a text value into data; the bytes read, or -1 when
// the value is missing, no text or larger.
int32_t readTextValue(HKEY key, const wchar_t* name, wchar_t* data, DWORD maxBytes) {
    DWORD type = 0;
    DWORD size = maxBytes;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS) {
        return -1;
    }
    // Expandable texts are taken as they stand: nothing is substituted.
    if (type != REG_SZ && type != REG_EXPAND_SZ) return -1;
    return static_cast<int32_t>(size);
}

}  // namespace

RegistryKey registryOpenKey(RegistryRoot root, const char* keyPath) {
    if (keyPath == nullptr || keyPath[0] == '\0') return nullptr;
    WideText widePath = widenUtf8(keyPath);
    if (!widePath) return nullptr;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(rootKey(root), widePath.get(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return nullptr;
    }
    RegistryKey key = new (std::nothrow) PlatformRegistryKey{opened};
    if (key == nullptr) RegCloseKey(opened);
    return key;
}

int32_t registryReadValue(RegistryKey key, const char* valueName, char* buffer, uint32_t capacity) {
    if (key == nullptr || valueName == nullptr || valueName[0] == '\0' || buffer == nullptr) {
        return -1;
    }
    if (capacity > 0x10000) return -1;
    WideText wideName = widenUtf8(valueName);
    if (!wideName) return -1;
    // Every UTF-16 unit makes at least one UTF-8 byte, so a text that fits
    // capacity bytes has at most capacity units; one more unit lets a stored
    // terminator in, a second shows the value is longer.
    const DWORD units = capacity + 2;
    std::unique_ptr<wchar_t[]> data(new (std::nothrow) wchar_t[units]);
    if (!data) return -1;
    const int32_t bytes =
        readTextValue(key->key, wideName.get(), data.get(), units * sizeof(wchar_t));
    if (bytes < 0 || bytes % sizeof(wchar_t) != 0) return -1;
    int32_t length = bytes / static_cast<int32_t>(sizeof(wchar_t));
    // The stored value usually, but not always, ends in its terminator.
    while (length > 0 && data[length - 1] == L'\0') --length;
    if (length == 0) return 0;
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, data.get(), length,
                                           nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || static_cast<uint32_t>(needed) > capacity) return -1;
    const int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, data.get(), length,
                                            buffer, needed, nullptr, nullptr);
    return written == needed ? written : -1;
}

void registryCloseKey(RegistryKey key) {
    if (key == nullptr) return;
    RegCloseKey(key->key);
    delete key;
}
