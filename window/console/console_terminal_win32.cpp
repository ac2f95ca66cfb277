// The console on Windows: detection, its width, the answer line read with
// ReadConsoleW, and standard output taken into a pipe for the entry labels.
// ReadConsoleW cannot be polled: a thread of its own reads the line while
// the loop keeps serving, and a key press written into the console's input
// ends a read that is no longer wanted.
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/win32/console_handle.h"
#include "platform/win32/pipe_descriptor.h"
#include "window/console/console_state.h"

namespace {

constexpr DWORD AnswerLineUnits = 256;
constexpr int32_t AnswerBytes = 4 * AnswerLineUnits;
constexpr int64_t PipeLookMilliseconds = 10;
constexpr DWORD ReaderEndMilliseconds = 1000;
// Labels are a few dozen bytes each; the loop drains the pipe many times a
// second, so the worker never waits on a full one.
constexpr uint32_t LabelPipeBytes = 64 * 1024;
constexpr int StandardOutput = 1;

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// One answer line at a time; the reading thread writes units and done only.
struct AnswerReader {
    HANDLE thread = nullptr;
    HANDLE input = INVALID_HANDLE_VALUE;
    wchar_t line[AnswerLineUnits] = {};
    DWORD units = 0;
    char bytes[AnswerBytes] = {};
    int32_t byteCount = 0;
    int32_t handedOut = 0;
};
AnswerReader reader;

DWORD WINAPI readAnswerLine(void*) {
    DWORD units = 0;
    if (!ReadConsoleW(reader.input, reader.line, AnswerLineUnits, &units, nullptr)) units = 0;
    reader.units = units;
    return 0;
}

int32_t handOut(char* buffer, int32_t capacity) {
    const int32_t count = std::min(capacity, reader.byteCount - reader.handedOut);
    std::copy_n(reader.bytes + reader.handedOut, count, buffer);
    reader.handedOut += count;
    return count;
}

// The reader ended: its line becomes the bytes handed out; false for none
// (the input ended, or Ctrl-C ended the read).
bool takeReaderLine() {
    CloseHandle(reader.thread);
    reader.thread = nullptr;
    reader.handedOut = 0;
    reader.byteCount = 0;
    if (reader.units == 0) return false;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, reader.line, static_cast<int>(reader.units),
                                          reader.bytes, AnswerBytes, nullptr, nullptr);
    reader.byteCount = bytes > 0 ? bytes : 0;
    return reader.byteCount > 0;
}

// A line end typed into the console's input, which the pending read takes.
void pressEnter() {
    INPUT_RECORD keys[2] = {};
    for (INPUT_RECORD& key : keys) {
        key.EventType = KEY_EVENT;
        key.Event.KeyEvent.wRepeatCount = 1;
        key.Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
        key.Event.KeyEvent.uChar.UnicodeChar = L'\r';
    }
    keys[0].Event.KeyEvent.bKeyDown = TRUE;
    DWORD written = 0;
    WriteConsoleInputW(reader.input, keys, 2, &written);
}

}  // namespace

bool standardErrorIsTerminal() {
    return isConsole(streamHandle(stderr));
}

bool standardInputIsTerminal() {
    return isConsole(streamHandle(stdin));
}

int32_t terminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(streamHandle(stderr), &info)) return 80;
    const int32_t columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

int32_t readTerminalAnswer(char* buffer, int32_t capacity, int32_t timeoutMilliseconds) {
    if (reader.handedOut < reader.byteCount) return handOut(buffer, capacity);
    if (reader.thread == nullptr) {
        reader.input = streamHandle(stdin);
        reader.thread = CreateThread(nullptr, 0, readAnswerLine, nullptr, 0, nullptr);
        if (reader.thread == nullptr) return -1;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMilliseconds, 0));
    for (;;) {
        if (descriptorReadable(layer.wakeDescriptor)) return -2;
        const int64_t left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const DWORD slice = static_cast<DWORD>(std::clamp<int64_t>(left, 0, PipeLookMilliseconds));
        if (WaitForSingleObject(reader.thread, slice) == WAIT_OBJECT_0) {
            return takeReaderLine() ? handOut(buffer, capacity) : -1;
        }
        if (left <= 0) return 0;
    }
}

void endTerminalAnswer() {
    reader.handedOut = reader.byteCount = 0;
    if (reader.thread == nullptr) return;
    pressEnter();
    // A read that does not end stays with its thread; the next question
    // takes over its line.
    if (WaitForSingleObject(reader.thread, ReaderEndMilliseconds) != WAIT_OBJECT_0) return;
    CloseHandle(reader.thread);
    reader.thread = nullptr;
}

void startLabelCapture() {
    if (layer.savedOutput >= 0) return;
    const ConsoleWindowConfig& config = layer.config;
    if (!config.mergeEntryLabels || config.quiet || !config.progressOnTerminal) return;
    // A process has one console: both being consoles means the same one.
    if (!isConsole(streamHandle(stdout)) || !isConsole(streamHandle(stderr))) return;
    std::fflush(stdout);
    int32_t pipeRead = -1;
    HANDLE pipeWrite = nullptr;
    if (!openDescriptorPipe(&pipeRead, &pipeWrite, LabelPipeBytes)) return;
    const int writing =
        _open_osfhandle(reinterpret_cast<intptr_t>(pipeWrite), _O_WRONLY | _O_BINARY);
    if (writing < 0) CloseHandle(pipeWrite);
    const int saved = writing >= 0 ? _dup(StandardOutput) : -1;
    if (saved < 0 || _dup2(writing, StandardOutput) != 0) {
        if (saved >= 0) _close(saved);
        if (writing >= 0) _close(writing);
        _close(pipeRead);
        return;
    }
    _close(writing);
    layer.savedOutput = saved;
    layer.labelPipe = pipeRead;
    layer.labelPendingLength = 0;
}

void drainLabelCapture() {
    if (layer.labelPipe < 0) return;
    // The labels end in '\r', which does not flush a stream by itself.
    std::fflush(stdout);
    char chunk[512];
    for (;;) {
        const int32_t count = readWaitingBytes(layer.labelPipe, chunk, sizeof chunk);
        if (count <= 0) return;
        takeLabelBytes(chunk, count);
    }
}

void stopLabelCapture() {
    if (layer.savedOutput < 0) return;
    std::fflush(stdout);
    _dup2(layer.savedOutput, StandardOutput);
    _close(layer.savedOutput);
    layer.savedOutput = -1;
    drainLabelCapture();
    _close(layer.labelPipe);
    layer.labelPipe = -1;
    std::clearerr(stdout);
}
