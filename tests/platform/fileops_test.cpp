#include "platform/fileops.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/path.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(AtomicFileTest, CommitReplacesAndDiscardKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "out.dat";
  WriteFile(path, "old");
  {
    auto f = AtomicFile::Create(path);
    ASSERT_TRUE(f.ok());
    ASSERT_TRUE(f->WriteLine("new").ok());
    EXPECT_EQ(ReadFile(path), "old");  // nothing shows before the commit
  }
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"out.dat"});
  {
    auto f = AtomicFile::Create(path);
    ASSERT_TRUE(f.ok());
    ASSERT_TRUE(f->Write(std::string(200000, 'x')).ok());  // past the buffer
    ASSERT_TRUE(f->WriteLine("end").ok());
    ASSERT_TRUE(f->Commit().ok());
  }
  EXPECT_EQ(ReadFile(path), std::string(200000, 'x') + "end\r\n");
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"out.dat"});
}

// A killed run leaves its temporary file; the next successful write of the same file removes
// it, and nothing else: other files' temporaries, look-alike names, one written to in the last
// minute, and the file of another writer of the same file (another run at the same moment).
// Asked to keep a target that already holds what is written, the commit leaves that very
// file (no rename, no new temporary left); any difference, even of one byte or in length,
// replaces it as a plain commit does.
TEST(AtomicFileTest, KeepIfSameLeavesOnlyAnIdenticalTarget) {
  const std::string big(200 * 1024, 'x');  // more than one buffer of writes
  struct Case {
    const char* what;
    std::string old_bytes, new_bytes;
    bool kept;
  } cases[] = {
      {"identical", "abc\r\ndef", "abc\r\ndef", true},
      {"identical, several buffers", big, big, true},
      {"one byte differs", "abc\r\ndef", "abc\r\ndeF", false},
      {"longer", "abc", "abcd", false},
      {"shorter", "abcd", "abc", false},
      {"differs after the first buffer", big, big.substr(0, 100000) + "y" + big.substr(100001),
       false},
      {"empty, and stays empty", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "tempdat.dat";
    WriteFile(path, c.old_bytes);
    auto before = RegularFileIdentity(path);
    ASSERT_TRUE(before.ok());
    auto f = AtomicFile::Create(path);
    ASSERT_TRUE(f.ok());
    f->KeepIfSame();
    // Written in pieces, as the scan writes a dat.
    for (size_t at = 0; at < c.new_bytes.size(); at += 7000) {
      ASSERT_TRUE(f->Write(std::string_view(c.new_bytes).substr(at, 7000)).ok());
    }
    ASSERT_TRUE(f->Commit().ok());
    EXPECT_EQ(ReadFile(path), c.new_bytes);
    auto after = RegularFileIdentity(path);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(*after == *before, c.kept);
    EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"tempdat.dat"});
  }
  // Asked too late (after a write), it has no effect: the target is replaced as by Commit.
  TempDir dir;
  const std::string path = dir / "tempdat.dat";
  WriteFile(path, "abcabc");
  auto before = RegularFileIdentity(path);
  auto f = AtomicFile::Create(path);
  ASSERT_TRUE(f.ok() && before.ok());
  ASSERT_TRUE(f->Write("abc").ok());
  f->KeepIfSame();
  ASSERT_TRUE(f->Write("abc").ok());
  ASSERT_TRUE(f->Commit().ok());
  EXPECT_FALSE(*RegularFileIdentity(path) == *before);
}

