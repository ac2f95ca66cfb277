#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/program_arguments.h"
#include "platform/win32/wide_text.h"

namespace {

struct LocalFreer {
    void operator()(LPWSTR* block) const { LocalFree(block); }
};

}  // namespace

bool utf8ArgumentsFromCommandLine(const wchar_t* commandLine, int* argc, char*** argv) {
    if (commandLine == nullptr || argc == nullptr || argv == nullptr) return false;
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreer> wide(CommandLineToArgvW(commandLine, &count));
    if (!wide || count < 0) return false;
    // One block: the pointer array (with main's closing null), then the texts.
    size_t bytes = (static_cast<size_t>(count) + 1) * sizeof(char*);
    for (int i = 0; i < count; ++i) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, wide.get()[i], -1, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return false;
        bytes += static_cast<size_t>(size);
    }
    // Never freed: main's arguments live as long as the process.
    char* block = new (std::nothrow) char[bytes];
    if (block == nullptr) return false;
    char** pointers = reinterpret_cast<char**>(block);
    char* text = block + (static_cast<size_t>(count) + 1) * sizeof(char*);
    const char* end = block + bytes;
    for (int i = 0; i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide.get()[i], -1, text,
                                             static_cast<int>(end - text), nullptr, nullptr);
        if (size <= 0) {
            delete[] block;
            return false;
        }
        pointers[i] = text;
        text += size;
    }
    pointers[count] = nullptr;
    *argc = count;
    *argv = pointers;
    return true;
}

bool utf8ProgramArguments(int* argc, char*** argv) {
    return utf8ArgumentsFromCommandLine(GetCommandLineW(), argc, argv);
}
