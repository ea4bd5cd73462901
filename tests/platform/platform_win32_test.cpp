// What the Windows half of the platform layer does that the Linux half has no need of:
// attributes, names outside the ANSI code page, long paths, letter case, device names.
#include <gtest/gtest.h>

#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/wide_win32.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

DWORD AttributesOf(const std::string& path) { return GetFileAttributesW(WidePath(path).c_str()); }

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesW(WidePath(path).c_str(), attributes)) << path;
}

TEST(Win32FileTest, ReplacedFileKeepsItsAttributesAndNewFilesAreNotHidden) {
  TempDir dir;
  WriteFile(dir / "dirs.ini", "old");
  SetAttributes(dir / "dirs.ini", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(WriteFileAtomic(dir / "dirs.ini", "new").ok());
  EXPECT_EQ(ReadFile(dir / "dirs.ini"), "new");
  EXPECT_TRUE(AttributesOf(dir / "dirs.ini") & FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(WriteFileAtomic(dir / "fresh.dat", "x").ok());
  EXPECT_FALSE(AttributesOf(dir / "fresh.dat") & FILE_ATTRIBUTE_HIDDEN);
}

TEST(Win32FileTest, TemporaryFileIsHiddenFromListingsWhileWritten) {
  TempDir dir;
  auto f = AtomicFile::Create(dir / "out.dat");
  ASSERT_TRUE(f.ok());
  ASSERT_TRUE(f->WriteLine("x").ok());
  auto names = ListFolder(dir.path(), "*.*");
  ASSERT_TRUE(names.ok());
  EXPECT_TRUE(names->empty());
  ASSERT_EQ(test::FolderEntries(dir.path()).size(), 1u);  // it is there, only hidden
  ASSERT_TRUE(f->Commit().ok());
  names = ListFolder(dir.path(), "*.*");
  EXPECT_EQ(*names, std::vector<std::string>{"out.dat"});
}

TEST(Win32FileTest, ReadOnlyAttributeRefusesReplacement) {
  TempDir dir;
  WriteFile(dir / "ro.cnv", "keep");
  SetAttributes(dir / "ro.cnv", FILE_ATTRIBUTE_READONLY);
  Status s = WriteFileAtomic(dir / "ro.cnv", "new");
  EXPECT_EQ(s.message(), "The file " + dir / "ro.cnv" + " is read-only");
  EXPECT_EQ(ReadFile(dir / "ro.cnv"), "keep");
  SetAttributes(dir / "ro.cnv", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32FolderTest, HiddenAndSystemFilesAreLeftOutWhateverTheirNames) {
  TempDir dir;
  for (const char* n : {"a.nes", "hidden.nes", "system.nes", ".dot.nes"}) WriteFile(dir / n, "x");
  SetAttributes(dir / "hidden.nes", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(dir / "system.nes", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(dir / ".dot.nes", FILE_ATTRIBUTE_NORMAL);
  SetAttributes(dir / "a.nes", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  auto names = ListFolder(dir.path(), "*.nes");
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, (std::vector<std::string>{".dot.nes", "a.nes"}));
  auto all = ListEntries(dir.path());
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(all->size(), 4u);
  SetAttributes(dir / "a.nes", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32FolderTest, OwnMatcherNotTheShortNames) {
  TempDir dir;
  // Windows' own search would match "*.nes" against the short name GAMELO~1.NES.
  WriteFile(dir / "Game Long Name.nesx", "x");
  WriteFile(dir / "b.NES", "x");
  auto names = ListFolder(dir.path(), "*.nes");
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, std::vector<std::string>{"b.NES"});
}

TEST(Win32FolderTest, NameFoundWithoutRegardToCaseComesBackAsOnDisk) {
  TempDir dir;
  WriteFile(dir / "Template.CFG", "t");
  EXPECT_EQ(ResolveNameIgnoreCase(dir.path(), "template.cfg"), dir / "Template.CFG");
  EXPECT_EQ(ResolveNameIgnoreCase(dir.path(), "none.cfg"), dir / "none.cfg");
}

TEST(Win32FileTest, ChangeOfLetterCaseRenamesInPlace) {
  TempDir dir;
  WriteFile(dir / "island.nes", "bytes");
  WriteFile(dir / "other.nes", "o");
  ASSERT_TRUE(RenameNoReplace(dir / "island.nes", dir / "ISLAND.nes").ok());
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"ISLAND.nes", "other.nes"}));
  EXPECT_EQ(ReadFile(dir / "ISLAND.nes"), "bytes");
  // Another file of that name in another case is still refused.
  EXPECT_EQ(RenameNoReplace(dir / "ISLAND.nes", dir / "OTHER.NES").kind(), ErrorKind::kRefused);
  EXPECT_EQ(ReadFile(dir / "other.nes"), "o");
}

TEST(Win32FileTest, NamesOutsideTheAnsiCodePage) {
  TempDir dir;
  // Greek, Japanese, a snowman and a character outside the basic plane, all as UTF-8.
  const std::string folder = dir / "\xCE\xA9mega \xE6\x97\xA5\xE6\x9C\xAC";
  const std::string name = "Sn\xE2\x98\x83w \xF0\x9F\x8E\xAE.nes";
  ASSERT_TRUE(MakeFolder(folder).ok());
  ASSERT_TRUE(WriteFileAtomic(JoinPath(folder, name), "rom").ok());
  auto names = ListFolder(folder, "*.nes");
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, std::vector<std::string>{name});
  EXPECT_EQ(*ReadWholeFile(JoinPath(folder, name)), "rom");
  EXPECT_EQ(*FileLength(JoinPath(folder, name)), 3u);
  const std::string renamed = "\xC3\x9C" "ber.nes";
  ASSERT_TRUE(RenameNoReplace(JoinPath(folder, name), JoinPath(folder, renamed)).ok());
  EXPECT_TRUE(IsFile(JoinPath(folder, renamed)));
  auto lines = LineReader::Open(JoinPath(folder, renamed));
  ASSERT_TRUE(lines.ok());
  std::string line;
  ASSERT_TRUE(lines->Next(line));
  EXPECT_EQ(line, "rom");
}

TEST(Win32FileTest, PathsPastTheOldLengthLimit) {
  TempDir dir;
  std::string folder = dir.path();
  const std::string part(60, 'd');
  for (int i = 0; i < 5; ++i) {
    folder = JoinPath(folder, part);
    ASSERT_TRUE(MakeFolder(folder).ok()) << folder.size();
  }
  ASSERT_GT(folder.size(), 300u);
  const std::string file = JoinPath(folder, "deep.nes");
  ASSERT_TRUE(WriteFileAtomic(file, "deep").ok());
  EXPECT_TRUE(IsFile(file));
  EXPECT_EQ(*ReadWholeFile(file), "deep");
  auto names = ListFolder(folder, "*.nes");
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, std::vector<std::string>{"deep.nes"});
  ASSERT_TRUE(RenameNoReplace(file, JoinPath(folder, "deeper.nes")).ok());
  EXPECT_TRUE(IsFile(JoinPath(folder, "deeper.nes")));
}

