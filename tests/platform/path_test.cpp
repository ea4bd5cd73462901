#include "platform/path.h"

#include <gtest/gtest.h>

namespace quorvin {
namespace {

struct PathCase {
  const char* path;
  const char* folder;     // FolderOf
  const char* name;       // FileNameOf
  const char* stripped;   // WithoutTrailingSep
};

void CheckPaths(const std::vector<PathCase>& cases) {
  for (const PathCase& c : cases) {
    EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
    EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
    EXPECT_EQ(WithoutTrailingSep(c.path), c.stripped) << c.path;
  }
}

TEST(PathTest, FoldersNamesAndRootsOnThisPlatform) {
  CheckPaths({
      {"a/b.nes", "a", "b.nes", "a/b.nes"},
      {"/x", "/", "x", "/x"},
      {"/", "/", "", "/"},
      {"roms///", "roms", "", "roms"},
      {"plain", ".", "plain", "plain"},
  });
#ifndef _WIN32
  CheckPaths({{"//", "/", "", "/"}});
#else
  // Drive letters and shares: a root keeps its separator, for "C:" alone would mean the
  // current folder of drive C.
  CheckPaths({
      {"C:\\roms\\a.nes", "C:\\roms", "a.nes", "C:\\roms\\a.nes"},
      {"C:\\a.nes", "C:\\", "a.nes", "C:\\a.nes"},
      {"C:\\", "C:\\", "", "C:\\"},
      {"c:/roms/", "c:/roms", "", "c:/roms"},
      {"C:a.nes", "C:", "a.nes", "C:a.nes"},
      {"\\\\server\\share\\roms\\a.nes", "\\\\server\\share\\roms", "a.nes",
       "\\\\server\\share\\roms\\a.nes"},
      {"\\\\server\\share\\a.nes", "\\\\server\\share\\", "a.nes", "\\\\server\\share\\a.nes"},
      {"\\\\server\\share\\", "\\\\server\\share\\", "", "\\\\server\\share\\"},
      {"C:\\roms/mixed\\b.nes", "C:\\roms/mixed", "b.nes", "C:\\roms/mixed\\b.nes"},
  });
#endif
}

TEST(PathTest, JoinAddsOneSeparator) {
  const std::string sep(1, kPathSep);
  EXPECT_EQ(JoinPath("a", "b"), "a" + sep + "b");
  EXPECT_EQ(JoinPath("a/", "b"), "a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(WithTrailingSep("a"), "a" + sep);
  EXPECT_EQ(WithTrailingSep(""), "");
#ifdef _WIN32
  EXPECT_EQ(JoinPath("C:\\roms\\", "a.nes"), "C:\\roms\\a.nes");
  EXPECT_EQ(JoinPath("C:", "a.nes"), "C:\\a.nes");
  EXPECT_EQ(WithTrailingSep("D:\\dk"), "D:\\dk\\");
#endif
}

TEST(PathTest, PlainFileNames) {
  struct Case {
    const char* name;
    bool plain;
  } cases[] = {
      {"Game (U) [!].nes", true}, {"", false},          {".", false},  {"..", false},
      {"a/b", false},             {"..nes", true},      {"a b", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.name;
  EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
#ifdef _WIN32
  // Names Windows would not keep as written, or would take for a device or a stream.
  for (const char* name : {"a\\b", "a:b", "what?", "star*", "pipe|", "q\"uote", "<x>", "dot.",
                           "blank ", "CON", "nul.txt", "com1.nes", "LPT9", "Aux .cfg"}) {
    EXPECT_FALSE(IsPlainFileName(name)) << name;
  }
  for (const char* name : {"CONSOLE.nes", "com10.nes", "lpt.nes", "Nul Ball.nes"}) {
    EXPECT_TRUE(IsPlainFileName(name)) << name;
  }
#endif
}

}  // namespace
}  // namespace quorvin
