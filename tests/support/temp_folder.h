// The one temporary-folder helper of the tests.
#pragma once

#include <string>

// A fresh folder under the temporary directory ($TMPDIR, else /tmp; on
// Windows the user's temporary folder), removed with everything in it when
// the helper goes. path (UTF-8) is empty when the folder could not be made.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;  // ends with a separator ('/', on Windows '\\')
};

// Creates one folder (UTF-8 path); false when it could not be made.
bool makeFolder(const std::string& path);
