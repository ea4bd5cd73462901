#include "dat/rom_header.h"

#include <gtest/gtest.h>

#include <random>

#include "dat/crc.h"
#include "dat/hash_pool.h"
#include "dumps.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::DumpKind;

std::string_view HeadOf(const std::string& file) {
  return std::string_view(file).substr(0, kRomHeadBytes);
}

// The swapped CRC as the scan makes it: fed in uneven pieces, words split between them.
std::optional<uint32_t> SwappedCrcOf(const std::string& file) {
  auto layout = SwappedLayoutOf(file);
  if (!layout) return std::nullopt;
  SwappedCrc crc(*layout);
  const auto* p = reinterpret_cast<const uint8_t*>(file.data());
  size_t at = 0;
  for (size_t piece = 1; at < file.size(); piece = piece * 3 + 1) {
    const size_t n = std::min(piece, file.size() - at);
    crc.Update(p + at, n);
    at += n;
  }
  return crc.Finish();
}

TEST(RomHeaderTest, EveryKindOfDumpGivesTheSizeAndCrcOfItsCartridgeData) {
  for (const DumpKind& kind : test::EveryDumpKind()) {
    const std::string data = test::CartridgeData(kind, 0x1234ABCD);
    ASSERT_EQ(Crc32(data), 0x1234ABCDu);
    const std::string file = test::DumpOf(kind, data);
    const auto candidates =
        HeaderlessCandidates(HeadOf(file), file.size(), Crc32(file), SwappedCrcOf(file));
    ASSERT_EQ(candidates.size(), 1u) << kind.name;
    EXPECT_EQ(candidates[0], (HeaderlessCrc{0x1234ABCD, data.size()})) << kind.name;
    EXPECT_EQ(RomHeaderLength(HeadOf(file), file.size()), kind.header.size()) << kind.name;
    EXPECT_EQ(SwappedLayoutOf(file).has_value(), kind.swap != 0) << kind.name;
    // A reader that has only the first bytes (a zip member) gets the same for a header.
    if (kind.swap == 0) {
      EXPECT_EQ(HeaderlessCandidates(std::string_view(file).substr(0, kind.header.size()),
                                     file.size(), Crc32(file)),
                candidates)
          << kind.name;
    }
    // The cartridge data itself fits no rule.
    EXPECT_TRUE(
        HeaderlessCandidates(HeadOf(data), data.size(), Crc32(data), SwappedCrcOf(data)).empty())
        << kind.name;
  }
}

TEST(RomHeaderTest, BadInputFitsNoRuleOrOnlyGuesses) {
  std::mt19937 rng(5);
  auto random = [&rng](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() | 1);  // no zero byte
    return s;
  };
  const std::string nes = test::Padded("NES\x1A", 16);
  std::string trainer = nes;
  trainer[6] = 0x04;
  struct Case {
    std::string what;
    std::string file;
    size_t candidates;
  } cases[] = {
      {"empty", "", 0},
      {"nothing but a header", nes, 0},
      {"a trainer flag on a file shorter than its trainer", trainer + random(100), 0},
      {"a magic cut short", "NES", 0},
      {"a text beginning LYNX, shorter than the header", "LYNX is a cat\n", 0},
      // Longer than the header: a guess, which no list entry will have.
      {"a text beginning LYNX", "LYNX is a cat\n" + std::string(200, '.'), 1},
      {"the Lynx magic one byte off", " LYNX" + random(200), 0},
      {"SNES size by chance, bytes after the third not zero", random(1024 + 512), 0},
      {"SNES size, a header of zeros", std::string(512, '\0') + random(1024), 1},
      {"SNES size, a wrong copier mark",
       test::Padded(std::string("\0\0\0\0\0\0\0\0\xAA\xBB\x05", 11), 512) + random(1024), 0},
      {"PC Engine size by chance: a guess", random(8192 + 512), 1},
      {"PC Engine size, one byte more", random(8192 + 513), 0},
      {"a v64 mark, not a whole number of words", "\x37\x80\x40\x12" + random(3), 0},
      {"an n64 mark, not a whole number of words", "\x40\x12\x37\x80" + random(6), 0},
      {"a v64 mark on a file of four bytes", "\x37\x80\x40\x12", 1},
  };
  for (const Case& c : cases) {
    const auto found =
        HeaderlessCandidates(HeadOf(c.file), c.file.size(), Crc32(c.file), SwappedCrcOf(c.file));
    EXPECT_EQ(found.size(), c.candidates) << c.what;
    HeaderlessCrcs table;
    table.Note(HeadOf(c.file), c.file.size(), Crc32(c.file), SwappedCrcOf(c.file));
    EXPECT_EQ(table.Find(Crc32(c.file), c.file.size()).size(), c.candidates) << c.what;
  }
  // A byte-order mark without the swapped CRC gives nothing to look for.
  const std::string v64 = "\x37\x80\x40\x12" + random(12);
  EXPECT_TRUE(HeaderlessCandidates(HeadOf(v64), v64.size(), Crc32(v64)).empty());
}