TEST(AtomicFileTest, SuccessfulWriteRemovesTemporariesOfKilledWrites) {
  TempDir dir;
  const std::string path = dir / "nes.dat";
  for (const char* n : {".nes.dat.quorvin-Ab12Cd", ".nes.dat.quorvin-zzzzzz", ".nes.dat.quorvin-1",
                        ".other.dat.quorvin-Ab12Cd", "nes.dat.quorvin-Ab12Cd"}) {
    WriteFile(dir / n, "half");
    test::MakeOld(dir / n);
  }
  WriteFile(dir / ".nes.dat.quorvin-Fresh1", "half");
  test::MakeDir(dir / ".nes.dat.quorvin-folder");
  auto other = AtomicFile::Create(dir / "other.dat");
  ASSERT_TRUE(other.ok());
  auto same = AtomicFile::Create(path);
  ASSERT_TRUE(same.ok());
  ASSERT_TRUE(same->Write("later").ok());
#ifndef _WIN32
  // Idle for an hour, yet still held by its writer. (Windows lets nobody else touch an open
  // writer's file, its times included.)
  for (const std::string& n : test::FolderEntries(dir.path())) {
    if (n.starts_with(".nes.dat.quorvin-") && n.size() == 23 && n != ".nes.dat.quorvin-Fresh1" &&
        n != ".nes.dat.quorvin-Ab12Cd" && n != ".nes.dat.quorvin-zzzzzz") {
      test::MakeOld(dir / n);
    }
  }
#endif
  ASSERT_TRUE(WriteFileAtomic(path, "whole").ok());
  std::vector<std::string> left = test::FolderEntries(dir.path());
  EXPECT_EQ(left.size(), 8u);
  for (const std::string& n : left) {
    EXPECT_NE(n, ".nes.dat.quorvin-Ab12Cd");
    EXPECT_NE(n, ".nes.dat.quorvin-zzzzzz");
  }
  EXPECT_TRUE(test::Exists(dir / ".nes.dat.quorvin-1"));
  EXPECT_TRUE(test::Exists(dir / ".nes.dat.quorvin-Fresh1"));
  EXPECT_TRUE(test::Exists(dir / ".other.dat.quorvin-Ab12Cd"));
  EXPECT_TRUE(test::Exists(dir / ".nes.dat.quorvin-folder"));
  ASSERT_TRUE(other->Commit().ok());
  EXPECT_EQ(ReadFile(path), "whole");
  ASSERT_TRUE(same->Commit().ok()) << "another writer's file was taken for a killed one";
  EXPECT_EQ(ReadFile(path), "later");
  // A failed write removes nothing.
  WriteFile(dir / ".nes.dat.quorvin-Zz99Zz", "half");
  test::MakeOld(dir / ".nes.dat.quorvin-Zz99Zz");
  test::MakeReadOnly(path);
  EXPECT_FALSE(WriteFileAtomic(path, "again").ok());
  EXPECT_TRUE(test::Exists(dir / ".nes.dat.quorvin-Zz99Zz"));
}

TEST(AtomicFileTest, KeepsThePermissionsOfTheReplacedFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows files have attributes instead (platform_win32_test.cpp)";
#else
  TempDir dir;
  const std::string path = dir / "f";
  WriteFile(path, "a");
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomic(path, "b").ok());
  struct stat st;
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST(AtomicFileTest, RefusesUnusableTargetsWithTheirPath) {
  TempDir dir;
  WriteFile(dir / "ro", "keep");
  test::MakeReadOnly(dir / "ro");
  test::MakeDir(dir / "sub");
  struct Case {
    std::string path;
    ErrorKind kind;
    std::string message;
  } cases[] = {
      {dir / "ro", ErrorKind::kIo, "The file " + dir / "ro" + " is read-only"},
      {dir / "sub", ErrorKind::kInvalidInput, dir / "sub" + " is a folder, not a file"},
      {dir / "nope/x.dat", ErrorKind::kNotFound, "The folder " + dir / "nope" + " does not exist"},
  };
  for (const Case& c : cases) {
    Status s = WriteFileAtomic(c.path, "new");
    EXPECT_EQ(s.kind(), c.kind) << c.path;
    EXPECT_EQ(s.message(), c.message);
  }
  EXPECT_EQ(ReadFile(dir / "ro"), "keep");
}

