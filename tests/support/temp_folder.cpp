#include "tests/support/temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

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