TEST(RomHeaderTest, TwoRulesGiveTwoCandidates) {
  // A Lynx header on a file whose size also fits the PC Engine rule.
  const std::string file = test::Padded("LYNX", 64) + std::string(8192 + 512 - 64, 'z');
  const auto found = HeaderlessCandidates(HeadOf(file), file.size(), Crc32(file));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], (HeaderlessCrc{Crc32(file.substr(64)), file.size() - 64}));
  EXPECT_EQ(found[1], (HeaderlessCrc{Crc32(file.substr(512)), 8192}));
}

TEST(RomHeaderTest, SwappedCrcOfAnyPiecesIsTheCrcOfTheSwappedBytes) {
  std::mt19937 rng(9);
  for (size_t size : {0, 4, 8, 12, 100, 4096, 70000, 200004}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    for (DumpLayout layout : {DumpLayout::kSwap16, DumpLayout::kSwap32}) {
      const size_t unit = layout == DumpLayout::kSwap16 ? 2 : 4;
      SwappedCrc crc(layout);
      const auto* p = reinterpret_cast<const uint8_t*>(data.data());
      for (size_t at = 0; at < size;) {
        const size_t n = std::min<size_t>(1 + rng() % 9000, size - at);
        crc.Update(p + at, n);
        at += n;
      }
      EXPECT_EQ(crc.Finish(), Crc32(test::Swapped(data, unit))) << size << "/" << unit;
      crc.Update(p, 1);  // one byte more is no whole word
      EXPECT_FALSE(crc.Finish().has_value()) << size << "/" << unit;
    }
  }
}

// The swapped CRC comes from the scan's own read, only for files with a byte-order mark.
TEST(RomHeaderTest, TheHasherGivesTheSwappedCrcOnlyForMarkedFiles) {
  test::TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::optional<uint32_t>> expected;
  for (const DumpKind& kind : test::EveryDumpKind()) {
    // Larger than one read of the hasher, so that the swap runs across reads.
    const std::string data = test::CartridgeData(kind, 0xC0FFEE00, 'q', 600000);
    const std::string file = test::DumpOf(kind, data);
    paths.push_back(dir / (kind.name + kind.extension));
    test::WriteFile(paths.back(), file);
    expected.push_back(kind.swap != 0 ? std::optional<uint32_t>(0xC0FFEE00) : std::nullopt);
  }
  paths.push_back(dir / "short.v64");
  test::WriteFile(paths.back(), "\x37\x80");
  expected.push_back(std::nullopt);
  ParallelHasher hasher(paths, 2, kRomHeadBytes);
  for (size_t i = 0; i < paths.size(); ++i) {
    ParallelHasher::FileHash h = hasher.Next();
    ASSERT_TRUE(h.status.ok()) << paths[i];
    EXPECT_EQ(h.swapped_crc, expected[i]) << paths[i];
  }
  // Without the head kept, nothing is swapped.
  ParallelHasher plain(paths, 1, 0);
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_FALSE(plain.Next().swapped_crc.has_value());
}

TEST(RomHeaderTest, EveryRuleSaysWhatItRecognises) {
  size_t byte_orders = 0;
  for (const RomHeaderRule& rule : RomHeaderRules()) {
    EXPECT_FALSE(rule.dump.empty());
    EXPECT_TRUE(rule.extensions.starts_with(".")) << rule.dump;
    // Recognised by content: a magic, or a size rule.
    EXPECT_TRUE(!rule.magic.empty() || rule.size_modulus != 0) << rule.dump;
    if (rule.layout != DumpLayout::kHeader) ++byte_orders;
  }
  EXPECT_EQ(byte_orders, 2u);
}

}  // namespace
}  // namespace quorvin
