#include "dat/scan.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <utility>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "dat/dat_format.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::Contains;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Names = std::vector<std::string>;

const std::string kWorkedExample =
    "clrmamepro (\r\n\tname nes\r\n\tDescription \"Nintendo NES\"\r\n"
    "\tauthor \"Auto Generated With Quorvin Utility\"\r\n)\r\n\r\n"
    "game (\r\n\tname Alpha\r\n\tdescription \"Alpha\"\r\n"
    "\trom ( name Alpha size 3 crc 352441C2 )\r\n)\r\n\r\n"
    "game (\r\n\tname \"Beta Game\"\r\n\tdescription \"Beta Game\"\r\n"
    "\trom ( name \"Beta Game\" size 2 crc E7DDCE )\r\n)\r\n\r\n";

// The block of a game whose name needs no quotes, with its one rom line.
std::string Block(const std::string& game, uint64_t size, const std::string& crc) {
  return "game (\r\n\tname " + game + "\r\n\tdescription \"" + game + "\"\r\n\trom ( name " + game +
         " size " + std::to_string(size) + " crc " + crc + " )\r\n)\r\n\r\n";
}

DatScanInput Input(const std::string& folders, const std::string& ext = ".nes") {
  return {"nes", "Nintendo NES", "Auto Generated With Quorvin Utility", folders, ext};
}

// A scan in a folder of its own: an empty ROM folder dir/roms, the dat written to dir/t.dat.
class ScanTest : public ::testing::Test {
 protected:
  ScanTest() { test::MakeDir(dir / "roms"); }
  Status Make(const std::string& folders, const std::string& ext = ".nes") {
    return MakeDat(Input(folders, ext), dir / "t.dat", rep);
  }
  std::string Dat() const { return ReadFile(dir / "t.dat"); }

  TempDir dir;
  test::RecordingReporter rep;
};

TEST_F(ScanTest, ReproducesTheWorkedExampleByteForByte) {
  WriteFile(dir / "roms/Alpha.nes", "abc");
  WriteFile(dir / "roms/Beta Game.nes", "ae");
  WriteFile(dir / "roms/notes.txt", "x");
  ASSERT_TRUE(Make(dir / "roms").ok());
  EXPECT_EQ(Dat(), kWorkedExample);
  EXPECT_EQ(rep.file_statuses, (Names{"Status:  Parsing Alpha", "Status:  Parsing Beta Game"}));
  EXPECT_EQ(rep.last_total, 2u);
  // A trailing separator, blanks around the piece and empty pieces change nothing.
  ASSERT_TRUE(MakeDat(Input(" " + dir / "roms/ ;; "), dir / "t2.dat", rep).ok());
  EXPECT_EQ(ReadFile(dir / "t2.dat"), kWorkedExample);
}

TEST_F(ScanTest, GameNamesLoseTheExtensionThatMatched) {
  WriteFile(dir / "roms/Tetris.gb", "");
  WriteFile(dir / "roms/zero.GB", "");
  ASSERT_TRUE(Make(dir / "roms", ".gb").ok());
  EXPECT_TRUE(Contains(Dat(), Block("Tetris", 0, "0")));
  EXPECT_TRUE(Contains(Dat(), "\tname zero\r\n"));
}

TEST_F(ScanTest, FoldersInOrderThenNamesInOrder) {
  test::MakeDir(dir / "b");
  test::MakeDir(dir / "a");
  WriteFile(dir / "b/z.nes", "1");
  WriteFile(dir / "b/y.nes", "2");
  WriteFile(dir / "a/x.nes", "3");
  ASSERT_TRUE(Make(dir / "b;" + dir / "a").ok());
  const std::string dat = Dat();
  EXPECT_LT(dat.find("name y"), dat.find("name z"));
  EXPECT_LT(dat.find("name z"), dat.find("name x"));
}

TEST_F(ScanTest, HeaderTrimsTheSystemNameAndNeverQuotesIt) {
  DatScanInput in = Input(dir / "roms");
  in.system_name = "  Sega Master  ";
  ASSERT_TRUE(MakeDat(in, dir / "t.dat", rep).ok());
  EXPECT_EQ(Dat(),
            "clrmamepro (\r\n\tname Sega Master\r\n\tDescription \"Nintendo NES\"\r\n"
            "\tauthor \"Auto Generated With Quorvin Utility\"\r\n)\r\n\r\n");
}

