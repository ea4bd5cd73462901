#include "dat/crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "test_util.h"

namespace quorvin {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(CrcTest, KnownAnswers) {
  clsCRC c;
  EXPECT_EQ(c.Algorithm(), -1);
  EXPECT_EQ(c.Value(), 0);
  EXPECT_EQ(c.CalculateString("123456789"), -873187034);  // 0xCBF43926
  EXPECT_EQ(static_cast<uint32_t>(c.CalculateString("abc")), 0x352441C2u);
  c.SetAlgorithm(0);
  EXPECT_EQ(c.Algorithm(), 0);
  EXPECT_EQ(c.CalculateString("123456789"), 0x31C3);
  const uint32_t* t = Crc32Table();
  EXPECT_EQ(t[0], 0u);
  EXPECT_EQ(t[1], 0x77073096u);
  EXPECT_EQ(t[128], 0xEDB88320u);
  EXPECT_EQ(t[255], 0x2D02EF8Du);
}

TEST(CrcTest, PiecesAccumulateUnderBothAlgorithms) {
  for (int alg : {0, 1}) {
    clsCRC c;
    c.SetAlgorithm(alg);
    int32_t whole = c.CalculateString("123456789");
    c.Clear();
    c.AddString("12345");
    EXPECT_EQ(c.AddString("6789"), whole);
    EXPECT_EQ(c.AddBytes({}), whole);
    c.SetAlgorithm(alg);  // setting it again discards the running value
    EXPECT_EQ(c.Value(), 0);
  }
}

TEST(CrcTest, AlgorithmAndValueProperties) {
  clsCRC c;
  c.SetAlgorithm(7);
  EXPECT_EQ(c.Algorithm(), -1);
  c.SetValue(0);
  EXPECT_EQ(c.Value(), -1);
  c.SetAlgorithm(0);
  EXPECT_EQ(c.Value(), 0);
  c.SetValue(0x12345);
  EXPECT_EQ(c.Value(), 0x2345);
}

TEST(CrcTest, FastLoopEqualsZlibOverRandomBuffersOfManySizes) {
  std::mt19937 rng(42);
  for (size_t size : {0, 1, 3, 15, 16, 17, 31, 255, 4096, 65537, 1000003}) {
    std::string buf(size, '\0');
    for (char& ch : buf) ch = static_cast<char>(rng());
    uint32_t expected = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(buf.size())));
    EXPECT_EQ(Crc32(buf), expected) << size;
    EXPECT_EQ(~Crc32UpdateBytewise(~0u, Bytes(buf).data(), size), expected) << size;
  }
}

TEST(CrcTest, FilesAreReadInChunksWithTheSameValues) {
  test::TempDir dir;
  std::mt19937 rng(7);
  // Sizes around the chunk size make the chunk joins count.
  for (size_t size : {1, 100, 262143, 262144, 262145, 3 * 262144 + 5}) {
    std::string buf(size, '\0');
    for (char& ch : buf) ch = static_cast<char>(rng());
    test::WriteFile(dir / "f", buf);
    uint32_t expected = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(buf.size())));
    clsCRC c;
    auto v = c.CalculateFile(dir / "f");
    ASSERT_TRUE(v.ok());
    ASSERT_TRUE(v->has_value());
    EXPECT_EQ(static_cast<uint32_t>(**v), expected) << size;
    c.SetAlgorithm(0);
    auto v16 = c.CalculateFile(dir / "f");
    clsCRC ref;
    ref.SetAlgorithm(0);
    EXPECT_EQ(**v16, ref.CalculateString(buf)) << size;
  }
}

TEST(CrcTest, EmptyAndMissingFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "empty", "");
  test::WriteFile(dir / "a", "a");
  clsCRC c;
  c.AddString("abc");
  int32_t before = c.Value();
  auto empty = c.CalculateFile(dir / "empty");
  ASSERT_TRUE(empty.ok());
  EXPECT_FALSE(empty->has_value());
  EXPECT_EQ(c.Value(), before);  // registers untouched
  auto missing = c.CalculateFile(dir / "missing");
  EXPECT_EQ(missing.status().kind(), ErrorKind::kNotFound);
  EXPECT_NE(missing.status().message().find(dir / "missing"), std::string::npos);
  EXPECT_EQ(c.Value(), before);
  EXPECT_EQ(static_cast<uint32_t>(**c.CalculateFile(dir / "a")), 0xE8B7BE43u);
}

}  // namespace
}  // namespace quorvin
