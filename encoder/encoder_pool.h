// Encoding entries in helper processes, one encoder library each: the
// library holds one encoder per process, so N encoders need N processes.
// The archive conversion hands decoded entries in table order to the pool
// and takes the streams back in the same order.
#pragma once

#include <cstdint>
#include <memory>

constexpr int32_t MaxEncoderJobs = 64;
// The helper program, installed beside the programs.
#if defined(_WIN32)
constexpr const char* EncoderHelperFileName = "vud-encoder-helper.exe";
#else
constexpr const char* EncoderHelperFileName = "vud-encoder-helper";
#endif

// Encoders the next run uses; 1 encodes in the program itself, as always.
// Set by a front end while no run is active.
void setEncoderJobCount(int32_t jobs);
int32_t encoderJobCount();
// VUD_JOBS when it holds a whole number from 1 to MaxEncoderJobs, otherwise
// the processors available to the process (at most MaxEncoderJobs).
int32_t defaultEncoderJobCount();
// Parses a job count as given by a user: a whole number from 1 to
// MaxEncoderJobs, nothing else; 0 when the text is not one.
int32_t parseEncoderJobCount(const char* text);

// Where the helper program is taken from: null (the default) means
// EncoderHelperFileName beside the running program. Tests name the built one.
void setEncoderHelperPath(const char* path);
// How long a helper may take to answer for one entry: this base plus the
// entry's audio length, counted in the helper's own time only: time in
// which this program ran and the machine was awake. A helper that takes
// longer is ended and the entry fails. Tests shorten it.
constexpr uint32_t EncoderHelperAnswerBaseMilliseconds = 30000;
void setEncoderHelperAnswerBase(uint32_t milliseconds);
// How long the helpers may take, counted the same way, to load the library
// and say they are ready.
constexpr uint32_t EncoderHelperStartMilliseconds = 10000;

// Starts helperCount helpers, each with the encoder library the program has
// loaded, and waits for every one to say it is ready. false when any of them
// could not be started, could not load the library or make its scratch
// stream, did not answer in time, or when giveUp (asked while they load)
// answers true; then none is left running.
bool encoderPoolStart(int32_t helperCount, bool (*giveUp)(void* context) = nullptr,
                      void* context = nullptr);
// Ends every helper (one still encoding is ended at once: its entry is no
// longer wanted) and drops every entry held. Safe when none runs. The
// helpers are released together: a stop takes at most one grace period.
void encoderPoolStop();
bool encoderPoolRunning();

// Entries the pool holds at most: waiting for a helper, being encoded, or
// encoded and not yet taken (twice the helpers).
int32_t encoderPoolCapacity();
int32_t encoderPoolHeld();

struct PooledEntry {
    std::unique_ptr<int16_t[]> samples;
    uint32_t byteCount;
    int32_t sampleRate;
    int32_t bitRate;
    int64_t audioMilliseconds;
    int32_t streamLimit;  // the most stream bytes the archive can still hold
};

struct PooledStream {
    std::unique_ptr<uint8_t[]> bytes;  // null for a stream over the entry's limit
    int32_t size;                      // -1: the entry failed
    bool labelReached;                 // the encoding got as far as the entry's label
};

// Hands an entry to the pool, which takes its samples. false when the pool
// is full or not running.
bool encoderPoolSubmit(PooledEntry entry);
// Waits for the oldest entry handed in and takes its stream. An entry whose
// helper failed, crashed or did not answer in time comes back with size -1.
// false when no entry is held.
bool encoderPoolTakeOldest(PooledStream* stream);
// Drops every entry held (the archive failed); helpers still encoding one
// finish it unheard.
void encoderPoolDiscard();

// Ends every helper at once, for a program about to end without its usual
// clean-up; safe in a signal handler.
void endEncoderHelpersNow();
