/* The encoder library's C interface: ten entry points and two callbacks.
 * Both the binding and the stand-in library include this header, so any
 * library exporting these names with these signatures can take its place.
 *
 * Windows: cdecl, undecorated names. The entry points and both callbacks use
 * the C calling convention (MPGE_CALL, spelled out on 32-bit Windows, where a
 * compiler could be told to default to another), and the library exports the
 * ten plain names (MPGE_initializeWork, not _MPGE_initializeWork or
 * MPGE_initializeWork@0), since the binding resolves them by those names. */
#ifndef VUD_ENCODER_MPGE_H
#define VUD_ENCODER_MPGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MPGE_EXPORT __declspec(dllexport)
#else
#define MPGE_EXPORT __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define MPGE_CALL __cdecl
#else
#define MPGE_CALL
#endif

/* 0: buffer filled with exactly size bytes; 1: no PCM left, buffer untouched. */
typedef int32_t(MPGE_CALL* MpgeInputCallback)(void* buffer, uint32_t size);
/* Always answers 0; a null data pointer writes nothing. */
typedef int32_t(MPGE_CALL* MpgeOutputCallback)(void* data, uint32_t size);

typedef struct {
    MpgeInputCallback callback; /* the system's PCM input callback */
    uint32_t reserved;          /* 0 */
    uint32_t bitsPerSample;     /* 16 */
    uint32_t sampleRate;        /* Hz */
    uint32_t channels;          /* 1 */
} PcmInputDescription;

/* The description is handed over as raw bytes, so its layout is part of the
 * interface: 32-bit, the callback's address in the first 32-bit field, 20
 * bytes; 64-bit, an 8-byte callback address, then the four 32-bit fields, 24
 * bytes. */
#ifdef __cplusplus
#define MPGE_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define MPGE_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
MPGE_STATIC_ASSERT(sizeof(PcmInputDescription) == 20, "PcmInputDescription is 20 bytes");
MPGE_STATIC_ASSERT(sizeof(MpgeInputCallback) == 4, "the callback fills a 32-bit field");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, callback) == 0, "callback at 0");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, reserved) == 4, "reserved at 4");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, bitsPerSample) == 8, "bitsPerSample at 8");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, sampleRate) == 12, "sampleRate at 12");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, channels) == 16, "channels at 16");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
MPGE_STATIC_ASSERT(sizeof(PcmInputDescription) == 24, "PcmInputDescription is 24 bytes");
MPGE_STATIC_ASSERT(sizeof(MpgeInputCallback) == 8, "the callback fills a 64-bit field");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, callback) == 0, "callback at 0");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, reserved) == 8, "reserved at 8");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, bitsPerSample) == 12, "bitsPerSample at 12");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, sampleRate) == 16, "sampleRate at 16");
MPGE_STATIC_ASSERT(offsetof(PcmInputDescription, channels) == 20, "channels at 20");
#else
#error "PcmInputDescription's layout is pinned for 32-bit and 64-bit addresses only"
#endif

/* The items of MPGE_setConfigure and MPGE_getConfigure. */
enum {
    MPGE_ITEM_INPUT = 1,         /* value MPGE_THROUGH_CALLBACK, pointer: PcmInputDescription */
    MPGE_ITEM_OUTPUT = 2,        /* value MPGE_THROUGH_CALLBACK, pointer: MpgeOutputCallback */
    MPGE_ITEM_MODE = 3,          /* value 0 */
    MPGE_ITEM_BITRATE = 4,       /* kbit/s */
    MPGE_ITEM_OUTPUT_RATE = 6,   /* Hz */
    MPGE_ITEM_REQUEST_SIZE = 15, /* getConfigure: bytes of one input request */
    /* Two runs of further settings, each given value 0, first to last. A
     * library may refuse them: the converter goes on whatever they answer. */
    MPGE_ITEM_ZEROED_LOW_FIRST = 10,
    MPGE_ITEM_ZEROED_LOW_LAST = 13,
    MPGE_ITEM_ZEROED_HIGH_FIRST = 38,
    MPGE_ITEM_ZEROED_HIGH_LAST = 40
};

/* The value of MPGE_ITEM_INPUT and MPGE_ITEM_OUTPUT: the PCM comes in, and
 * the MP3 goes out, through the callback that the pointer gives. */
enum { MPGE_THROUGH_CALLBACK = 2 };

typedef int32_t(MPGE_CALL* MpgeInitializeWorkFn)(void);
typedef int32_t(MPGE_CALL* MpgeSetConfigureFn)(int32_t item, uint32_t value, void* pointer);
typedef int32_t(MPGE_CALL* MpgeGetConfigureFn)(int32_t item, void* value);
typedef int32_t(MPGE_CALL* MpgeDetectConfigureFn)(void);
typedef int32_t(MPGE_CALL* MpgeProcessFrameFn)(void);
typedef int32_t(MPGE_CALL* MpgeCloseCoderFn)(void);
typedef int32_t(MPGE_CALL* MpgeEndCoderFn)(void);
typedef int32_t(MPGE_CALL* MpgeGetUnitStatesFn)(void* states);
typedef int32_t(MPGE_CALL* MpgeProcessTrackFn)(void* frame);
typedef int32_t(MPGE_CALL* MpgeGetVersionFn)(int32_t* versionNumber, char* versionText);

MPGE_EXPORT int32_t MPGE_CALL MPGE_initializeWork(void);
MPGE_EXPORT int32_t MPGE_CALL MPGE_setConfigure(int32_t item, uint32_t value, void* pointer);
MPGE_EXPORT int32_t MPGE_CALL MPGE_getConfigure(int32_t item, void* value);
MPGE_EXPORT int32_t MPGE_CALL MPGE_detectConfigure(void);
MPGE_EXPORT int32_t MPGE_CALL MPGE_processFrame(void);
MPGE_EXPORT int32_t MPGE_CALL MPGE_closeCoder(void);
MPGE_EXPORT int32_t MPGE_CALL MPGE_endCoder(void);
MPGE_EXPORT int32_t MPGE_CALL MPGE_getUnitStates(void* states);
MPGE_EXPORT int32_t MPGE_CALL MPGE_processTrack(void* frame);
MPGE_EXPORT int32_t MPGE_CALL MPGE_getVersion(int32_t* versionNumber, char* versionText);

#ifdef __cplusplus
}
#endif

#endif
