// Byte order reversal of runs of elements, the whole work of a big-endian
// transfer of integers and IEEE values. A run is reversed 16 or 32 bytes
// at a step: with the byte shuffle of AVX2 where the processor has it,
// else with the word shuffles and shifts every x86-64 processor has. The
// element loop of the scalar form costs about one cycle per element; a
// 1 GiB array would spend a quarter of a second there.
#include "cvt/for_cvt_foreign.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

template <int N>
void reverse_scalar(unsigned char *d, const unsigned char *s, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i, d += N, s += N) {
        if constexpr (N == 2) {
            uint16_t v;
            std::memcpy(&v, s, 2);
            v = __builtin_bswap16(v);
            std::memcpy(d, &v, 2);
        } else if constexpr (N == 4) {
            uint32_t v;
            std::memcpy(&v, s, 4);
            v = __builtin_bswap32(v);
            std::memcpy(d, &v, 4);
        } else if constexpr (N == 8) {
            uint64_t v;
            std::memcpy(&v, s, 8);
            v = __builtin_bswap64(v);
            std::memcpy(d, &v, 8);
        } else {
            uint64_t lo, hi;
            std::memcpy(&lo, s, 8);
            std::memcpy(&hi, s + 8, 8);
            lo = __builtin_bswap64(lo);
            hi = __builtin_bswap64(hi);
            std::memcpy(d, &hi, 8);
            std::memcpy(d + 8, &lo, 8);
        }
    }
}

#if defined(__x86_64__)

// Every step reads its 16 bytes before it writes them, so the run may be
// reversed in place (d == s); runs that overlap otherwise are not asked for.
template <int N>
void reverse_sse2(unsigned char *d, const unsigned char *s, uint64_t count) {
    const uint64_t bytes = count * N;
    uint64_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        // The 16-bit words of each element in reverse order, then the two
        // bytes of each word.
        if constexpr (N == 16) v = _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
        if constexpr (N == 8 || N == 16) {
            v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
            v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
        } else if constexpr (N == 4) {
            v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
            v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
        }
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i), v);
    }
    reverse_scalar<N>(d + i, s + i, (bytes - i) / N);
}

// Byte k of each 16-byte lane comes from byte `from[k]` of that lane.
template <int N>
struct Shuffle {
    alignas(32) unsigned char from[32];
    constexpr Shuffle() : from{} {
        for (int k = 0; k < 32; ++k) from[k] = static_cast<unsigned char>(((k % 16) / N * N + N - 1 - k % N) & 15);
    }
};
template <int N>
constexpr Shuffle<N> shuffle{};

template <int N>
__attribute__((target("avx2"))) void reverse_avx2(unsigned char *d, const unsigned char *s, uint64_t count) {
    const uint64_t bytes = count * N;
    uint64_t i = 0;
    if (bytes < 32) {
        reverse_scalar<N>(d, s, count);
        return;
    }
    const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i *>(shuffle<N>.from));
    for (; i + 64 <= bytes; i += 64) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i), _mm256_shuffle_epi8(a, mask));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i + 32), _mm256_shuffle_epi8(b, mask));
    }
    for (; i + 32 <= bytes; i += 32) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i), _mm256_shuffle_epi8(a, mask));
    }
    reverse_scalar<N>(d + i, s + i, (bytes - i) / N);
}

bool has_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

template <int N>
void reverse_run(unsigned char *d, const unsigned char *s, uint64_t count, bool baseline) {
    if (has_avx2() && !baseline)
        reverse_avx2<N>(d, s, count);
    else
        reverse_sse2<N>(d, s, count);
}

#else

template <int N>
void reverse_run(unsigned char *d, const unsigned char *s, uint64_t count, bool) {
    reverse_scalar<N>(d, s, count);
}

#endif

void reverse(void *dst, const void *src, uint64_t count, int64_t size, bool baseline) {
    auto *d = static_cast<unsigned char *>(dst);
    const auto *s = static_cast<const unsigned char *>(src);
    switch (size) {
    case 2: reverse_run<2>(d, s, count, baseline); return;
    case 4: reverse_run<4>(d, s, count, baseline); return;
    case 8: reverse_run<8>(d, s, count, baseline); return;
    case 16: reverse_run<16>(d, s, count, baseline); return;
    default: break;
    }
    const auto n = static_cast<size_t>(size);
    if (n == 0) return;
    if (d != s) std::memcpy(d, s, count * n);
    for (uint64_t i = 0; i < count; ++i, d += n)
        for (size_t a = 0, b = n - 1; a < b; ++a, --b) {
            unsigned char t = d[a];
            d[a] = d[b];
            d[b] = t;
        }
}

}  // namespace

void for__reverse_elements(void *dst, const void *src, uint64_t count, int64_t size) {
    reverse(dst, src, count, size, false);
}

void for__reverse_elements_baseline(void *dst, const void *src, uint64_t count, int64_t size) {
    reverse(dst, src, count, size, true);
}
