// A run over a very large folder of empty files: a correct dat, and memory that stays small.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_process.h"
#include "test_util.h"

namespace quorvin {
namespace {

constexpr int kFiles = 100000;

// Runs quorvin-cli on a settings list; its exit status, and its peak resident memory in KiB.
int RunCli(const std::string& home, const std::string& list, long* peak_kib) {
  // Under AddressSanitizer, freed memory waits in a quarantine of 256 MiB by default, which
  // would be counted as the program's; a small one leaves what the program itself holds.
  const char* asan = std::getenv("ASAN_OPTIONS");
  test::SetEnvironment("ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") +
                                           (asan != nullptr && *asan != '\0' ? ":" : "") +
                                           "quarantine_size_mb=16");
  const pid_t pid = test::SpawnCli({list}, home);
  test::SetEnvironment("ASAN_OPTIONS", asan != nullptr ? asan : "");
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
