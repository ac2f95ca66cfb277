// Helper processes over two pipes, Win32. The child's ends of the pipes are
// the only handles it inherits (a handle list; where the system cannot make
// one, starts are serialised so that no other start can take them), it runs
// without a console, so no Ctrl-C or Ctrl-Break event reaches it, and it sits
// in a job object that ends it when the parent's last handle to the job
// closes, however the parent ends.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

#include "platform/child_process.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/handle.h"

struct ChildProcess {
    HANDLE process = nullptr;
    HANDLE input = nullptr;   // the write end of the child's standard input
    HANDLE output = nullptr;  // the read end of the child's standard output
};

namespace {

void closeHandle(HANDLE* handle) {
    if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
    *handle = nullptr;
}

// Whatever the handle list, a handle made inheritable for one start must
// not be taken by another start running at the same time.
std::mutex startLock;

// One job for every child of the process, never closed: the system closes it
// when the process ends, and the kill-on-close limit ends the children then.
// Null when the system has no such jobs (an old Wine) or refuses them.
HANDLE childJob() {
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        if (made == nullptr) return made;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(made);
            return static_cast<HANDLE>(nullptr);
        }
        return made;
    }();
    return job;
}

// The command line's rules (CommandLineToArgvW, the C runtime's): an
// argument with a blank or a quote, or an empty one, is quoted; inside the
// quotes a run of backslashes is doubled before a quote (which is then
// escaped) and before the closing quote, and left alone elsewhere. Writes
// into line when given; the units written either way.
size_t quoteArgument(const wchar_t* argument, wchar_t* line) {
    size_t units = 0;
    auto put = [&](wchar_t unit) {
        if (line != nullptr) line[units] = unit;
        units += 1;
    };
    bool plain = argument[0] != L'\0';
    for (const wchar_t* c = argument; *c != L'\0'; ++c) {
        if (*c == L' ' || *c == L'\t' || *c == L'\n' || *c == L'\v' || *c == L'"') plain = false;
    }
    if (plain) {
        for (const wchar_t* c = argument; *c != L'\0'; ++c) put(*c);
        return units;
    }
    put(L'"');
    for (const wchar_t* c = argument;; ++c) {
        size_t backslashes = 0;
        while (*c == L'\\') {
            backslashes += 1;
            ++c;
        }
        if (*c == L'\0') {
            for (size_t i = 0; i < backslashes * 2; ++i) put(L'\\');
            break;
        }
        if (*c == L'"') {
            for (size_t i = 0; i < backslashes * 2 + 1; ++i) put(L'\\');
        } else {
            for (size_t i = 0; i < backslashes; ++i) put(L'\\');
        }
        put(*c);
    }
    put(L'"');
    return units;
}

// The program's name is read up to the next quote, without escapes: it is
// always quoted and may hold no quote.
size_t quoteProgramName(const wchar_t* name, wchar_t* line) {
    size_t units = 0;
    auto put = [&](wchar_t unit) {
        if (line != nullptr) line[units] = unit;
        units += 1;
    };
    put(L'"');
    for (const wchar_t* c = name; *c != L'\0'; ++c) put(*c);
    put(L'"');
    return units;
}

// The whole command line, or null when an argument is not valid UTF-8 or
// the name holds a quote.
WideText commandLine(const char* const* arguments) {
    size_t count = 0;
    while (arguments[count] != nullptr) count += 1;
    std::unique_ptr<WideText[]> wide(new (std::nothrow) WideText[count]);
    if (!wide) return nullptr;
    size_t units = 1;
    for (size_t i = 0; i < count; ++i) {
        wide[i] = widenUtf8(arguments[i]);
        if (!wide[i]) return nullptr;
        if (i == 0) {
            for (const wchar_t* c = wide[0].get(); *c != L'\0'; ++c) {
                if (*c == L'"') return nullptr;
            }
            units += quoteProgramName(wide[0].get(), nullptr);
        } else {
            units += 1 + quoteArgument(wide[i].get(), nullptr);
        }
    }
    WideText line(new (std::nothrow) wchar_t[units]);
    if (!line) return nullptr;
    size_t at = quoteProgramName(wide[0].get(), line.get());
    for (size_t i = 1; i < count; ++i) {
        line[at++] = L' ';
        at += quoteArgument(wide[i].get(), line.get() + at);
    }
    line[at] = L'\0';
    return line;
}

