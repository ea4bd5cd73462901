#include "platform/folder.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

TEST(WildcardTest, MatchesLikeTheFileSearch) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.nes", "Alpha.nes", true}, {"*.nes", "ALPHA.NES", true},  {"*.nes", "a.nesx", false},
      {"*.nes", "nes", false},      {"*.*", "README", true},       {"*.*", "a.b.c", true},
      {"*.crc", "nes.crc", true},   {"*.gb", "Tetris.gbc", false}, {"a?c", "abc", true},
      {"*nes", "xnes", true},       {"*", "anything", true},       {"*.pre", "a.txt", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(ListFolderTest, ListsOrdinaryVisibleFilesInCaseInsensitiveOrder) {
  test::TempDir dir;
  for (const char* n : {"b.nes", "A.nes", "c.NES", ".hidden.nes", "d.txt"})
    test::WriteFile(dir / n, "x");
  test::MakeHidden(dir / ".hidden.nes");
  test::MakeDir(dir / "folder.nes");
  auto names = ListFolder(dir.path(), "*.nes");
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, (std::vector<std::string>{"A.nes", "b.nes", "c.NES"}));
  auto all = ListFolder(dir.path() + "/", "*.*");
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(all->size(), 4u);
}

TEST(ListFolderTest, MissingFolderIsNamed) {
  test::TempDir dir;
  auto names = ListFolder(dir / "nope", "*");
  EXPECT_EQ(names.status().kind(), ErrorKind::kNotFound);
  EXPECT_EQ(names.status().message(), "The folder " + dir / "nope" + " does not exist");
}

}  // namespace
}  // namespace quorvin
