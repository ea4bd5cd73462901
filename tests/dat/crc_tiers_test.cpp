#include "dat/crc_tiers.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "dat/crc.h"

namespace quorvin {
namespace {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

uint32_t Zlib(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

// Each test runs for every tier; a tier this processor lacks is reported as skipped.
class CrcTierTest : public ::testing::TestWithParam<CrcTier> {
 protected:
  void SetUp() override {
    if (!CrcTierSupported(GetParam())) {
      GTEST_SKIP() << "this processor has no " << CrcTierName(GetParam()) << " tier";
    }
    update_ = CrcTierFunction(GetParam());
    ASSERT_NE(update_, nullptr);
  }
  Crc32UpdateFn update_ = nullptr;
};

TEST_P(CrcTierTest, EveryLengthUpTo4096AtEveryStartOffset) {
  const std::vector<uint8_t> buf = RandomBytes(4096 + 64, 1);
  // The reference for every prefix comes from one byte-at-a-time pass per offset.
  // The table loop works in 16-byte blocks, so lengths to 512 cover every way its blocks and
  // tail can fall (and keep the test quick under the sanitizers); the folding tiers get all.
  const size_t max_length = GetParam() == CrcTier::kPortable ? 512 : 4096;
  std::vector<uint32_t> expected(4097);
  for (size_t offset = 0; offset < 64; ++offset) {
    const uint8_t* p = buf.data() + offset;
    const uint32_t start = 0xFFFFFFFFu ^ static_cast<uint32_t>(offset * 0x9E3779B9u);
    expected[0] = start;
    for (size_t n = 0; n < max_length; ++n)
      expected[n + 1] = Crc32UpdateBytewise(expected[n], p + n, 1);
    for (size_t n = 0; n <= max_length; ++n) {
      ASSERT_EQ(update_(start, p, n), expected[n]) << "offset " << offset << " length " << n;
    }
  }
}

TEST_P(CrcTierTest, RandomLengthsUpToFourMebibytesAgreeWithPortableAndZlib) {
  const std::vector<uint8_t> buf = RandomBytes((4u << 20) + 64, 2);
  std::mt19937 rng(3);
  std::vector<size_t> lengths = {4u << 20, (1u << 20) + 1, 65536, 255, 256, 257, 1023, 1024};
  for (int i = 0; i < 16; ++i) lengths.push_back(rng() % (4u << 20));
  for (size_t n : lengths) {
    const size_t offset = rng() % 64;
    const uint8_t* p = buf.data() + offset;
    const uint32_t want = Crc32UpdatePortable(0xFFFFFFFFu, p, n);
    ASSERT_EQ(update_(0xFFFFFFFFu, p, n), want) << n;
    ASSERT_EQ(~want, Zlib(p, n)) << n;
  }
}

TEST_P(CrcTierTest, PiecesChainThroughTheRegister) {
  const std::vector<uint8_t> buf = RandomBytes(1u << 20, 4);
  const uint32_t whole = ~Crc32UpdatePortable(0xFFFFFFFFu, buf.data(), buf.size());
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    uint32_t reg = 0xFFFFFFFFu;
    size_t at = 0;
    while (at < buf.size()) {
      // Pieces from empty to several blocks of every tier, cut anywhere.
      size_t piece = std::min<size_t>(buf.size() - at, rng() % (round < 10 ? 600 : 70000));
      reg = update_(reg, buf.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(~reg, whole) << "round " << round;
  }
}

TEST_P(CrcTierTest, KnownAnswersAndAllOnesAndZeros) {
  const std::string check = "123456789";
  EXPECT_EQ(~update_(~0u, reinterpret_cast<const uint8_t*>(check.data()), check.size()),
            0xCBF43926u);
  for (uint8_t fill : {0x00, 0xFF}) {
    std::vector<uint8_t> buf(100000, fill);
    EXPECT_EQ(~update_(~0u, buf.data(), buf.size()), Zlib(buf.data(), buf.size()));
    EXPECT_EQ(update_(0, buf.data(), buf.size()), Crc32UpdatePortable(0, buf.data(), buf.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(AllTiers, CrcTierTest, ::testing::ValuesIn(kAllCrcTiers),
                         [](const auto& info) { return std::string(CrcTierName(info.param)); });

bool OnlyPortable(CrcTier t) { return t == CrcTier::kPortable; }
bool Everything(CrcTier) { return true; }

TEST(CrcTierChoiceTest, SettingPicksOrRefusesATier) {
  EXPECT_EQ(*ChooseCrcTier(nullptr, Everything), CrcTier::kVpclmul);
  EXPECT_EQ(*ChooseCrcTier("", OnlyPortable), CrcTier::kPortable);
  EXPECT_EQ(*ChooseCrcTier("pclmul", Everything), CrcTier::kPclmul);
  EXPECT_EQ(*ChooseCrcTier("portable", Everything), CrcTier::kPortable);

  auto lacking = ChooseCrcTier("vpclmul", OnlyPortable);
  ASSERT_FALSE(lacking.ok());
  EXPECT_EQ(lacking.status().kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(lacking.status().message(),
            "QUORVIN_CRC=vpclmul asks for a CRC-32 method this processor does not support; "
            "unset QUORVIN_CRC or choose one of: portable");
  auto unknown = ChooseCrcTier("fast", Everything);
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.status().message(),
            "QUORVIN_CRC must be portable, pclmul or vpclmul, not \"fast\"");
  EXPECT_FALSE(ChooseCrcTier("PCLMUL", Everything).ok());
}

TEST(CrcTierChoiceTest, TheActiveTierIsSupportedAndUsedByCrc32Update) {
  EXPECT_TRUE(CrcTierSupported(ActiveCrcTier()));
  EXPECT_TRUE(CrcTierSupported(CrcTier::kPortable));
  const std::vector<uint8_t> buf = RandomBytes(300000, 6);
  EXPECT_EQ(Crc32Update(~0u, buf.data(), buf.size()),
            Crc32UpdatePortable(~0u, buf.data(), buf.size()));
}

}  // namespace
}  // namespace quorvin
