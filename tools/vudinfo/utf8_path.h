// vudinfo's paths are UTF-8, as main's arguments are made on every system;
// std::filesystem would take a plain string in the ANSI code page on Windows.
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