TEST_F(ScanTest, FailuresNameThePathAndLeaveTheDatAsItWas) {
  WriteFile(dir / "t.dat", "previous");
  Status s = Make(dir / "roms;" + dir / "Roms2");
  EXPECT_EQ(s.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(s.message(), "The ROM folder " + dir / "Roms2" + " does not exist");
  EXPECT_EQ(Dat(), "previous");
  // Zipped ROMs are scanned, not refused: an empty folder gives the header alone.
  for (const char* ext : {".zip", ".ZIP", ".Zip"}) {
    rep.messages.clear();
    WriteFile(dir / "t.dat", "previous");
    EXPECT_TRUE(Make(dir / "roms", ext).ok()) << ext;
    EXPECT_TRUE(rep.messages.empty());
    EXPECT_TRUE(Dat().starts_with("clrmamepro (\r\n")) << ext;
  }
}

// The rom line's name drops the blanks around it; the CRC of a file whose CRC is 0 (and
// whose size is not) is written as one digit.
TEST_F(ScanTest, RomLineTrimsBlanksBeforeTheExtension) {
  WriteFile(dir / " Odd .nes", "abc");
  WriteFile(dir / "zero.nes", test::ForgeCrc("z", 0));
  auto line = MakeRomLine(dir / " Odd .nes", ".nes");
  ASSERT_TRUE(line.ok());
  EXPECT_EQ(*line, "\trom ( name Odd size 3 crc 352441C2 )");
  line = MakeRomLine(dir / "zero.nes", ".nes");
  ASSERT_TRUE(line.ok());
  EXPECT_EQ(*line, "\trom ( name zero size 5 crc 0 )");
}

// Sets an environment variable for the life of the object.
struct ScopedEnv {
  ScopedEnv(const char* name, const char* value) : name(name) {
    if (const char* was = std::getenv(name)) old = was;
    test::SetEnvironment(name, value);
  }
  ~ScopedEnv() { test::SetEnvironment(name, old); }
  const char* name;
  std::string old;
};

// Files of many sizes in two folders, with their expected blocks in list order.
std::string MakeCollection(const TempDir& dir, int files) {
  test::MakeDir(dir / "a");
  test::MakeDir(dir / "b");
  std::mt19937 rng(11);
  std::string expected;
  for (const char* folder : {"a", "b"}) {
    for (int i = 0; i < files; ++i) {
      const size_t size = i % 7 == 0 ? rng() % (600 * 1024) : rng() % 3000;
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>(rng());
      char name[32];
      std::snprintf(name, sizeof name, "g%03d.nes", i);
      WriteFile(dir / (std::string(folder) + "/" + name), bytes);
      const uint32_t crc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(size)));
      std::string game = std::string(name).substr(0, 4);
      expected += Block(game, size, size == 0 ? "0" : CrcText(crc));
    }
  }
  return expected;
}

TEST_F(ScanTest, AnyNumberOfThreadsWritesTheSameDat) {
  const std::string blocks = MakeCollection(dir, 120);
  for (const char* threads : {"1", "2", "7"}) {
    ScopedEnv env("QUORVIN_THREADS", threads);
    test::RecordingReporter run;
    ASSERT_TRUE(MakeDat(Input(dir / "a;" + dir / "b"), dir / "t.dat", run).ok());
    const std::string dat = Dat();
    EXPECT_EQ(dat.substr(dat.find("game (")), blocks) << threads << " threads";
    // One status per file, in list order, from the calling thread.
    ASSERT_EQ(run.file_statuses.size(), 240u);
    EXPECT_EQ(run.file_statuses[0], "Status:  Parsing g000");
    EXPECT_EQ(run.file_statuses[120], "Status:  Parsing g000");
    EXPECT_EQ(run.file_statuses[239], "Status:  Parsing g119");
    EXPECT_EQ(run.last_done, 239u);
  }
}

// One reading thread and the default number write the same dat byte for byte, on names
// whose order by bytes differs from their order without regard to letter case, of sizes that
// make the workers finish out of order.
TEST_F(ScanTest, OneThreadWritesTheDatOfTheDefaultRun) {
  test::MakeDir(dir / "a");
  test::MakeDir(dir / "b");
  const char* names[] = {"b",   "A",  "_a",  "a_", "[x]", "Zz", "aa", "AB", "~t", "a b",
                         "a.b", "B2", "b10", "b9", "Ω",   "é",  "E",  "z",  "Y"};
  std::mt19937 rng(7);
  for (int round = 0; round < 16; ++round) {
    for (const char* n : names) {
      const std::string name = std::string(n) + std::to_string(round) + ".nes";
      const size_t size = rng() % 5 == 0 ? (size_t{1} << 20) + rng() % 1000 : rng() % 300;
      WriteFile(dir / ((round % 2 ? "a/" : "b/") + name),
                std::string(size, static_cast<char>(rng())));
    }
  }
  std::string dats[2];
  for (int i = 0; i < 2; ++i) {
    ScopedEnv env("QUORVIN_THREADS", i == 0 ? "" : "1");
    ASSERT_TRUE(Make(dir / "b;" + dir / "a").ok());
    dats[i] = Dat();
  }
  EXPECT_EQ(dats[0], dats[1]);
  // Name order without regard to letter case, not byte order: "aa0" before "AB0" and "B20",
  // "b10" before "B20".
  const std::string& dat = dats[0];
  EXPECT_LT(dat.find("\tname aa0\r\n"), dat.find("\tname B20\r\n"));
  EXPECT_LT(dat.find("\tname aa0\r\n"), dat.find("\tname AB0\r\n"));
  EXPECT_LT(dat.find("\tname b10\r\n"), dat.find("\tname B20\r\n"));
}