TEST(CopyFileTest, CopiesWholeOrNotAtAll) {
  TempDir dir;
  WriteFile(dir / "a", std::string(1 << 20, 'q'));
  ASSERT_TRUE(CopyFileAtomic(dir / "a", dir / "b").ok());
  EXPECT_EQ(ReadFile(dir / "b"), ReadFile(dir / "a"));
  WriteFile(dir / "b", "old");
  Status s = CopyFileAtomic(dir / "missing", dir / "b");
  EXPECT_EQ(s.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(ReadFile(dir / "b"), "old");
}

TEST(RenameTest, NeverReplacesAnotherFile) {
  TempDir dir;
  WriteFile(dir / "a.nes", "A");
  WriteFile(dir / "b.nes", "B");
  Status s = RenameNoReplace(dir / "a.nes", dir / "b.nes");
  EXPECT_EQ(s.kind(), ErrorKind::kRefused);
  EXPECT_EQ(s.message(),
            "Cannot rename " + dir / "a.nes" + ": " + dir / "b.nes" + " already exists");
  EXPECT_EQ(ReadFile(dir / "a.nes"), "A");
  EXPECT_EQ(ReadFile(dir / "b.nes"), "B");
  ASSERT_TRUE(RenameNoReplace(dir / "a.nes", dir / "C.nes").ok());
  EXPECT_EQ(ReadFile(dir / "C.nes"), "A");
  EXPECT_EQ(RenameNoReplace(dir / "gone", dir / "x").kind(), ErrorKind::kNotFound);
}

// A file asked about through its folder's handle is the file asked about by its whole path;
// what cannot be asked fails as by the whole path, naming the file. A handle on a folder that
// would not open still answers (by the whole path).
TEST(FolderHandleTest, AnswersAsTheWholePathDoes) {
  TempDir dir;
  test::MakeDir(dir / "roms");
  WriteFile(dir / "roms/a.bin", "abc");
  const std::string folder = dir / "roms";
  for (const std::string& held : {folder, folder + "/", dir / "gone"}) {
    FolderHandle handle(held);
    SCOPED_TRACE(held);
    auto by_handle = handle.RegularFileIdentity("a.bin");
    auto by_path = RegularFileIdentity(JoinPath(held, "a.bin"));
    ASSERT_EQ(by_handle.ok(), by_path.ok());
    if (by_path.ok()) {
      EXPECT_TRUE(*by_handle == *by_path);
    }
    auto missing = handle.RegularFileIdentity("b.bin");
    EXPECT_EQ(missing.status().kind(), ErrorKind::kNotFound);
    EXPECT_NE(missing.status().message().find(JoinPath(held, "b.bin")), std::string::npos);
    // Opened by name in the folder held, as InputFile::Open opens the whole path.
    const std::string path = JoinPath(held, "a.bin");
    auto opened = handle.Open(path, path.size() - 5);
    ASSERT_EQ(opened.ok(), by_path.ok());
    if (by_path.ok()) {
      uint8_t bytes[8];
      auto got = opened->Read(bytes, sizeof bytes);
      ASSERT_TRUE(got.ok());
      EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), *got), "abc");
      EXPECT_TRUE(*opened->IdentityAtOpen() == *by_path);
    }
    const std::string gone = JoinPath(held, "b.bin");
    auto not_opened = handle.Open(gone, gone.size() - 5);
    EXPECT_EQ(not_opened.status().kind(), ErrorKind::kNotFound);
    EXPECT_NE(not_opened.status().message().find(gone), std::string::npos);
  }
  test::MakeDir(dir / "roms/sub");
  FolderHandle handle(folder);
  auto sub = handle.RegularFileIdentity("sub");
  ASSERT_FALSE(sub.ok());
  EXPECT_NE(sub.status().message().find("sub"), std::string::npos);
  // A folder made anew after it was opened: its file is still found, by the whole path.
  {
    FolderHandle held(folder);
    test::MakeDir(dir / "moved");
    ASSERT_EQ(std::rename(folder.c_str(), (dir / "moved/roms").c_str()), 0);
    test::MakeDir(dir / "roms");
    WriteFile(dir / "roms/new.bin", "new");
    const std::string path = JoinPath(folder, "new.bin");
    auto opened = held.Open(path, path.size() - 7);
    ASSERT_TRUE(opened.ok()) << opened.status().message();
    uint8_t bytes[8];
    auto got = opened->Read(bytes, sizeof bytes);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), *got), "new");
    ASSERT_EQ(std::rename((dir / "roms").c_str(), (dir / "fresh").c_str()), 0);
    ASSERT_EQ(std::rename((dir / "moved/roms").c_str(), folder.c_str()), 0);
  }
  const std::string sub_path = JoinPath(folder, "sub");
  auto sub_opened = handle.Open(sub_path, sub_path.size() - 3);
  ASSERT_FALSE(sub_opened.ok());
  EXPECT_NE(sub_opened.status().message().find(sub_path), std::string::npos);
}

TEST(LineReaderTest, ReadsCrLfAndLfAlikeAndKeepsNulAndLongLines) {
  TempDir dir;
  std::string long_line(3 << 20, 'L');
  WriteFile(dir / "t", std::string("a\r\nb\nc\0d\r\n", 10) + long_line + "\n\r\nlast");
  auto r = LineReader::Open(dir / "t");
  ASSERT_TRUE(r.ok());
  std::vector<std::string> lines;
  std::string line;
  while (r->Next(line)) lines.push_back(line);
  EXPECT_TRUE(r->status().ok());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "b");
  EXPECT_EQ(lines[2], std::string("c\0d", 3));
  EXPECT_TRUE(lines[3] == long_line);  // not printed: 3 MiB
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], "last");
  EXPECT_EQ(LineReader::Open(dir / "none").status().kind(), ErrorKind::kNotFound);
}

}  // namespace
}  // namespace quorvin
