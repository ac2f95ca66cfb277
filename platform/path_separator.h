// Folder separators. POSIX knows only '/'; Windows takes '\\' and '/' alike
// and writes '\\'.
#pragma once

#if defined(_WIN32)
constexpr char PathSeparator = '\\';
constexpr const char* PathSeparatorText = "\\";
constexpr bool isPathSeparator(char c) {
    return c == '\\' || c == '/';
}
#else
constexpr char PathSeparator = '/';
constexpr const char* PathSeparatorText = "/";
constexpr bool isPathSeparator(char c) {
    return c == '/';
}
#endif
