// Controls of the recording encoder library used by the tests. The library
// exports the ten MPGE_ entry points of encoder/mpge.h; a test links it
// directly to reach these controls and loads the same file through
// loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH), which maps the same
// instance.
//
// Behaviour of one entry (entry N is the N-th MPGE_initializeWork since the
// last reset, counting from 1):
// - MPGE_processFrame fills its own buffer with 0xA5, asks the input callback
//   for the request size (default 1152 bytes) and keeps what it got. After an
//   answer 0 it hands over this frame's share of the stream; after an answer
//   1 it checks that the buffer was left untouched, hands over the rest of
//   the stream in three calls (the first of them without data pointer, see
//   fakeEncoderSetNullOutputSize) and returns 1.
// - The stream: if a size was queued for the entry (fakeEncoderQueueStreamSize),
//   exactly that many bytes, fakeEncoderStreamByte(entry, offset) each, spread
//   over the frames (at most fakeEncoderSetFrameBytes per frame) with the rest
//   at the end; otherwise fakeEncoderSetFrameBytes bytes per frame (default
//   104) and nothing more at the end.
#pragma once

#include <stdint.h>

#include "encoder/mpge.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A Windows DLL that marks any name for export exports only the marked ones,
 * so the controls are marked beside the ten entry points. */
#if defined(_WIN32) && defined(FAKE_ENCODER_BUILDING)
#define FAKE_ENCODER_API __declspec(dllexport)
#elif defined(_WIN32)
#define FAKE_ENCODER_API __declspec(dllimport)
#else
#define FAKE_ENCODER_API
#endif

enum FakeCallKind {
    FakeInitializeWork = 1,
    FakeSetConfigure,
    FakeGetConfigure,
    FakeDetectConfigure,
    FakeProcessFrame,
    FakeCloseCoder,
    FakeEndCoder,
    FakeGetUnitStates,
    FakeProcessTrack,
    FakeGetVersion,
    FakeInputCallback,  /* the library called the input callback */
    FakeOutputCallback, /* the library called the output callback */
};

/* One recorded call. */
typedef struct {
    int32_t kind;   /* FakeCallKind */
    int32_t entry;  /* entry number at the time of the call (0 before the first) */
    int32_t item;   /* setConfigure/getConfigure item */
    uint32_t value; /* setConfigure value; callbacks: size asked or handed over */
    void* pointer;  /* setConfigure pointer; output callback: data pointer */
    int32_t result; /* what the call returned (callbacks: what the system answered) */
    /* MPGE_ITEM_INPUT: the PcmInputDescription as it stood at the call. */
    PcmInputDescription input;
} FakeCall;

FAKE_ENCODER_API void fakeEncoderReset(void);

/* The call log. fakeEncoderGetCall returns 0 and fills *call, or -1. */
FAKE_ENCODER_API int32_t fakeEncoderCallCount(void);
FAKE_ENCODER_API int32_t fakeEncoderGetCall(int32_t index, FakeCall* call);
/* Number of MPGE_initializeWork calls since the reset. */
FAKE_ENCODER_API int32_t fakeEncoderEntryCount(void);

/* Failures. entry 0 means every entry; result is the nonzero value returned. */
FAKE_ENCODER_API void fakeEncoderFailInitialize(int32_t entry, int32_t result);
FAKE_ENCODER_API void fakeEncoderFailSetting(int32_t item, int32_t entry, int32_t result);
FAKE_ENCODER_API void fakeEncoderFailDetect(int32_t entry, int32_t result);
/* The frame-th MPGE_processFrame (from 1) of the entry returns result at once. */
FAKE_ENCODER_API void fakeEncoderFailFrame(int32_t entry, int32_t frame, int32_t result);

/* Streams: sizes taken by the following entries in turn, one per entry. */
FAKE_ENCODER_API void fakeEncoderQueueStreamSize(uint32_t bytes);
FAKE_ENCODER_API uint8_t fakeEncoderStreamByte(int32_t entry, uint32_t offset);
FAKE_ENCODER_API void fakeEncoderSetFrameBytes(uint32_t bytes);
/* Size passed with the output call that has no data pointer (default 417). */
FAKE_ENCODER_API void fakeEncoderSetNullOutputSize(uint32_t size);
/* Bytes asked per input callback and reported for MPGE_ITEM_REQUEST_SIZE. */
FAKE_ENCODER_API void fakeEncoderSetRequestSize(uint32_t bytes);

/* PCM the input callback delivered for the last entry, padding included.
 * Copies at most capacity bytes; returns the total delivered. */
FAKE_ENCODER_API uint32_t fakeEncoderReceivedPcm(uint8_t* buffer, uint32_t capacity);
/* Times an input callback answered 1 but changed the buffer. */
FAKE_ENCODER_API int32_t fakeEncoderUntouchedViolations(void);

/* Sleeps ms inside the first MPGE_processFrame of the entry (0: every entry). */
FAKE_ENCODER_API void fakeEncoderSetDelay(int32_t entry, int32_t ms);

/* Gate: the first MPGE_processFrame of entry n blocks until released.
 * A program run as a child is gated through its environment instead:
 * FAKE_ENCODER_CHILD_GATE="N:NOTIFY_FD:RELEASE_FD" makes the first
 * MPGE_processFrame of entry N write one byte to NOTIFY_FD, then wait until a
 * byte can be read from RELEASE_FD or it reaches its end. The encoder
 * helpers of such a program inherit no descriptor; for them
 * FAKE_ENCODER_CHILD_FAULT="abort:N", "hang:N" or "delay:MS" makes each
 * helper abort at, or never return from, its own N-th entry, or spend MS
 * milliseconds more on every entry; "refuse:N" makes every process (a
 * program that encodes itself too) refuse its N-th entry and all later. */
FAKE_ENCODER_API void fakeEncoderBlockAtEntry(int32_t entry);
/* 1 once a call is blocked at the gate, 0 when timeoutMs passed first. */
FAKE_ENCODER_API int32_t fakeEncoderWaitUntilBlocked(int32_t timeoutMs);
FAKE_ENCODER_API void fakeEncoderRelease(void);

/* What MPGE_getVersion writes (defaults: 1, "fake encoder 1.0"). */
FAKE_ENCODER_API void fakeEncoderSetVersion(int32_t number, const char* text);

#ifdef __cplusplus
}
#endif