// The child's standard error: the parent's when that is a pipe or a file
// (a log the child's messages belong in), the null device otherwise (a
// console the child, which has none, cannot write to, or nothing).
OwnedHandle childErrorHandle() {
    const HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
    if (own != nullptr && own != INVALID_HANDLE_VALUE) {
        const DWORD type = GetFileType(own);
        HANDLE copy = nullptr;
        if ((type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK) &&
            DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                            DUPLICATE_SAME_ACCESS)) {
            return OwnedHandle(copy);
        }
    }
    SECURITY_ATTRIBUTES inheritable{static_cast<DWORD>(sizeof inheritable), nullptr, TRUE};
    return ownHandle(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));
}

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
        DeleteProcThreadAttributeList(list);
        delete[] reinterpret_cast<char*>(list);
    }
};
using OwnedAttributeList =
    std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>, AttributeListDeleter>;

// A list naming exactly the handles the child inherits; null when the system
// cannot make one. handles must outlive the list.
OwnedAttributeList inheritedHandleList(HANDLE* handles, size_t count) {
    SIZE_T bytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    if (bytes == 0) return nullptr;
    char* block = new (std::nothrow) char[bytes];
    if (block == nullptr) return nullptr;
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(block);
    if (!InitializeProcThreadAttributeList(list, 1, 0, &bytes)) {
        delete[] block;
        return nullptr;
    }
    OwnedAttributeList owned(list);
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                   count * sizeof(HANDLE), nullptr, nullptr)) {
        return nullptr;
    }
    return owned;
}

bool readAll(HANDLE pipe, void* bytes, size_t byteCount) {
    if (pipe == nullptr || (bytes == nullptr && byteCount > 0)) return false;
    auto* cursor = static_cast<unsigned char*>(bytes);
    while (byteCount > 0) {
        const DWORD wanted = byteCount < (1u << 30) ? static_cast<DWORD>(byteCount) : (1u << 30);
        DWORD got = 0;
        // A broken pipe (the writer is gone) fails the call. A success with
        // nothing read is a zero-length write of the other side: read on.
        if (!ReadFile(pipe, cursor, wanted, &got, nullptr)) return false;
        cursor += got;
        byteCount -= got;
    }
    return true;
}

bool writeAll(HANDLE pipe, const void* bytes, size_t byteCount) {
    if (pipe == nullptr || (bytes == nullptr && byteCount > 0)) return false;
    const auto* cursor = static_cast<const unsigned char*>(bytes);
    while (byteCount > 0) {
        const DWORD wanted = byteCount < (1u << 30) ? static_cast<DWORD>(byteCount) : (1u << 30);
        DWORD written = 0;
        if (!WriteFile(pipe, cursor, wanted, &written, nullptr) || written == 0) return false;
        cursor += written;
        byteCount -= written;
    }
    return true;
}

// The child's side.
HANDLE requestPipe = nullptr;
HANDLE replyPipe = nullptr;

}  // namespace

