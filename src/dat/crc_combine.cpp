#include "dat/crc_combine.h"

#include <array>

namespace quorvin {

namespace {

// Polynomials over GF(2) modulo the CRC-32 polynomial, in the reflected bit order of the
// CRC register: bit 31 is x^0.
constexpr uint32_t kPoly = 0xEDB88320u;

constexpr uint32_t MultModP(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
    if (a & m) {
      product ^= b;
      if ((a & (m - 1)) == 0) break;
    }
    b = (b & 1) ? (b >> 1) ^ kPoly : b >> 1;
  }
  return product;
}

// x^(2^k) modulo the polynomial, for k = 0..31; the powers repeat with a period that divides
// 2^32 - 1, so 32 of them cover every length.
constexpr std::array<uint32_t, 32> MakePowerTable() {
  std::array<uint32_t, 32> t{};
  uint32_t p = 1u << 30;  // x^1
  for (uint32_t& entry : t) {
    entry = p;
    p = MultModP(p, p);
  }
  return t;
}
constexpr std::array<uint32_t, 32> kPowers = MakePowerTable();

// x^(n * 2^k) modulo the polynomial.
uint32_t PowerOfX(uint64_t n, unsigned k) {
  uint32_t p = 1u << 31;  // x^0
  for (; n != 0; n >>= 1, ++k) {
    if (n & 1) p = MultModP(kPowers[k & 31], p);
  }
  return p;
}

// crc(A) carried past `length` more bytes: the part of crc(A followed by B) that A gives.
// The register's pre- and post-conditioning cancel between the three CRCs, which is why the
// plain shift is enough.
uint32_t Shift(uint32_t crc, uint64_t length) { return MultModP(PowerOfX(length, 3), crc); }

}  // namespace

uint32_t Crc32Combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b) {
  return Shift(crc_a, length_b) ^ crc_b;
}

uint32_t Crc32OfSuffix(uint32_t crc_whole, uint32_t crc_prefix, uint64_t length_suffix) {
  return Shift(crc_prefix, length_suffix) ^ crc_whole;
}

}  // namespace quorvin
