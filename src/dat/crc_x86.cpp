// The carry-less multiply tiers of the CRC-32 loop, for x86 processors. The program is built
// for the baseline instruction set; only the functions below are compiled for the wider
// instructions, and they run only after CrcTierSupported has said the processor has them.
//
// Method: the data is treated as one long polynomial over GF(2). A 128-bit lane that lies
// `d` bits before another can be folded into it: split it into two 64-bit halves, multiply
// each by x^(d+32) or x^(d-32) reduced modulo the CRC polynomial, and add (XOR) both products
// into the later lane. That keeps the remainder modulo the polynomial unchanged, so many lanes
// can be folded forward in parallel and then into one. The last 16-byte lane and the tail
// shorter than a lane go through the table loop, which avoids a separate final reduction.

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "dat/crc_tiers.h"

namespace quorvin {

namespace {

// x^k modulo the CRC-32 polynomial 0x104C11DB7, in the usual bit order.
constexpr uint64_t XPowMod(unsigned k) {
  uint64_t r = 1;
  for (unsigned i = 0; i < k; ++i) {
    r <<= 1;
    if (r & (uint64_t{1} << 32)) r ^= 0x104C11DB7u;
  }
  return r;
}

// The same in the reflected bit order of this CRC, one place up: the product of two reflected
// numbers comes out one bit low, which this shift makes good.
constexpr uint64_t FoldConstant(unsigned k) {
  const uint64_t v = XPowMod(k);
  uint64_t r = 0;
  for (int i = 0; i < 32; ++i) {
    if (v & (uint64_t{1} << i)) r |= uint64_t{1} << (31 - i);
  }
  return r << 1;
}

struct FoldPair {
  uint64_t low_half;   // multiplies the first 8 bytes of a lane
  uint64_t high_half;  // multiplies the last 8 bytes
};

// Constants that move a 128-bit lane `bits` further along the data.
constexpr FoldPair FoldBy(unsigned bits) {
  return {FoldConstant(bits + 32), FoldConstant(bits - 32)};
}

// The published constants of this method for 128 and 512 bits.
static_assert(FoldBy(128).low_half == 0x1751997d0 && FoldBy(128).high_half == 0x0ccaa009e);
static_assert(FoldBy(512).low_half == 0x154442bd4 && FoldBy(512).high_half == 0x1c6e41596);

constexpr FoldPair kFold128 = FoldBy(128);
constexpr FoldPair kFold256 = FoldBy(256);
constexpr FoldPair kFold384 = FoldBy(384);
constexpr FoldPair kFold512 = FoldBy(512);
constexpr FoldPair kFold2048 = FoldBy(2048);

#define QUORVIN_TARGET_PCLMUL __attribute__((target("pclmul,sse4.1")))
#define QUORVIN_TARGET_VPCLMUL \
  __attribute__((target("pclmul,sse4.1,avx2,avx512f,avx512vl,avx512bw,vpclmulqdq")))

QUORVIN_TARGET_PCLMUL inline __m128i Constants128(FoldPair k) {
  return _mm_set_epi64x(static_cast<long long>(k.high_half), static_cast<long long>(k.low_half));
}

QUORVIN_TARGET_PCLMUL inline __m128i Fold128(__m128i lane, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

QUORVIN_TARGET_PCLMUL inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds 16-byte blocks into `lane` while they last, then runs the table loop over the lane
// and the tail. `lane` holds the data before `p` with the register already absorbed, so the
// table loop starts from a cleared register.
QUORVIN_TARGET_PCLMUL uint32_t Finish(__m128i lane, const uint8_t* p, size_t n) {
  const __m128i k1 = Constants128(kFold128);
  while (n >= 16) {
    lane = _mm_xor_si128(Fold128(lane, k1), Load128(p));
    p += 16;
    n -= 16;
  }
  alignas(16) uint8_t last[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(last), lane);
  return Crc32UpdatePortable(Crc32UpdatePortable(0, last, 16), p, n);
}

}  // namespace

QUORVIN_TARGET_PCLMUL uint32_t Crc32UpdatePclmul(uint32_t reg, const uint8_t* p, size_t n) {
  if (n < 64) return Crc32UpdatePortable(reg, p, n);
  // Four lanes of 16 bytes, each folded 64 bytes forward per step.
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = Load128(p + 16);
  __m128i x2 = Load128(p + 32);
  __m128i x3 = Load128(p + 48);
  p += 64;
  n -= 64;
  const __m128i k4 = Constants128(kFold512);
  // Asking for the data a few kilobytes ahead keeps more memory reads under way than the
  // hardware's own prefetching does (measured: a third faster on buffers beyond the cache).
  // A prefetch past the end of the buffer is harmless: it never faults.
  while (n >= 64) {
    _mm_prefetch(reinterpret_cast<const char*>(p + 2048), _MM_HINT_T0);
    x0 = _mm_xor_si128(Fold128(x0, k4), Load128(p));
    x1 = _mm_xor_si128(Fold128(x1, k4), Load128(p + 16));
    x2 = _mm_xor_si128(Fold128(x2, k4), Load128(p + 32));
    x3 = _mm_xor_si128(Fold128(x3, k4), Load128(p + 48));
    p += 64;
    n -= 64;
  }
  const __m128i k1 = Constants128(kFold128);
  x1 = _mm_xor_si128(x1, Fold128(x0, k1));
  x2 = _mm_xor_si128(x2, Fold128(x1, k1));
  x3 = _mm_xor_si128(x3, Fold128(x2, k1));
  return Finish(x3, p, n);
}

namespace {

QUORVIN_TARGET_VPCLMUL inline __m512i Constants512(FoldPair k) {
  const auto lo = static_cast<long long>(k.low_half), hi = static_cast<long long>(k.high_half);
  return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

// Folds each of the four 128-bit lanes of `lanes` and adds `data`: a ^ b ^ c in one step.
QUORVIN_TARGET_VPCLMUL inline __m512i Fold512(__m512i lanes, __m512i k, __m512i data) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lanes, k, 0x00),
                                   _mm512_clmulepi64_epi128(lanes, k, 0x11), data, 0x96);
}

// One 128-bit lane. (The masked form: the plain one trips GCC 12's uninitialized-use warning.)
QUORVIN_TARGET_VPCLMUL inline __m128i Lane(__m512i lanes, int i) {
  switch (i) {
    case 0:
      return _mm512_maskz_extracti32x4_epi32(0xF, lanes, 0);
    case 1:
      return _mm512_maskz_extracti32x4_epi32(0xF, lanes, 1);
    case 2:
      return _mm512_maskz_extracti32x4_epi32(0xF, lanes, 2);
    default:
      return _mm512_maskz_extracti32x4_epi32(0xF, lanes, 3);
  }
}

QUORVIN_TARGET_VPCLMUL inline __m512i Load512(const uint8_t* p) { return _mm512_loadu_si512(p); }

}  // namespace

