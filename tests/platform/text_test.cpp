#include "platform/text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorvin
