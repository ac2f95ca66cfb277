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
