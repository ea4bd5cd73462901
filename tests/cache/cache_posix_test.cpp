// The CRC cache against what another program can do to a file between two runs, and runs
// that share the cache: at once, or killed in the middle.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <functional>
#include <thread>

#include "cache/hash_cache.h"
#include "cli_process.h"
#include "dat/hash_pool.h"
#include "dat/rom_header.h"
#include "platform/fileops.h"
#include "test_util.h"

namespace quorvin {
namespace {

uint32_t Zlib(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

struct timespec Mtime(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim;
}

void SetMtime(const std::string& path, struct timespec t) {
  struct timespec times[2] = {t, t};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::vector<ParallelHasher::FileHash> Hash(const std::vector<std::string>& paths, HashCache& c) {
  ParallelHasher hasher(paths, 2, kRomHeadBytes, HashCacheUse{&c, false});
  std::vector<ParallelHasher::FileHash> out;
  for (size_t i = 0; i < paths.size(); ++i) out.push_back(hasher.Next());
  return out;
}

// Each case changes a recorded file the way another program could; the next scan must read
// it again (or refuse it) and never give the recorded CRC.
TEST(CachePosixTest, AFileChangedOrPutInItsPlaceIsNeverServedFromItsRecord) {
  test::TempDir dir;
  HashCacheOptions options;
  options.racy_window_ns = 0;
  auto cache = OpenHashCache(dir / "crccache.db", options);
  struct Case {
    const char* name;
    // Changes the file; returns the bytes it now holds ("" for a file that cannot be read).
    std::function<std::string(const std::string& path)> change;
  };
  const Case cases[] = {
      {"bytes changed, size and modification time set back",
       [](const std::string& p) {
         const struct timespec t = Mtime(p);
         test::WriteFile(p, "BBBBBBBB");
         SetMtime(p, t);
         return std::string("BBBBBBBB");
       }},
      {"replaced by a copy with the same size and times, renamed over it",
       [](const std::string& p) {
         test::WriteFile(p + ".new", "CCCCCCCC");
         SetMtime(p + ".new", Mtime(p));
         EXPECT_EQ(::rename((p + ".new").c_str(), p.c_str()), 0);
         return std::string("CCCCCCCC");
       }},
      {"a link to another file of the same size",
       [&](const std::string& p) {
         test::WriteFile(dir / "other", "DDDDDDDD");
         SetMtime(dir / "other", Mtime(p));
         EXPECT_EQ(::unlink(p.c_str()), 0);
         EXPECT_EQ(::symlink((dir / "other").c_str(), p.c_str()), 0);
         return std::string("DDDDDDDD");
       }},
      {"swapped for a named pipe",
       [](const std::string& p) {
         EXPECT_EQ(::unlink(p.c_str()), 0);
         EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
         return std::string();
       }},
  };
  std::vector<std::string> paths;
  for (size_t i = 0; i < std::size(cases); ++i) {
    paths.push_back(dir / ("f" + std::to_string(i) + ".bin"));
    test::WriteFile(paths.back(), "AAAAAAAA");
  }
  paths.push_back(dir / "untouched.bin");
  test::WriteFile(paths.back(), "untouched");
  for (const auto& h : Hash(paths, *cache)) EXPECT_FALSE(h.from_cache);
  std::vector<std::string> now;
  for (size_t i = 0; i < std::size(cases); ++i) now.push_back(cases[i].change(paths[i]));
  cache->Finish();  // the next run
  cache = OpenHashCache(dir / "crccache.db", options);
  const auto second = Hash(paths, *cache);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_FALSE(second[i].from_cache);
    if (now[i].empty()) {
      EXPECT_FALSE(second[i].status.ok());
      EXPECT_TRUE(test::Contains(second[i].status.message(), paths[i]));
    } else {
      ASSERT_TRUE(second[i].status.ok()) << second[i].status.message();
      EXPECT_EQ(second[i].crc, Zlib(now[i]));
    }
  }
  EXPECT_TRUE(second.back().from_cache);
  EXPECT_EQ(second.back().crc, Zlib("untouched"));

  // A copy of the folder elsewhere (as a collection on a drive mounted elsewhere) is read
  // afresh: records belong to their path.
  test::MakeDir(dir / "copy");
  test::WriteFile(dir / "copy/untouched.bin", "untouched");
  SetMtime(dir / "copy/untouched.bin", Mtime(paths.back()));
  EXPECT_FALSE(Hash({dir / "copy/untouched.bin"}, *cache)[0].from_cache);
  cache->Finish();
  EXPECT_TRUE(cache->TakeWarnings().empty());
}

// Runs of quorvin-cli sharing one program folder, and so one cache.
class CacheRunsTest : public ::testing::Test {
 protected:
  CacheRunsTest() {
    test::MakeProgramFolder(dir / "home");
    test::MakeDir(dir / "roms");
    for (int i = 0; i < 3000; ++i) {
      test::WriteFile(dir / ("roms/r" + std::to_string(i) + ".bin"),
                      std::string(static_cast<size_t>(100 + i % 700), static_cast<char>(i)));
    }
    // Files changed less than two seconds ago are not kept in the cache.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  }
  std::string List(const std::string& out) const {
    return "|" + dir / "roms" + "|bin|bench|||0||" + out + "||0|0|0|0|0";
  }
  static int Wait(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The dat of a run that reads every file.
  std::string Reference() {
    EXPECT_EQ(Wait(test::SpawnCli({"--rehash", List(dir / "ref.dat")}, dir / "home")), 0);
    return test::ReadFile(dir / "ref.dat");
  }
  test::TempDir dir;
};

TEST_F(CacheRunsTest, TwoRunsAtOnceBothFinishWithTheRightDat) {
  const std::string ref = Reference();
  for (int round = 0; round < 2; ++round) {  // filling the cache, then reading it
    const pid_t a = test::SpawnCli({List(dir / "a.dat")}, dir / "home", dir / "a.err");
    const pid_t b = test::SpawnCli({List(dir / "b.dat")}, dir / "home", dir / "b.err");
    EXPECT_EQ(Wait(a), 0) << round << ": " << test::ReadFile(dir / "a.err");
    EXPECT_EQ(Wait(b), 0) << round << ": " << test::ReadFile(dir / "b.err");
    EXPECT_TRUE(test::ReadFile(dir / "a.dat") == ref) << round;
    EXPECT_TRUE(test::ReadFile(dir / "b.dat") == ref) << round;
  }
}

// A program folder on a disk with room for the dat but not for the cache as well: the cache
// gives up and gives its space back, and the run writes the right dat.
TEST_F(CacheRunsTest, ADiskTooFullForTheCacheStillTakesTheDat) {
  const std::string ref = Reference();
  const std::string small = dir / "small";
  test::MakeDir(small);
  const std::string size = "size=" + std::to_string(ref.size() + 128 * 1024);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  }
  test::MakeProgramFolder(small + "/home");
  const int status =
      Wait(test::SpawnCli({List(dir / "out.dat")}, small + "/home", dir / "full.err"));
  const std::string err = test::ReadFile(dir / "full.err");
  EXPECT_EQ(status, 3) << err;
  EXPECT_TRUE(test::Contains(err, small + "/home/crccache.db")) << err;
  EXPECT_FALSE(test::Contains(err, "tempdat")) << err;
  EXPECT_TRUE(test::ReadFile(dir / "out.dat") == ref);
  ::umount2(small.c_str(), MNT_DETACH);
}

TEST_F(CacheRunsTest, AKilledRunLeavesACacheTheNextRunOpensAndTrusts) {
  const std::string ref = Reference();
  for (int delay_ms : {5, 40, 120}) {
    const pid_t pid = test::SpawnCli({"--rehash", List(dir / "out.dat")}, dir / "home");
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(Wait(test::SpawnCli({List(dir / "out.dat")}, dir / "home")), 0) << delay_ms;
    EXPECT_TRUE(test::ReadFile(dir / "out.dat") == ref) << delay_ms;
  }
  auto cache = OpenHashCache(dir / "home/crccache.db");
  EXPECT_TRUE(cache->usable());
  EXPECT_TRUE(cache->TakeWarnings().empty());
  EXPECT_FALSE(test::Exists(dir / "home/crccache.db.damaged"));
}

}  // namespace
}  // namespace quorvin