TEST_F(ScanTest, BadThreadOrCrcSettingsAreRefusedBeforeAnythingIsWritten) {
  WriteFile(dir / "roms/a.nes", "abc");
  WriteFile(dir / "t.dat", "previous");
  const std::pair<const char*, const char*> settings[] = {{"QUORVIN_THREADS", "0"},
                                                          {"QUORVIN_CRC", "turbo"}};
  for (auto [name, value] : settings) {
    ScopedEnv env(name, value);
    Status s = Make(dir / "roms");
    EXPECT_EQ(s.kind(), ErrorKind::kInvalidInput) << name;
    EXPECT_TRUE(Contains(s.message(), name)) << s.message();
  }
  EXPECT_EQ(Dat(), "previous");
}

// Deletes files of the list while the scan is on its first file.
class DeletingReporter : public test::RecordingReporter {
 public:
  void SetFileStatus(std::string_view text, size_t done, size_t total) override {
    RecordingReporter::SetFileStatus(text, done, total);
    if (done == 0) {
      for (const std::string& p : doomed) std::remove(p.c_str());
    }
  }
  std::vector<std::string> doomed;
};

TEST_F(ScanTest, FilesThatVanishAreLeftOutWithAWarningAndTheScanGoesOn) {
  DeletingReporter deleting;
  // More files than the workers may run ahead of the scan (256 each), so that some are
  // always still to be read when the first is written.
  constexpr int kFiles = 1200;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "g%04d.nes", i);
    WriteFile(dir / "roms" + "/" + name, std::string(100, 'x'));
    if (i >= 1) deleting.doomed.push_back(dir / "roms" + "/" + name);
  }
  WriteFile(dir / "t.dat", "previous");
  ScopedEnv env("QUORVIN_THREADS", "2");
  std::vector<LeftOutRom> left_out;
  Status s = MakeDat(Input(dir / "roms"), dir / "t.dat", deleting, nullptr, &left_out);
  ASSERT_TRUE(s.ok()) << s.message();
  // The workers run a bounded number of files ahead, so the files read before the deletion
  // are in the dat and every later one is a warning naming it; all of them were looked at.
  const Names& warnings = deleting.warnings;
  EXPECT_EQ(deleting.file_statuses.size(), static_cast<size_t>(kFiles));
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings.size(), left_out.size());
  const std::string dat = Dat();
  EXPECT_TRUE(Contains(dat, "\tname g0000\r\n"));
  for (size_t i = 0; i < warnings.size(); ++i) {
    const std::string& w = warnings[i];
    EXPECT_TRUE(Contains(w, dir / "roms/g")) << w;
    EXPECT_TRUE(Contains(w, "no longer exists; it was left out of the dat and of renaming")) << w;
    EXPECT_FALSE(Contains(dat, "\tname " + left_out[i].name + "\r\n")) << w;
  }
  size_t games = 0;
  for (size_t at = dat.find("game ("); at != std::string::npos; at = dat.find("game (", at + 1))
    ++games;
  EXPECT_EQ(games + warnings.size(), static_cast<size_t>(kFiles));
  EXPECT_EQ(test::FolderEntries(dir.path()), (Names{"roms", "t.dat"}));
}

