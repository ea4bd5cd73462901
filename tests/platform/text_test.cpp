#include "platform/text.h"

#include <gtest/gtest.h>

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
