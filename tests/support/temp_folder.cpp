#include "tests/support/temp_folder.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace {

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.c_str(), -1, nullptr,
                                         0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string result(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.c_str(), -1, result.data(), size,
                            nullptr, nullptr) != size)
        return {};
    result.pop_back();  // the terminator
    return result;
}

std::wstring wide(const std::string& text) {
    const int size =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return {};
    std::wstring result(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, result.data(), size) !=
        size)
        return {};
    result.pop_back();
    return result;
}

}  // namespace

// Windows has no mkdtemp: the process id, a counter and the clock make a name
// that CreateDirectoryW takes only when nothing stands there yet.
TempFolder::TempFolder() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) return;
    static std::atomic<uint32_t> counter{0};
    for (int32_t attempt = 0; attempt < 100; ++attempt) {
        const std::wstring candidate = std::wstring(base) + L"vud-test-" +
                                       std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(counter.fetch_add(1)) + L"-" +
                                       std::to_wstring(GetTickCount64() & 0xFFFFFFu);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path = utf8(candidate);
            if (!path.empty()) path += '\\';
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
}

TempFolder::~TempFolder() {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(wide(path)), ignored);
}

bool makeFolder(const std::string& path) {
    const std::wstring widePath = wide(path);
    return !widePath.empty() && CreateDirectoryW(widePath.c_str(), nullptr);
}

#else
#include <stdlib.h>
#include <sys/stat.h>

TempFolder::TempFolder() {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "vud-test-XXXXXX").string();
    if (error) pattern = "/tmp/vud-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path = pattern + "/";
}

TempFolder::~TempFolder() {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
bool makeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}
#endif
