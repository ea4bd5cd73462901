// A run over a very large folder of empty files: a correct dat, and memory that stays small.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

extern char** environ;

namespace quorvin {
namespace {

constexpr int kFiles = 100000;

// Runs quorvin-cli on a settings list; its exit status, and its peak resident memory in KiB.
int RunCli(const std::string& home, const std::string& list, long* peak_kib) {
  std::string cli = QUORVIN_CLI;
  std::vector<char*> argv = {cli.data(), const_cast<char*>(list.c_str()), nullptr};
  std::string home_var = "QUORVIN_HOME=" + home;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!std::string_view(*e).starts_with("QUORVIN_HOME=")) env.push_back(*e);
  }
  env.push_back(home_var.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  EXPECT_EQ(::wait4(pid, &status, 0, &usage), pid);
  *peak_kib = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LargeRunTest, HundredThousandEmptyFilesMakeACorrectDatInBoundedMemory) {
  test::TempDir dir;
  test::MakeProgramFolder(dir / "home");
  test::MakeDir(dir / "roms");
  char name[64];
  for (int i = 0; i < kFiles; ++i) {
    std::snprintf(name, sizeof name, "/roms/empty %06d.nes", i);
    const int fd = ::open((dir.path() + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  long peak_kib = 0;
  const std::string list = "|" + dir / "roms" + "|nes|nes|||0||" + dir / "out.dat" + "||0|0|0|0|0";
  ASSERT_EQ(RunCli(dir / "home", list, &peak_kib), 0);
  const std::string dat = test::ReadFile(dir / "out.dat");
  size_t games = 0, at = 0;
  for (int i = 0; i < kFiles; ++i) {
    std::snprintf(name, sizeof name, "%06d\"\r\n", i);
    const std::string n = "empty " + std::string(name, 6);
    const std::string block = "game (\r\n\tname \"" + n + "\"\r\n\tdescription \"" + n +
                              "\"\r\n\trom ( name \"" + n + "\" size 0 crc 0 )\r\n)\r\n\r\n";
    ASSERT_EQ(dat.compare(dat.find("game (", at), block.size(), block), 0) << n;
    at += block.size();
    ++games;
  }
  EXPECT_EQ(games, static_cast<size_t>(kFiles));
  EXPECT_EQ(dat.size(), dat.find("game (") + static_cast<size_t>(kFiles) * (at / kFiles));
  // The listing of 100,000 names is the only thing that grows with the folder: a few MiB
  // (about 20 MiB in all for a Debug build; AddressSanitizer's shadow memory adds more).
  std::printf("peak memory of a run over %d empty files: %ld KiB\n", kFiles, peak_kib);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(peak_kib, 512 * 1024);
#else
  EXPECT_LT(peak_kib, 64 * 1024);
#endif
}

}  // namespace
}  // namespace quorvin