ChildProcess* childProcessStart(const char* program, const char* const* arguments) {
    if (program == nullptr || arguments == nullptr || arguments[0] == nullptr) return nullptr;
    WideText application = widenUtf8(program);
    WideText line = commandLine(arguments);
    if (!application || !line) return nullptr;

    // Made uninheritable; only the child's ends become inheritable, and only
    // while the start runs.
    HANDLE requestRead = nullptr;
    HANDLE requestWrite = nullptr;
    if (!CreatePipe(&requestRead, &requestWrite, nullptr, 0)) return nullptr;
    OwnedHandle childInput(requestRead);
    OwnedHandle input(requestWrite);
    HANDLE replyRead = nullptr;
    HANDLE replyWrite = nullptr;
    if (!CreatePipe(&replyRead, &replyWrite, nullptr, 0)) return nullptr;
    OwnedHandle output(replyRead);
    OwnedHandle childOutput(replyWrite);
    OwnedHandle childError = childErrorHandle();
    if (!childError) return nullptr;

    auto* child = new (std::nothrow) ChildProcess;
    if (child == nullptr) return nullptr;
    std::unique_ptr<ChildProcess> owned(child);

    PROCESS_INFORMATION started{};
    {
        std::lock_guard<std::mutex> serialised(startLock);
        if (!SetHandleInformation(childInput.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
            !SetHandleInformation(childOutput.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            return nullptr;
        }
        HANDLE inherited[] = {childInput.get(), childOutput.get(), childError.get()};
        OwnedAttributeList list = inheritedHandleList(inherited, 3);

        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = list ? sizeof(STARTUPINFOEXW) : sizeof(STARTUPINFOW);
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = childInput.get();
        startup.StartupInfo.hStdOutput = childOutput.get();
        startup.StartupInfo.hStdError = childError.get();
        startup.lpAttributeList = list.get();
        // Suspended until it sits in the job, so nothing it starts escapes it.
        DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
        if (list) flags |= EXTENDED_STARTUPINFO_PRESENT;
        const BOOL created =
            CreateProcessW(application.get(), line.get(), nullptr, nullptr, TRUE, flags, nullptr,
                           nullptr, &startup.StartupInfo, &started);
        // The child has its copies; ours go before another start may run.
        childInput.reset();
        childOutput.reset();
        childError.reset();
        if (!created) return nullptr;
    }
    OwnedHandle thread(started.hThread);
    child->process = started.hProcess;
    // Without the job the child still ends when its input does.
    const HANDLE job = childJob();
    if (job != nullptr) AssignProcessToJobObject(job, child->process);
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        TerminateProcess(child->process, 1);
        WaitForSingleObject(child->process, INFINITE);
        CloseHandle(child->process);
        return nullptr;
    }
    child->input = input.release();
    child->output = output.release();
    return owned.release();
}

bool childProcessWrite(ChildProcess* child, const void* bytes, size_t byteCount) {
    return child != nullptr && writeAll(child->input, bytes, byteCount);
}

bool childProcessRead(ChildProcess* child, void* bytes, size_t byteCount) {
    return child != nullptr && readAll(child->output, bytes, byteCount);
}

void childProcessCloseInput(ChildProcess* child) {
    if (child != nullptr) closeHandle(&child->input);
}

// Its own handle keeps the process object (and its id) until
// childProcessRelease, so this never reaches another process.
void childProcessTerminate(ChildProcess* child) {
    if (child == nullptr || child->process == nullptr) return;
    TerminateProcess(child->process, 1);
    // A call of another thread blocked on a pipe returns once the child's
    // ends close; Wine does not always wake it, so it is cancelled as well.
    if (child->input != nullptr) CancelIoEx(child->input, nullptr);
    if (child->output != nullptr) CancelIoEx(child->output, nullptr);
}

void childProcessRelease(ChildProcess* child, uint32_t graceMilliseconds) {
    if (child == nullptr) return;
    closeHandle(&child->input);
    closeHandle(&child->output);
    if (WaitForSingleObject(child->process, graceMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(child->process, 1);
        WaitForSingleObject(child->process, INFINITE);
    }
    closeHandle(&child->process);
    delete child;
}

void childProcessTerminateAll() {
    const HANDLE job = childJob();
    if (job != nullptr) TerminateJobObject(job, 1);
}

bool takeParentPipes() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE || output == nullptr ||
        output == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (GetFileType(input) != FILE_TYPE_PIPE || GetFileType(output) != FILE_TYPE_PIPE) return false;
    // Copies of our own, inherited by nothing the library might start:
    // pointing descriptors 0 and 1 elsewhere closes the handles the C runtime
    // holds for them, which are the standard handles.
    HANDLE request = nullptr;
    HANDLE reply = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, input, self, &request, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    if (!DuplicateHandle(self, output, self, &reply, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        CloseHandle(request);
        return false;
    }
    // Not flushed first: what the program printed before belongs on the null
    // device, not in front of the first reply.
    const int nullInput = _wopen(L"NUL", _O_RDONLY | _O_BINARY);
    const int nullOutput = _wopen(L"NUL", _O_WRONLY | _O_BINARY);
    const bool moved =
        nullInput >= 0 && nullOutput >= 0 && _dup2(nullInput, 0) == 0 && _dup2(nullOutput, 1) == 0;
    if (nullInput >= 0) _close(nullInput);
    if (nullOutput >= 0) _close(nullOutput);
    if (!moved) {
        CloseHandle(request);
        CloseHandle(reply);
        return false;
    }
    SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(0)));
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    // A child that crashes must end at once: an error dialog nobody sees
    // would hold it, and its parent's entry, until the parent gives up.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    requestPipe = request;
    replyPipe = reply;
    return true;
}

bool parentPipeRead(void* bytes, size_t byteCount) {
    return readAll(requestPipe, bytes, byteCount);
}

bool parentPipeWrite(const void* bytes, size_t byteCount) {
    return writeAll(replyPipe, bytes, byteCount);
}
