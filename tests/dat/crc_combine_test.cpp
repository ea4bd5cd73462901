#include "dat/crc_combine.h"

#include <gtest/gtest.h>

#include <random>

#include "dat/crc.h"
#include "dat/rom_header.h"
#include "zlib_compat.h"

namespace quorvin {
namespace {

std::string RandomBytes(std::mt19937& rng, size_t size) {
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

TEST(CrcCombineTest, AgreesWithZlibOnRandomPartsAndLengths) {
  std::mt19937_64 rng(7);
  // Lengths from nothing to beyond 4 GiB, where a 32-bit length would wrap.
  for (uint64_t length : {0ull, 1ull, 2ull, 15ull, 16ull, 8192ull, 40960ull, 1000003ull,
                          (1ull << 32) + 5, (1ull << 40) + 12345}) {
    for (int i = 0; i < 20; ++i) {
      const uint32_t a = static_cast<uint32_t>(rng()), b = static_cast<uint32_t>(rng());
      if (test::ZlibTakesLength(length)) {
        EXPECT_EQ(Crc32Combine(a, b, length), test::ZlibCrc32Combine(a, b, length)) << length;
      }
      // The inverse takes the prefix back out.
      EXPECT_EQ(Crc32OfSuffix(Crc32Combine(a, b, length), a, length), b) << length;
    }
  }
}

TEST(CrcCombineTest, PiecesOfRealBuffersCombineToTheWhole) {
  std::mt19937 rng(11);
  for (size_t size : {1, 16, 17, 100, 4096, 65553}) {
    const std::string whole = RandomBytes(rng, size);
    for (size_t cut : {size_t{0}, size / 3, size - 1, size}) {
      const std::string_view a = std::string_view(whole).substr(0, cut);
      const std::string_view b = std::string_view(whole).substr(cut);
      EXPECT_EQ(Crc32Combine(Crc32(a), Crc32(b), b.size()), Crc32(whole)) << size << "/" << cut;
      EXPECT_EQ(Crc32OfSuffix(Crc32(whole), Crc32(a), b.size()), Crc32(b)) << size << "/" << cut;
    }
  }
}

TEST(RomHeaderTest, KnownHeadersAndTheCrcAfterThem) {
  std::mt19937 rng(3);
  const std::string nes("NES\x1A\x02\x01\x00\x00\0\0\0\0\0\0\0\0", 16);
  std::string trainer = nes;
  trainer[6] = 0x04;
  const std::string body = RandomBytes(rng, 40960);
  struct Case {
    std::string file;
    uint64_t header;
  } cases[] = {
      {nes + body, 16},
      {trainer + RandomBytes(rng, 512) + body, 528},
      {nes, 0},                               // nothing but a header
      {trainer + "short", 0},                 // shorter than its trainer
      {"NES\x1B" + nes.substr(4) + body, 0},  // another magic
      {"NES\x1A", 0},                         // too short to be a header
      {body, 0},
  };
  for (const Case& c : cases) {
    const std::string_view head = std::string_view(c.file).substr(0, kRomHeadBytes);
    EXPECT_EQ(RomHeaderLength(head, c.file.size()), c.header) << c.file.size();
    HeaderlessCrcs table;
    const uint32_t whole = Crc32(c.file);
    table.Note(head, c.file.size(), whole);
    auto after = table.Find(whole, c.file.size());
    ASSERT_EQ(after.size(), c.header != 0 ? 1u : 0u) << c.file.size();
    if (after.empty()) continue;
    EXPECT_EQ(after[0].crc, Crc32(std::string_view(c.file).substr(c.header)));
    EXPECT_EQ(after[0].size, c.file.size() - c.header);
    EXPECT_TRUE(table.Find(whole, c.file.size() + 1).empty());
  }
}

}  // namespace
}  // namespace quorvin
