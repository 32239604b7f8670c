// The image checksum, at the speed memory delivers the image: on x86-64 an
// SSE2 sum of absolute differences against zero adds 16 bytes per
// instruction; elsewhere the plain sum.
#include "checksum.h"
#include "package.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>  // SSE2, part of every x86-64 processor
#endif

int32_t ChecksumOctetParOctet(const uint8_t *data, uint32_t length)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<int32_t>(~sum);
}

#if defined(__x86_64__) || defined(_M_X64)

int32_t Checksum(const uint8_t *data, uint32_t length)
{
    // _mm_sad_epu8 against zero sums each half of 16 bytes into a 64-bit
    // lane. Four accumulators keep four loads in flight. A 64-bit lane cannot
    // overflow for 32-bit lengths, and its low 32 bits are the wrapping sum.
    const __m128i zero = _mm_setzero_si128();
    __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
    uint32_t i = 0;
    for (; length - i >= 64; i += 64) {
        const auto *p = reinterpret_cast<const __m128i *>(data + i);
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(_mm_loadu_si128(p), zero));
        acc1 = _mm_add_epi64(acc1, _mm_sad_epu8(_mm_loadu_si128(p + 1), zero));
        acc2 = _mm_add_epi64(acc2, _mm_sad_epu8(_mm_loadu_si128(p + 2), zero));
        acc3 = _mm_add_epi64(acc3, _mm_sad_epu8(_mm_loadu_si128(p + 3), zero));
    }
    for (; length - i >= 16; i += 16)
        acc0 = _mm_add_epi64(
            acc0, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i)), zero));
    const __m128i acc = _mm_add_epi64(_mm_add_epi64(acc0, acc1), _mm_add_epi64(acc2, acc3));
    const __m128i high = _mm_unpackhi_epi64(acc, acc);
    uint32_t sum = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi64(acc, high)));
    for (; i < length; ++i)
        sum += data[i];
    return static_cast<int32_t>(~sum);
}

#else

int32_t Checksum(const uint8_t *data, uint32_t length)
{
    return ChecksumOctetParOctet(data, length);
}

#endif
