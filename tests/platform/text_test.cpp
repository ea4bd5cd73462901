#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/path.h"

namespace quorvin {
namespace {

TEST(TextTest, TrimRemovesBlanksOnlyAndUpperFoldsAsciiOnly) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(ToUpperAscii("abc\xe9z"), "ABC\xe9Z");
  EXPECT_TRUE(EqualsIgnoreCase("Nes", "nES"));
  EXPECT_FALSE(EqualsIgnoreCase("\xe9", "\xc9"));
}

// Listings sort with this comparison eight bytes at a time; every pair of names must order
// as comparing them letter by letter (ASCII letters folded to capitals, then length, then
// bytes) does. The letters next to the small and capital ranges, bytes with the high bit set
// and names crossing eight-byte steps are where a wrong fold or a wrong byte would show.
TEST(TextTest, IgnoringCaseOrdersAsLetterByLetterComparison) {
  auto reference = [](std::string_view a, std::string_view b) {
    const std::string x = ToUpperAscii(a), y = ToUpperAscii(b);
    const size_t n = std::min(x.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
      if (x[i] != y[i]) return static_cast<unsigned char>(x[i]) < static_cast<unsigned char>(y[i]);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
  };
  const std::string letters = "@AZ[`az{_09 .\x7f\x80\xc1\xe1\xfa\xff";
  std::vector<std::string> names = {"", "rom00000.bin", "ROM00000.BIN", "rom00000.bin2",
                                    "Super Mario (World).nes", "super mario (world).NES"};
  uint32_t seed = 12345;
  for (int i = 0; i < 400; ++i) {
    std::string name = i % 2 == 0 ? "Super Mario " : "";
    const size_t length = (seed >> 8) % 21;
    for (size_t k = 0; k < length; ++k) {
      seed = seed * 1103515245u + 12345u;
      name.push_back(letters[(seed >> 16) % letters.size()]);
    }
    names.push_back(name);
  }
  for (const std::string& a : names) {
    for (const std::string& b : names) {
      ASSERT_EQ(LessIgnoreCase(a, b), reference(a, b)) << "\"" << a << "\" against \"" << b << "\"";
    }
  }
  std::vector<std::string> sorted = names;
  SortIgnoreCase(sorted);
  std::stable_sort(names.begin(), names.end(), reference);
  EXPECT_EQ(sorted, names);
}

TEST(TextTest, SplitKeepsEmptyPieces) {
  EXPECT_EQ(Split("a;;b;", ';'), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(Split("", ';'), (std::vector<std::string>{""}));
}

TEST(TextTest, ReplaceAllScansLeftWithoutOverlap) {
  EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(ReplaceAll("x-save y -save", "-save", ""), "x y ");
  EXPECT_EQ(ReplaceAll("abc", "", "z"), "abc");
}

TEST(PathTest, TrailingSeparatorNamesTheSameFolder) {
  const std::string sep(1, kPathSep);
  EXPECT_EQ(JoinPath("/roms", "a.nes"), "/roms" + sep + "a.nes");
  EXPECT_EQ(JoinPath("/roms/", "a.nes"), "/roms/a.nes");
  EXPECT_EQ(WithTrailingSep("/roms"), "/roms" + sep);
  EXPECT_EQ(WithoutTrailingSep("/roms//"), "/roms");
  EXPECT_EQ(FileNameOf("/a/b/c.crc"), "c.crc");
  EXPECT_EQ(FolderOf("/a/b/c.crc"), "/a/b");
  EXPECT_EQ(FolderOf("c.crc"), ".");
  EXPECT_EQ(FolderOf("/c"), "/");
}

TEST(PathTest, PlainFileNamesStayInTheirFolder) {
  for (const char* bad : {"", ".", "..", "a/b", "/x"}) EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
  EXPECT_TRUE(IsPlainFileName("Super Game (E) [!]"));
}

TEST(TextTest, SizesReadInBinaryUnitsRoundedDown) {
  const std::vector<std::pair<uint64_t, const char*>> sizes = {
      {0, "0 bytes"},          {1023, "1023 bytes"},          {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},       {(8ull << 30) - 1, "7.9 GiB"}, {8ull << 30, "8.0 GiB"},
      {5ull << 40, "5.0 TiB"}, {5000ull << 40, "5000.0 TiB"}};
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(SizeText(bytes), text) << bytes;
  EXPECT_EQ(ByteProgressText(512ull << 20, 8ull << 30), "0.5 of 8.0 GiB");
  EXPECT_EQ(ByteProgressText(8ull << 30, 8ull << 30), "8.0 of 8.0 GiB");
  EXPECT_EQ(ByteProgressText(10, 100), "10 of 100 bytes");
  EXPECT_EQ(ByteProgressText(3ull << 20, 0), "3.0 MiB");
}

}  // namespace
}  // namespace quorvin
