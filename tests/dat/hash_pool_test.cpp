#include "dat/hash_pool.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "dat/crc.h"
#include "test_util.h"

namespace quorvin {
namespace {

uint32_t Zlib(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

TEST(HashPoolTest, ResultsComeInListOrderThenStopAtAFileThatCannotBeRead) {
  test::TempDir dir;
  // Sizes around the read size make the joins between reads count.
  std::mt19937 rng(9);
  std::vector<std::string> paths, contents;
  for (size_t size : {0, 1, 100, 262143, 262144, 262145, 3 * 262144 + 17, 5}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    paths.push_back(dir / ("f" + std::to_string(paths.size())));
    test::WriteFile(paths.back(), bytes);
    contents.push_back(bytes);
  }
  for (size_t threads : {1, 2, 5}) {
    std::vector<std::string> list = paths;
    list.insert(list.begin() + 3, dir / "gone");
    ParallelHasher hasher(list, threads);
    for (size_t i = 0; i < 3; ++i) {
      ParallelHasher::FileHash h = hasher.Next();
      ASSERT_TRUE(h.status.ok()) << h.status.message();
      EXPECT_EQ(h.size, contents[i].size());
      EXPECT_EQ(h.crc, Zlib(contents[i])) << i;
    }
    ParallelHasher::FileHash err = hasher.Next();
    EXPECT_EQ(err.status.kind(), ErrorKind::kNotFound);
    EXPECT_EQ(err.status.message(), "The file " + dir / "gone" + " no longer exists");
    for (size_t i = 3; i < contents.size(); ++i) {
      ParallelHasher::FileHash h = hasher.Next();
      ASSERT_TRUE(h.status.ok());
      EXPECT_EQ(h.size, contents[i].size());
      EXPECT_EQ(h.crc, Zlib(contents[i])) << i;
    }
  }
}

TEST(HashPoolTest, ManyMoreFilesThanTheWorkersMayRunAheadStayInOrder) {
  test::TempDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 300; ++i) {
    paths.push_back(dir / ("f" + std::to_string(i)));
    test::WriteFile(paths.back(), std::string(static_cast<size_t>(i * 37 % 5000), char(i)));
  }
  ParallelHasher hasher(paths, 3);
  for (int i = 0; i < 300; ++i) {
    ParallelHasher::FileHash h = hasher.Next();
    ASSERT_EQ(h.size, static_cast<uint64_t>(i * 37 % 5000)) << i;
    ASSERT_EQ(h.crc, Zlib(std::string(h.size, char(i)))) << i;
  }
}

TEST(HashPoolTest, KeepsTheFirstBytesOfEachFileWhenAsked) {
  test::TempDir dir;
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  test::WriteFile(dir / "big", big);
  test::WriteFile(dir / "short", "NES\x1a");
  test::WriteFile(dir / "empty", "");
  ParallelHasher hasher({dir / "big", dir / "short", dir / "empty"}, 2, 528);
  EXPECT_EQ(hasher.Next().head, big.substr(0, 528));
  EXPECT_EQ(hasher.Next().head, "NES\x1a");
  EXPECT_EQ(hasher.Next().head, "");
  ParallelHasher none({dir / "big"}, 1);
  EXPECT_EQ(none.Next().head, "");
}

TEST(HashPoolTest, AFolderInTheListIsAReadError) {
  test::TempDir dir;
  test::MakeDir(dir / "sub");
  ParallelHasher hasher({dir / "sub"}, 2);
  ParallelHasher::FileHash h = hasher.Next();
  EXPECT_EQ(h.status.kind(), ErrorKind::kIo);
  EXPECT_NE(h.status.message().find(dir / "sub"), std::string::npos);
}

TEST(HashPoolTest, StopsCleanlyWhenDroppedHalfWay) {
  test::TempDir dir;
  test::WriteFile(dir / "a", std::string(5 << 20, 'x'));
  for (int i = 0; i < 20; ++i) {
    std::vector<std::string> list(200, dir / "a");
    ParallelHasher hasher(list, 2);
    hasher.Next();
  }
  ParallelHasher nothing({}, 4);
}

#if !defined(_WIN32)
// Only regular files are read: a named pipe with no writer, or a link to a device, would make
// the open or the reads wait for good (or never end). Each is refused at once, naming it, and
// the files around it are read as usual.
TEST(HashPoolTest, PipesAndDevicesAreRefusedWithoutWaiting) {
  test::TempDir dir;
  const std::string fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir / "zero").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/null", (dir / "null").c_str()), 0);
  test::MakeDir(dir / "folder");
  test::WriteFile(dir / "a", "abc");
  const std::vector<std::string> list = {dir / "a",    fifo,           dir / "zero",
                                         dir / "null", dir / "folder", dir / "a"};
  const char* kinds[] = {nullptr, "a named pipe", "a device", "a device", "a folder", nullptr};
  ParallelHasher hasher(list, 2);
  for (size_t i = 0; i < list.size(); ++i) {
    ParallelHasher::FileHash h = hasher.Next();
    if (kinds[i] == nullptr) {
      ASSERT_TRUE(h.status.ok()) << h.status.message();
      EXPECT_EQ(h.crc, 0x352441C2u);
      continue;
    }
    EXPECT_EQ(h.status.kind(), ErrorKind::kIo) << list[i];
    EXPECT_EQ(h.status.message(),
              "Cannot read " + list[i] + ": it is " + kinds[i] + ", not a regular file");
  }
}
#endif

TEST(HashPoolTest, ThreadCountSetting) {
  EXPECT_EQ(*HashThreadCount(nullptr, 2), 2u);
  EXPECT_EQ(*HashThreadCount("", 0), 1u);
  EXPECT_EQ(*HashThreadCount(nullptr, 1000), kMaxHashThreads);
  EXPECT_EQ(*HashThreadCount("1", 8), 1u);
  EXPECT_EQ(*HashThreadCount("64", 2), 64u);
  for (const char* bad : {"0", "65", "-1", "2x", " 2", "many"}) {
    auto n = HashThreadCount(bad, 2);
    ASSERT_FALSE(n.ok()) << bad;
    EXPECT_EQ(n.status().message(), "QUORVIN_THREADS must be a whole number from 1 to 64, not \"" +
                                        std::string(bad) + "\"");
  }
}

}  // namespace
}  // namespace quorvin
