/* The encoder library's C interface: ten entry points and two callbacks.
 * Both the binding and the stand-in library include this header, so any
 * library exporting these names with these signatures can take its place. */
#ifndef VUD_ENCODER_MPGE_H
#define VUD_ENCODER_MPGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MPGE_EXPORT __declspec(dllexport)
#else
#define MPGE_EXPORT __attribute__((visibility("default")))
#endif

/* 0: buffer filled with exactly size bytes; 1: no PCM left, buffer untouched. */
typedef int32_t (*MpgeInputCallback)(void* buffer, uint32_t size);
/* Always answers 0; a null data pointer writes nothing. */
typedef int32_t (*MpgeOutputCallback)(void* data, uint32_t size);

typedef struct {
    MpgeInputCallback callback; /* the system's PCM input callback */
    uint32_t reserved;          /* 0 */
    uint32_t bitsPerSample;     /* 16 */
    uint32_t sampleRate;        /* Hz */
    uint32_t channels;          /* 1 */
} PcmInputDescription;

enum {
    MPGE_ITEM_INPUT = 1,        /* value 2, pointer: PcmInputDescription */
    MPGE_ITEM_OUTPUT = 2,       /* value 2, pointer: MpgeOutputCallback */
    MPGE_ITEM_MODE = 3,         /* value 0 */
    MPGE_ITEM_BITRATE = 4,      /* kbit/s */
    MPGE_ITEM_OUTPUT_RATE = 6,  /* Hz */
    MPGE_ITEM_REQUEST_SIZE = 15 /* getConfigure: bytes of one input request */
};

typedef int32_t (*MpgeInitializeWorkFn)(void);
typedef int32_t (*MpgeSetConfigureFn)(int32_t item, uint32_t value, void* pointer);
typedef int32_t (*MpgeGetConfigureFn)(int32_t item, void* value);
typedef int32_t (*MpgeDetectConfigureFn)(void);
typedef int32_t (*MpgeProcessFrameFn)(void);
typedef int32_t (*MpgeCloseCoderFn)(void);
typedef int32_t (*MpgeEndCoderFn)(void);
typedef int32_t (*MpgeGetUnitStatesFn)(void* states);
typedef int32_t (*MpgeProcessTrackFn)(void* frame);
typedef int32_t (*MpgeGetVersionFn)(int32_t* versionNumber, char* versionText);

MPGE_EXPORT int32_t MPGE_initializeWork(void);
MPGE_EXPORT int32_t MPGE_setConfigure(int32_t item, uint32_t value, void* pointer);
MPGE_EXPORT int32_t MPGE_getConfigure(int32_t item, void* value);
MPGE_EXPORT int32_t MPGE_detectConfigure(void);
MPGE_EXPORT int32_t MPGE_processFrame(void);
MPGE_EXPORT int32_t MPGE_closeCoder(void);
MPGE_EXPORT int32_t MPGE_endCoder(void);
MPGE_EXPORT int32_t MPGE_getUnitStates(void* states);
MPGE_EXPORT int32_t MPGE_processTrack(void* frame);
MPGE_EXPORT int32_t MPGE_getVersion(int32_t* versionNumber, char* versionText);

#ifdef __cplusplus
}
#endif

#endif
