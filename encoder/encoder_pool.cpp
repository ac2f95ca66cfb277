// The number of encoders a run uses.
#include "encoder/encoder_pool.h"

#include <atomic>
#include <cstdlib>

#include "platform/process.h"

namespace {

std::atomic<int32_t> jobCount{1};

}  // namespace

void setEncoderJobCount(int32_t jobs) {
    if (jobs < 1) jobs = 1;
    if (jobs > MaxEncoderJobs) jobs = MaxEncoderJobs;
    jobCount.store(jobs);
}

int32_t encoderJobCount() {
    return jobCount.load();
}

int32_t parseEncoderJobCount(const char* text) {
    if (text == nullptr || text[0] == '\0') return 0;
    int32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        value = value * 10 + (*c - '0');
        if (value > MaxEncoderJobs) return 0;
    }
    return value;
}

int32_t defaultEncoderJobCount() {
    const int32_t chosen = parseEncoderJobCount(std::getenv("VUD_JOBS"));
    if (chosen >= 1) return chosen;
    const int32_t processors = availableProcessorCount();
    return processors > MaxEncoderJobs ? MaxEncoderJobs : processors;
}
