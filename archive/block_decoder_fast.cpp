#include <cstring>

#include "archive/block_decoder.h"
#include "archive/block_decoder_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// For a piece of 8 nibbles: the escape codes among them, given which of its
// nibbles are 15 (the index) and how many of its first nibbles (0..2) are
// still value nibbles of an escape code before it. The three answers, one
// per such skip, sit side by side in 16-bit fields so that all can be
// loaded before the skip is known: field `skip` holds the escape bits in
// its low byte and 16 x the skip into the next piece in its high byte.
uint64_t escapeResolve[256];
// Bit i of the index set -> byte i all ones.
uint64_t byteMaskOfBits[256];

constexpr uint32_t ChunkNibbles = DeltaChunkNibbles;

}  // namespace

void buildFastDecodeTables() {
    for (uint32_t fifteens = 0; fifteens < 256; ++fifteens) {
        uint64_t answers = 0;
        for (uint32_t skip = 0; skip < 3; ++skip) {
            uint32_t escapes = 0;
            uint32_t i = skip;
            while (i < 8) {
                if ((fifteens >> i & 1) != 0) {
                    escapes |= 1u << i;
                    i += 3;
                } else {
                    i += 1;
                }
            }
            answers |= static_cast<uint64_t>(escapes | (16 * (i - 8)) << 8) << (16 * skip);
        }
        escapeResolve[fifteens] = answers;
    }
    for (uint32_t bits = 0; bits < 256; ++bits) {
        uint64_t mask = 0;
        for (uint32_t i = 0; i < 8; ++i) {
            if ((bits >> i & 1) != 0) mask |= uint64_t{0xFF} << (8 * i);
        }
        byteMaskOfBits[bits] = mask;
    }
}

uint64_t decodeRawBlock(const uint8_t* bytes, uint64_t length, uint64_t start, int16_t* out) {
    if (length < start || length - start < SamplesPerFixedBlock) {
        return decodeRawBlockReference(bytes, length, start, out);
    }
    const uint8_t* source = bytes + start;
    const int16_t* table = decodeTables.sampleTable;
    for (int32_t k = 0; k < SamplesPerFixedBlock; k += 8) {
        uint64_t word;
        std::memcpy(&word, source + k, sizeof word);
        out[k + 0] = table[word & 0xFF];
        out[k + 1] = table[(word >> 8) & 0xFF];
        out[k + 2] = table[(word >> 16) & 0xFF];
        out[k + 3] = table[(word >> 24) & 0xFF];
        out[k + 4] = table[(word >> 32) & 0xFF];
        out[k + 5] = table[(word >> 40) & 0xFF];
        out[k + 6] = table[(word >> 48) & 0xFF];
        out[k + 7] = table[word >> 56];
    }
    return SamplesPerFixedBlock;
}

#if defined(__SSE2__)

namespace {

// The step of every byte value u of a vector, as the delta table gives it:
// (u + 1) / 2 for odd u, -u / 2 for even u.
inline __m128i stepsOf(__m128i values) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_avg_epu8(values, zero);  // (u + 1) >> 1
    const __m128i even = _mm_cmpeq_epi8(_mm_and_si128(values, _mm_set1_epi8(1)), zero);
    return _mm_sub_epi8(_mm_xor_si128(half, even), even);
}

// Running sums of the 16 steps, each plus the accumulator in every byte of carry.
inline __m128i accumulate(__m128i steps, __m128i carry) {
    steps = _mm_add_epi8(steps, _mm_slli_si128(steps, 1));
    steps = _mm_add_epi8(steps, _mm_slli_si128(steps, 2));
    steps = _mm_add_epi8(steps, _mm_slli_si128(steps, 4));
    steps = _mm_add_epi8(steps, _mm_slli_si128(steps, 8));
    return _mm_add_epi8(steps, carry);
}

