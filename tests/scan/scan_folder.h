// A temporary folder for scan tests, with small source archives written byte
// by byte (only the header matters to the scan).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/support/temp_folder.h"

class ScanFolder {
public:
    ScanFolder()
        : path_(folder_.path.empty() ? std::string()
                                     : folder_.path.substr(0, folder_.path.size() - 1)) {}

    bool valid() const { return !path_.empty(); }
    // The folder text the scan takes: a plain prefix ending in '/'.
    std::string prefix() const { return path_ + "/"; }
    const std::string& path() const { return path_; }

    // A header with the magic and entryCount; table entries follow as zeros.
    bool archive(const std::string& name, uint32_t entryCount, uint32_t tableEntries = 0) const {
        uint8_t header[32] = {'V', 'U', 'D', 'P', 'A', 'C'};
        for (int i = 0; i < 4; ++i) header[16 + i] = static_cast<uint8_t>(entryCount >> (8 * i));
        return write(name, header, sizeof header, tableEntries * 8u);
    }
    bool file(const std::string& name, const char* text) const {
        return write(name, reinterpret_cast<const uint8_t*>(text),
                     std::char_traits<char>::length(text), 0);
    }
    bool folder(const std::string& name) const { return makeFolder(path_ + "/" + name); }

private:
    bool write(const std::string& name, const uint8_t* bytes, size_t size, size_t zeros) const {
        std::FILE* out = std::fopen((path_ + "/" + name).c_str(), "wb");
        if (out == nullptr) return false;
        bool ok = std::fwrite(bytes, 1, size, out) == size;
        for (size_t i = 0; i < zeros && ok; ++i) ok = std::fputc(0, out) == 0;
        return std::fclose(out) == 0 && ok;
    }

    TempFolder folder_;
    std::string path_;  // without the closing '/'
};