#if !defined(_WIN32)
// Files swapped after the listing for a pipe, a device, a folder, or taken away: each is a
// warning naming it and why, none is in the dat, the scan never waits on one and goes on.
TEST_F(ScanTest, FilesSwappedAfterTheListingAreLeftOutWithoutWaiting) {
  for (const char* n : {"a.nes", "fifo.nes", "zero.nes", "folder.nes", "gone.nes", "z.nes"}) {
    WriteFile(dir / "roms/" + n, "abc");
  }
  WriteFile(dir / "roms/\x01.nes", "x");
  test::SwappingReporter swapping;
  const std::string r = dir / "roms/";
  swapping.swap = [&] {
    std::remove((r + "fifo.nes").c_str());
    ASSERT_EQ(::mkfifo((r + "fifo.nes").c_str(), 0600), 0);
    std::remove((r + "zero.nes").c_str());
    ASSERT_EQ(::symlink("/dev/zero", (r + "zero.nes").c_str()), 0);
    std::remove((r + "folder.nes").c_str());
    test::MakeDir(r + "folder.nes");
    std::remove((r + "gone.nes").c_str());
  };
  std::vector<LeftOutRom> left_out;
  Status s = MakeDat(Input(dir / "roms"), dir / "t.dat", swapping, nullptr, &left_out);
  ASSERT_TRUE(s.ok()) << s.message();
  const std::string dat = Dat();
  EXPECT_EQ(dat.substr(dat.find("game (")), Block("a", 3, "352441C2") + Block("z", 3, "352441C2"));
  const std::string tail = "; it was left out of the dat and of renaming";
  EXPECT_EQ(swapping.warnings,
            (Names{"Left " + r + "\\x01.nes out of the dat: its name holds a control character",
                   "Cannot read " + r + "fifo.nes: it is a named pipe, not a regular file" + tail,
                   "Cannot read " + r + "folder.nes: it is a folder, not a regular file" + tail,
                   "The file " + r + "gone.nes no longer exists" + tail,
                   "Cannot read " + r + "zero.nes: it is a device, not a regular file" + tail}));
  Names names;
  for (const LeftOutRom& rom : left_out) names.push_back(rom.name);
  EXPECT_EQ(names, (Names{"\x01", "fifo", "folder", "gone", "zero"}));
}
#endif

// Stop ends the scan within a fraction of a second even in the middle of a huge file.
TEST_F(ScanTest, StopEndsTheScanInTheMiddleOfAHugeFile) {
  {
    // Sparse where the file system can: 64 GiB that would take minutes to read. Some file
    // systems (and Wine on some of them) refuse that size; 4 GiB still takes seconds.
    std::filesystem::path p = test::Native(dir / "roms/huge.nes");
    { std::ofstream(p, std::ios::binary) << 'x'; }
    std::error_code ec;
    std::filesystem::resize_file(p, uint64_t{64} << 30, ec);
    if (ec) std::filesystem::resize_file(p, uint64_t{4} << 30, ec);
    if (ec) GTEST_SKIP() << "no file of 4 GiB can be made here: " << ec.message();
  }
  class LateStop : public test::RecordingReporter {
   public:
    bool StopRequested() override {
      return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200);
    }
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  } late;
  Status s = MakeDat(Input(dir / "roms"), dir / "t.dat", late);
  const auto took = std::chrono::steady_clock::now() - late.start;
  EXPECT_EQ(s.kind(), ErrorKind::kStopped) << s.message();
  EXPECT_TRUE(Contains(s.message(), "while " + dir / "roms/huge.nes" + " was being read"))
      << s.message();
  // A generous bound for a shared, sanitized machine; reading the file would take minutes.
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_FALSE(test::Exists(dir / "t.dat"));
}

// Asks to stop when the scan reaches file `at`.
class StoppingReporter : public test::RecordingReporter {
 public:
  bool StopRequested() override { return file_statuses.size() == at; }
  size_t at = 0;
};

TEST_F(ScanTest, StopEndsTheScanAtAFileBoundaryWithoutWaitingForTheRest) {
  const std::string big(8 << 20, 'x');
  for (int i = 0; i < 12; ++i) WriteFile(dir / "roms/g" + std::to_string(10 + i) + ".nes", big);
  WriteFile(dir / "t.dat", "previous");
  for (size_t at : {0, 1, 5}) {
    StoppingReporter stopping;
    stopping.at = at;
    Status s = MakeDat(Input(dir / "roms"), dir / "t.dat", stopping);
    EXPECT_EQ(s.kind(), ErrorKind::kStopped);
    // Asked between files, or while the caller waits for the file in hand to be read.
    const std::string g = dir / "roms/g";
    const bool before =
        Contains(s.message(), "stopped before " + g + std::to_string(10 + at) + ".nes");
    const bool during =
        at > 0 && Contains(s.message(), "stopped while " + g + std::to_string(9 + at) + ".nes");
    EXPECT_TRUE(before || during) << s.message();
    EXPECT_EQ(Dat(), "previous");
  }
}

}  // namespace
}  // namespace quorvin