// The samples of 16 accumulators, as the sample table gives them: with
// v = a - 128, 2 x v x |v| (which always fits 16 bits).
inline void samplesOf(__m128i accumulators, __m128i* first, __m128i* second) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_xor_si128(accumulators, _mm_set1_epi8(static_cast<char>(0x80)));
    const __m128i sign = _mm_cmpgt_epi8(zero, v);
    const __m128i v0 = _mm_unpacklo_epi8(v, sign);
    const __m128i v1 = _mm_unpackhi_epi8(v, sign);
    const __m128i p0 = _mm_mullo_epi16(v0, _mm_max_epi16(v0, _mm_sub_epi16(zero, v0)));
    const __m128i p1 = _mm_mullo_epi16(v1, _mm_max_epi16(v1, _mm_sub_epi16(zero, v1)));
    *first = _mm_add_epi16(p0, p0);
    *second = _mm_add_epi16(p1, p1);
}

// Byte 15 of v in every byte.
inline __m128i lastByteEverywhere(__m128i v) {
    v = _mm_unpackhi_epi8(v, v);
    v = _mm_shufflehi_epi16(v, 0xFF);
    return _mm_shuffle_epi32(v, 0xFF);
}

inline __m128i byteMasks(uint32_t bits) {
    return _mm_set_epi64x(static_cast<long long>(byteMaskOfBits[(bits >> 8) & 0xFF]),
                          static_cast<long long>(byteMaskOfBits[bits & 0xFF]));
}

}  // namespace

