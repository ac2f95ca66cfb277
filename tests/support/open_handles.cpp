#include "tests/support/open_handles.h"

#include <windows.h>
#include <winternl.h>

#include <memory>

// GetProcessHandleCount answers 0 under Wine; the system's handle table,
// filtered by the process id, is right on both.
int32_t openHandleCount() {
    using QueryFn = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return -1;
    const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    constexpr NTSTATUS InfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    for (ULONG size = 1u << 16; size <= (1u << 26); size *= 2) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
        ULONG needed = 0;
        const NTSTATUS status = query(SystemHandleInformation, buffer.get(), size, &needed);
        if (status == InfoLengthMismatch) continue;
        if (status < 0) return -1;
        const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.get());
        const DWORD self = GetCurrentProcessId();
        int32_t count = 0;
        for (ULONG i = 0; i < table->Count; ++i) {
            if (table->Handle[i].OwnerPid == self) ++count;
        }
        return count;
    }
    return -1;
}