TEST(Win32ProcessTest, ProgramFolderAndUserDataFolder) {
  TempDir dir;
  EXPECT_TRUE(IsWritableFolder(dir.path()));
  EXPECT_FALSE(IsWritableFolder(dir / "missing"));
  EXPECT_TRUE(test::FolderEntries(dir.path()).empty());  // the probe file is gone
  const std::string old = EnvironmentValue("LOCALAPPDATA");
  test::SetEnvironment("LOCALAPPDATA", "D:\\Users\\Me\\AppData\\Local");
  EXPECT_EQ(UserDataFolder(), "D:\\Users\\Me\\AppData\\Local\\Quorvin");
  test::SetEnvironment("LOCALAPPDATA", old);
  EXPECT_FALSE(ExecutableFolder().empty());
  EXPECT_TRUE(IsFolder(ExecutableFolder()));
}

// The command line is read as wide characters: a folder named outside the ANSI code page
// reaches the program whole.
TEST(Win32ProcessTest, HeadlessProgramTakesNamesOutsideTheAnsiCodePage) {
  TempDir dir;
  const std::string roms = dir / "roms \xCE\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
  ASSERT_TRUE(MakeFolder(roms).ok());
  ASSERT_TRUE(WriteFileAtomic(JoinPath(roms, "Caf\xC3\xA9.nes"), "abc").ok());
  const std::string out = dir / "out \xE2\x98\x83.dat";
  const std::string list = "|" + roms + "|nes|nes|||0||" + out + "||0|0|0|0|0";
  std::string output;
  EXPECT_EQ(test::RunCommand(test::WithEnvironment("QUORVIN_HOME", dir / "home") +
                                 test::ShellQuote(QUORVIN_CLI) + " " + test::ShellQuote(list),
                             &output),
            0)
      << output;
  auto dat = ReadWholeFile(out);
  ASSERT_TRUE(dat.ok()) << output;
  EXPECT_NE(dat->find("\tname Caf\xC3\xA9\r\n"), std::string::npos) << *dat;
  EXPECT_NE(dat->find("crc 352441C2 )"), std::string::npos) << *dat;
}

}  // namespace
}  // namespace quorvin
