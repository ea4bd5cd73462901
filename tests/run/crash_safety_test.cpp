// A run killed at any moment loses no file and no name: after a SIGKILL during the scan, the
// renaming or a revert, --revert gives every file its original name and bytes back.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <thread>

#include "dat/dat_format.h"
#include "test_util.h"

extern char** environ;

namespace quorvin {
namespace {

constexpr int kFiles = 20000;
using Snapshot = std::vector<std::pair<std::string, uLong>>;

// Every entry of the folder with the CRC-32 of its bytes, sorted by name.
Snapshot Take(const std::string& folder) {
  Snapshot out;
  for (const std::string& name : test::FolderEntries(folder)) {
    char buf[256];
    int fd = ::open((folder + "/" + name).c_str(), O_RDONLY);
    ssize_t n = fd < 0 ? -1 : ::read(fd, buf, sizeof buf);
    if (fd >= 0) ::close(fd);
    out.emplace_back(
        name, n < 0 ? 0 : crc32(0L, reinterpret_cast<const Bytef*>(buf), static_cast<uInt>(n)));
  }
  return out;
}

size_t CountGoodNames(const std::string& folder) {
  size_t n = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  while (dirent* e = ::readdir(dir)) n += std::string_view(e->d_name).starts_with("Game ");
  ::closedir(dir);
  return n;
}

class CrashSafetyTest : public ::testing::Test {
 protected:
  CrashSafetyTest() {
    test::MakeProgramFolder(dir / "home");
    test::MakeDir(dir / "roms");
    test::MakeDir(dir / "mess/crc");
    std::string db = "[nes]\r\n";
    std::set<uLong> crcs;
    char name[64];
    for (int i = 0; i < kFiles; ++i) {
      std::string bytes = std::to_string(i);
      uLong crc =
          crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
      while (!crcs.insert(crc).second) {  // one good name per file
        bytes.push_back('+');
        crc = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()),
                    static_cast<uInt>(bytes.size()));
      }
      // Plain names, names in mixed case, names with blanks, one with a leading blank.
      const char* form = i % 1000 == 0 ? " lead%05d.nes"
                         : i % 7 == 0  ? "Rom %05d b.nes"
                         : i % 3 == 0  ? "ROM%05d.nes"
                                       : "rom%05d.nes";
      std::snprintf(name, sizeof name, form, i);
      test::WriteFile(dir / ("roms/" + std::string(name)), bytes);
      std::snprintf(name, sizeof name, "Game %05d (E) [!]", i);
      db += CrcText(static_cast<uint32_t>(crc)) + "=" + name + "|1990\r\n";
    }
    test::WriteFile(dir / "mess/crc/nes.crc", db);
    list = dir / "mess" + "|" + dir / "roms" + "|nes|nes|||1||" + dir / "out.dat" + "||0|0|0|0|0";
    original = Take(dir / "roms");
  }

  pid_t Spawn(bool revert) {
    std::vector<std::string> args = {QUORVIN_CLI};
    if (revert) args.emplace_back("--revert");
    args.push_back(list);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string home = "QUORVIN_HOME=" + dir / "home";
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (!std::string_view(*e).starts_with("QUORVIN_HOME=")) env.push_back(*e);
    }
    env.push_back(home.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // Waits for the child; true when it ended by itself with a usable exit status.
  static bool Finished(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
  }
  // Kills the child with SIGKILL once `reached` holds for the number of files that carry a
  // good name, or lets it end when it ends first.
  template <typename Reached>
  void KillWhen(pid_t pid, Reached reached) {
    const auto start = std::chrono::steady_clock::now();
    while (true) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return;  // it ended first
      if (reached(CountGoodNames(dir / "roms"), std::chrono::steady_clock::now() - start)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  test::TempDir dir;
  std::string list;
  Snapshot original;
};

TEST_F(CrashSafetyTest, KilledRunsAndRevertsLoseNoName) {
  using std::chrono::milliseconds;
  // During the scan; right after the first rename; half-way through the renaming.
  const std::function<bool(size_t, std::chrono::steady_clock::duration)> points[] = {
      [](size_t, auto elapsed) { return elapsed >= milliseconds(30); },
      [](size_t good, auto) { return good >= 1; },
      [](size_t good, auto) { return good >= kFiles / 2; },
  };
  for (size_t i = 0; i < std::size(points); ++i) {
    SCOPED_TRACE(i);
    KillWhen(Spawn(false), points[i]);
    ASSERT_EQ(test::FolderEntries(dir / "roms").size(), static_cast<size_t>(kFiles));
    if (i + 1 == std::size(points)) {
      // A revert killed half-way too, then finished by the next one.
      KillWhen(Spawn(true), [](size_t good, auto) { return good <= kFiles / 4; });
      ASSERT_EQ(test::FolderEntries(dir / "roms").size(), static_cast<size_t>(kFiles));
    }
    ASSERT_TRUE(Finished(Spawn(true)));
    EXPECT_EQ(Take(dir / "roms"), original);
  }
  // Nothing half-written is left beside the program's files either.
  EXPECT_EQ(test::FolderEntries(dir / "home/conversions"), std::vector<std::string>{"nes.cnv"});
}

// Every file renamed by a completed run; the revert killed right after its first rename and
// again half-way; the next revert gives every file its original name and bytes, none lost.
TEST_F(CrashSafetyTest, KilledRevertsOfACompletedRunLoseNoName) {
  ASSERT_TRUE(Finished(Spawn(false)));
  ASSERT_EQ(CountGoodNames(dir / "roms"), static_cast<size_t>(kFiles));
  KillWhen(Spawn(true), [](size_t good, auto) { return good < static_cast<size_t>(kFiles); });
  ASSERT_EQ(test::FolderEntries(dir / "roms").size(), static_cast<size_t>(kFiles));
  KillWhen(Spawn(true), [](size_t good, auto) { return good <= kFiles / 2; });
  ASSERT_EQ(test::FolderEntries(dir / "roms").size(), static_cast<size_t>(kFiles));
  EXPECT_GT(CountGoodNames(dir / "roms"), 0u) << "the revert ended before it was killed";
  ASSERT_TRUE(Finished(Spawn(true)));
  EXPECT_EQ(Take(dir / "roms"), original);
  EXPECT_EQ(test::FolderEntries(dir / "home/conversions"), std::vector<std::string>{"nes.cnv"});
}

}  // namespace
}  // namespace quorvin
