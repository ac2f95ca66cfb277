// The backend's texts: the shell's UTF-8 and the wide calls' UTF-16 meet here.
#include <vector>

#include "platform/win32/wide_text.h"
#include "window/win32/win32_layer_state.h"

namespace win32layer {

std::string utf8Of(const wchar_t* text, int32_t length) {
    if (text == nullptr) return std::string();
    const size_t units = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    if (units == 0) return std::string();
    // A UTF-16 unit never takes more than three UTF-8 bytes (a pair takes four).
    std::vector<char> bytes(units * 3 + 1);
    const int32_t size = narrowToUtf8(text, static_cast<int32_t>(units), bytes.data(),
                                      static_cast<int32_t>(bytes.size()));
    return size > 0 ? std::string(bytes.data(), static_cast<size_t>(size)) : std::string();
}

std::wstring wideOf(const char* text) {
    const WideText wide = widenUtf8(text != nullptr ? text : "");
    return wide ? std::wstring(wide.get()) : std::wstring();
}

std::string windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::string();
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(window, wide.data(), length + 1);
    return utf8Of(wide.data(), copied > 0 ? copied : 0);
}

}  // namespace win32layer