uint64_t decodeDeltaBlock(const uint8_t* bytes, uint64_t length, uint64_t start, uint64_t size,
                          int16_t* out, DeltaChunkScratch* scratch) {
    if (length <= start) return 0;
    const uint8_t* block = bytes + start;
    const uint64_t available = (length - start) * 2;
    const uint64_t end = 2 * size;
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i fifteen = _mm_set1_epi8(0x0F);

    __m128i carry = _mm_setzero_si128();
    uint32_t skip = 0;
    uint64_t count = 0;
    uint64_t p = 0;
    // A chunk reads the 16 bytes of its nibbles and one more for the escape
    // values of its last nibbles.
    while (p + ChunkNibbles <= end && p + ChunkNibbles + 2 <= available) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + p / 2));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + p / 2 + 1));
        const __m128i lo = _mm_and_si128(x, low);
        const __m128i hi = _mm_and_si128(_mm_srli_epi16(x, 4), low);
        const __m128i nibbles0 = _mm_unpacklo_epi8(lo, hi);
        const __m128i nibbles1 = _mm_unpackhi_epi8(lo, hi);
        const uint32_t fifteens =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(nibbles0, fifteen))) |
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(nibbles1, fifteen))) << 16;

        if (fifteens == 0 && skip == 0) {
            // Every nibble is a step code and yields a sample.
            const __m128i a0 = accumulate(stepsOf(nibbles0), carry);
            const __m128i a1 = accumulate(stepsOf(nibbles1), lastByteEverywhere(a0));
            carry = lastByteEverywhere(a1);
            __m128i s0, s1, s2, s3;
            samplesOf(a0, &s0, &s1);
            samplesOf(a1, &s2, &s3);
            __m128i* o = reinterpret_cast<__m128i*>(out + count);
            _mm_storeu_si128(o, s0);
            _mm_storeu_si128(o + 1, s1);
            _mm_storeu_si128(o + 2, s2);
            _mm_storeu_si128(o + 3, s3);
            count += ChunkNibbles;
            p += ChunkNibbles;
            continue;
        }

        // Which 15-nibbles are escape codes, and which nibbles are their values.
        uint32_t escapes = 0;
        uint32_t field = 16 * skip;
        for (uint32_t piece = 0; piece < 4; ++piece) {
            const auto r =
                static_cast<uint32_t>(escapeResolve[(fifteens >> (8 * piece)) & 0xFF] >> field);
            escapes |= (r & 0xFF) << (8 * piece);
            field = (r >> 8) & 0xFF;
        }
        const uint32_t values = (escapes << 1) | (escapes << 2) | ((1u << skip) - 1);
        skip = field / 16;

        // An escape code at nibble i takes the byte that starts at nibble i + 1:
        // for even i the high nibble of its byte and the low nibble of the next,
        // for odd i the next byte.
        const __m128i odd = _mm_or_si128(hi, _mm_slli_epi16(_mm_and_si128(next, low), 4));
        const __m128i escapeValues0 = _mm_unpacklo_epi8(odd, next);
        const __m128i escapeValues1 = _mm_unpackhi_epi8(odd, next);
        const __m128i isEscape0 = byteMasks(escapes);
        const __m128i isEscape1 = byteMasks(escapes >> 16);
        const __m128i isValue0 = byteMasks(values);
        const __m128i isValue1 = byteMasks(values >> 16);
        const __m128i codes0 = _mm_or_si128(_mm_and_si128(isEscape0, escapeValues0),
                                            _mm_andnot_si128(isEscape0, nibbles0));
        const __m128i codes1 = _mm_or_si128(_mm_and_si128(isEscape1, escapeValues1),
                                            _mm_andnot_si128(isEscape1, nibbles1));
        // Value nibbles neither step nor yield a sample.
        const __m128i a0 = accumulate(_mm_andnot_si128(isValue0, stepsOf(codes0)), carry);
        const __m128i a1 =
            accumulate(_mm_andnot_si128(isValue1, stepsOf(codes1)), lastByteEverywhere(a0));
        carry = lastByteEverywhere(a1);
        __m128i* samples = reinterpret_cast<__m128i*>(scratch->samples);
        __m128i s0, s1, s2, s3;
        samplesOf(a0, &s0, &s1);
        samplesOf(a1, &s2, &s3);
        _mm_store_si128(samples, s0);
        _mm_store_si128(samples + 1, s1);
        _mm_store_si128(samples + 2, s2);
        _mm_store_si128(samples + 3, s3);

        // Each nibble's sample goes to the number of samples before it in the
        // chunk. A value nibble yields none: its write lands where the next
        // sample goes and is overwritten by it. No write position passes its
        // nibble's index, so all stay inside the block's 2 x size samples.
        const __m128i one = _mm_set1_epi8(1);
        const __m128i keep0 = _mm_andnot_si128(isValue0, one);
        const __m128i keep1 = _mm_andnot_si128(isValue1, one);
        const __m128i upTo0 = accumulate(keep0, _mm_setzero_si128());
        const __m128i upTo1 = accumulate(keep1, lastByteEverywhere(upTo0));
        uint8_t* const positions = scratch->positions;
        _mm_store_si128(reinterpret_cast<__m128i*>(positions), _mm_sub_epi8(upTo0, keep0));
        _mm_store_si128(reinterpret_cast<__m128i*>(positions + 16), _mm_sub_epi8(upTo1, keep1));
        int16_t* o = out + count;
#pragma GCC unroll 32
        for (uint32_t i = 0; i < ChunkNibbles; ++i) o[positions[i]] = scratch->samples[i];
        count += static_cast<uint32_t>(_mm_extract_epi16(upTo1, 7)) >> 8;
        p += ChunkNibbles;
    }
    const auto accumulator =
        static_cast<uint8_t>(_mm_cvtsi128_si32(_mm_srli_si128(carry, 15)) & 0xFF);
    return count + decodeDeltaNibbles(block, available, p + skip, end, accumulator, out + count);
}

#else  // no SSE2: the plain loop

uint64_t decodeDeltaBlock(const uint8_t* bytes, uint64_t length, uint64_t start, uint64_t size,
                          int16_t* out, DeltaChunkScratch*) {
    return decodeDeltaBlockReference(bytes, length, start, size, out);
}

#endif
