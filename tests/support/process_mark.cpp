#include "tests/support/process_mark.h"

#include <chrono>
#include <cstdio>
#include <thread>

#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>
#endif

int32_t processesWithVariable(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    (void)name;
    (void)value;
    return 0;
#else
    const std::string mark = name + "=" + value;
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return -1;
    int32_t count = 0;
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        std::FILE* file = std::fopen(("/proc/" + pid + "/environ").c_str(), "rb");
        if (file == nullptr) continue;
        std::string variables;
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) variables.append(chunk, n);
        std::fclose(file);
        for (size_t start = 0; start < variables.size();) {
            size_t end = variables.find('\0', start);
            if (end == std::string::npos) end = variables.size();
            if (variables.compare(start, end - start, mark) == 0) count += 1;
            start = end + 1;
        }
    }
    closedir(proc);
    return count;
#endif
}

bool noProcessWithVariable(const std::string& name, const std::string& value) {
    for (int32_t tries = 0; tries < 300; ++tries) {
        if (processesWithVariable(name, value) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