QUORVIN_TARGET_VPCLMUL uint32_t Crc32UpdateVpclmul(uint32_t reg, const uint8_t* p, size_t n) {
  if (n < 256) return Crc32UpdatePclmul(reg, p, n);
  // Four registers of four 16-byte lanes, each folded 256 bytes forward per step.
  const __m512i start =
      _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(static_cast<int>(reg)), 0);
  __m512i x0 = _mm512_xor_si512(Load512(p), start);
  __m512i x1 = Load512(p + 64);
  __m512i x2 = Load512(p + 128);
  __m512i x3 = Load512(p + 192);
  p += 256;
  n -= 256;
  const __m512i k16 = Constants512(kFold2048);
  while (n >= 256) {
    // As in the 128-bit loop: one prefetch per 64-byte line, 4 KiB ahead.
    _mm_prefetch(reinterpret_cast<const char*>(p + 4096), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 4096 + 64), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 4096 + 128), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 4096 + 192), _MM_HINT_T0);
    x0 = Fold512(x0, k16, Load512(p));
    x1 = Fold512(x1, k16, Load512(p + 64));
    x2 = Fold512(x2, k16, Load512(p + 128));
    x3 = Fold512(x3, k16, Load512(p + 192));
    p += 256;
    n -= 256;
  }
  const __m512i k4 = Constants512(kFold512);
  x1 = Fold512(x0, k4, x1);
  x2 = Fold512(x1, k4, x2);
  x3 = Fold512(x2, k4, x3);
  while (n >= 64) {
    x3 = Fold512(x3, k4, Load512(p));
    p += 64;
    n -= 64;
  }
  // The four lanes into the last one: lane i lies (3 - i) * 128 bits before lane 3.
  __m128i lane = Lane(x3, 3);
  lane = _mm_xor_si128(lane, Fold128(Lane(x3, 0), Constants128(kFold384)));
  lane = _mm_xor_si128(lane, Fold128(Lane(x3, 1), Constants128(kFold256)));
  lane = _mm_xor_si128(lane, Fold128(Lane(x3, 2), Constants128(kFold128)));
  return Finish(lane, p, n);
}

}  // namespace quorvin

#endif  // x86
