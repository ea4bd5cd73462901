// The CRC cache as the scan and a run use it.

#include <gtest/gtest.h>
#include <zlib.h>

#include "cache/hash_cache.h"
#include "dat/hash_pool.h"
#include "dat/rom_header.h"
#include "dat/scan.h"
#include "dumps.h"
#include "platform/fileops.h"
#include "test_util.h"

namespace quorvin {
namespace {

uint32_t Zlib(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Tests make their files a moment before they read them; a window of 0 lets them be recorded.
HashCacheOptions NoRacyWindow() {
  HashCacheOptions o;
  o.racy_window_ns = 0;
  return o;
}

CacheKey KeyOf(const std::string& path) {
  auto f = InputFile::Open(path);
  EXPECT_TRUE(f.ok());
  auto id = f->Identity();
  EXPECT_TRUE(id.ok());
  return CacheKey{path, *id};
}

// Puts a record of the file's present state that no read of it could give: a result with it
// shows that the file was not read.
void ForgeRecord(HashCache& cache, const std::string& path, uint32_t crc) {
  const CacheKey key = KeyOf(path);
  CachedHash v;
  v.size = key.identity.size;
  v.crc = crc;
  v.head = test::ReadFile(path).substr(0, kRomHeadBytes);
  cache.Record(key, key.identity, v, NowNs());
}

TEST(ScanCacheTest, IdentityComesFromTheOpenFileAndChangesWithItsContent) {
  test::TempDir dir;
  test::WriteFile(dir / "a", "abc");
  test::WriteFile(dir / "b", "abc");
  const CacheKey a = KeyOf(dir / "a");
  EXPECT_EQ(a.identity.size, 3u);
  EXPECT_EQ(KeyOf(dir / "a").identity, a.identity);
  EXPECT_NE(KeyOf(dir / "b").identity.file_id, a.identity.file_id);
  EXPECT_GT(a.identity.mtime_ns, int64_t{1600000000} * 1000000000);
  test::WriteFile(dir / "a", "abd");  // same size, new bytes
  EXPECT_NE(KeyOf(dir / "a").identity, a.identity);
}

TEST(ScanCacheTest, AHitIsNotReadAMissIsReadAndRecordedAndRehashReadsEverything) {
  test::TempDir dir;
  std::vector<std::string> paths, bytes;
  for (int i = 0; i < 40; ++i) {
    paths.push_back(dir / ("f" + std::to_string(i)));
    bytes.push_back(std::string(static_cast<size_t>(i) * 97, static_cast<char>('a' + i % 26)));
    test::WriteFile(paths.back(), bytes.back());
  }
  // Every even file has a forged record, made by an earlier run. The first pass takes them;
  // the rehash reads every file and records the truth, which the last pass then finds for
  // every file.
  auto c2 = OpenHashCache(dir / "crccache.db", NoRacyWindow());
  for (size_t i = 0; i < paths.size(); i += 2) ForgeRecord(*c2, paths[i], 0xF0F0F0F0u);
  c2->Finish();
  c2 = OpenHashCache(dir / "crccache.db", NoRacyWindow());
  {
    ParallelHasher hasher(paths, 3, kRomHeadBytes, HashCacheUse{c2.get(), false});
    for (size_t i = 0; i < paths.size(); ++i) {
      ParallelHasher::FileHash h = hasher.Next();
      EXPECT_EQ(h.from_cache, i % 2 == 0) << i;
      EXPECT_EQ(h.crc, i % 2 == 0 ? 0xF0F0F0F0u : Zlib(bytes[i])) << i;
    }
  }
  {
    ParallelHasher hasher(paths, 3, kRomHeadBytes, HashCacheUse{c2.get(), true});
    for (size_t i = 0; i < paths.size(); ++i) {
      ParallelHasher::FileHash h = hasher.Next();
      EXPECT_FALSE(h.from_cache);
      EXPECT_EQ(h.crc, Zlib(bytes[i])) << i;
    }
  }
  {
    ParallelHasher hasher(paths, 3, kRomHeadBytes, HashCacheUse{c2.get(), false});
    for (size_t i = 0; i < paths.size(); ++i) {
      ParallelHasher::FileHash h = hasher.Next();
      EXPECT_TRUE(h.from_cache) << i;
      EXPECT_EQ(h.crc, Zlib(bytes[i])) << i;
    }
  }
}

// What the lookup learns of a file (its candidates as a headerless or byte-swapped dump) is
// the same from the cache as from reading it: for every kind of dump, and for files that fit
// no rule, whose records keep none of their bytes.
TEST(ScanCacheTest, EveryKindOfDumpGivesTheLookupTheSameFromTheCache) {
  test::TempDir dir;
  std::vector<std::string> paths;
  for (const test::DumpKind& kind : test::EveryDumpKind()) {
    paths.push_back(dir / (kind.name + kind.extension));
    test::WriteFile(paths.back(), test::DumpOf(kind, test::CartridgeData(kind, 0x1234ABCD)));
  }
  paths.push_back(dir / "plain.bin");
  test::WriteFile(paths.back(), std::string(4004, 'q'));
  paths.push_back(dir / "short.bin");
  test::WriteFile(paths.back(), "NES");
  auto hash_all = [&] {  // one run
    auto cache = OpenHashCache(dir / "crccache.db", NoRacyWindow());
    std::vector<ParallelHasher::FileHash> out;
    {
      ParallelHasher h(paths, 2, kRomHeadBytes, HashCacheUse{cache.get(), false});
      for (size_t i = 0; i < paths.size(); ++i) out.push_back(h.Next());
    }
    cache->Finish();
    return out;
  };
  const auto read = hash_all();
  const auto cached = hash_all();
  for (size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    const ParallelHasher::FileHash& was = read[i];
    const ParallelHasher::FileHash& now = cached[i];
    EXPECT_FALSE(was.from_cache);
    EXPECT_TRUE(now.from_cache);
    EXPECT_EQ(now.crc, was.crc);
    EXPECT_EQ(now.swapped_crc, was.swapped_crc);
    const auto candidates = HeaderlessCandidates(was.head, was.size, was.crc, was.swapped_crc);
    EXPECT_EQ(candidates.empty(), i + 2 >= paths.size());
    EXPECT_EQ(HeaderlessCandidates(now.head, now.size, now.crc, now.swapped_crc), candidates);
  }
}

TEST(ScanCacheTest, AFileChangedSinceItsRecordIsReadAgain) {
  test::TempDir dir;
  test::WriteFile(dir / "a.nes", "first");
  auto cache = OpenHashCache(dir / "crccache.db", NoRacyWindow());
  {
    ParallelHasher h({dir / "a.nes"}, 1, 0, HashCacheUse{cache.get(), false});
    EXPECT_FALSE(h.Next().from_cache);
  }
  test::WriteFile(dir / "a.nes", "secnd");  // the same size
  ParallelHasher h({dir / "a.nes"}, 1, 0, HashCacheUse{cache.get(), false});
  ParallelHasher::FileHash r = h.Next();
  EXPECT_FALSE(r.from_cache);
  EXPECT_EQ(r.crc, Zlib("secnd"));
}

TEST(ScanCacheTest, FreshFilesAreNotRecordedWithTheUsualWindow) {
  test::TempDir dir;
  test::WriteFile(dir / "a.nes", "fresh");
  auto cache = OpenHashCache(dir / "crccache.db");
  for (int pass = 0; pass < 2; ++pass) {
    ParallelHasher h({dir / "a.nes"}, 1, 0, HashCacheUse{cache.get(), false});
    EXPECT_FALSE(h.Next().from_cache) << pass;
  }
}

TEST(ScanCacheTest, TheDatIsTheSameWithAndWithoutTheCacheAndItsWarningsAreReported) {
  test::TempDir dir;
  test::MakeDir(dir / "roms");
  for (int i = 0; i < 30; ++i) {
    test::WriteFile(dir / ("roms/Game " + std::to_string(i) + ".nes"),
                    std::string("NES\x1a", 4) + std::string(static_cast<size_t>(i) * 50, 'x'));
  }
  const DatScanInput input{"nes", "NES", "me", dir / "roms", ".nes"};
  test::RecordingReporter rep;
  HeaderlessCrcs plain_headerless;
  ASSERT_TRUE(MakeDat(input, dir / "plain.dat", rep, &plain_headerless).ok());
  // A damaged cache file: one warning, the same dat, then the cache serves the next scans.
  test::WriteFile(dir / "crccache.db", "not a database");
  for (int pass = 0; pass < 3; ++pass) {
    auto cache = OpenHashCache(dir / "crccache.db", NoRacyWindow());
    HeaderlessCrcs headerless;
    ASSERT_TRUE(MakeDat(input, dir / "cached.dat", rep, &headerless, nullptr,
                        HashCacheUse{cache.get(), pass == 2})
                    .ok());
    cache->Finish();
    for (const std::string& w : cache->TakeWarnings()) rep.Warning(w);
    EXPECT_EQ(test::ReadFile(dir / "cached.dat"), test::ReadFile(dir / "plain.dat")) << pass;
    // What the lookup learns of headered files comes back from the cache as well.
    EXPECT_EQ(headerless.size(), plain_headerless.size());
    const std::string game3 = test::ReadFile(dir / "roms/Game 3.nes");
    const uint32_t whole = Zlib(game3);
    auto cached_after = headerless.Find(whole, game3.size());
    auto plain_after = plain_headerless.Find(whole, game3.size());
    ASSERT_EQ(cached_after.size(), 1u);
    ASSERT_EQ(plain_after.size(), 1u);
    EXPECT_EQ(cached_after[0].crc, plain_after[0].crc);
    EXPECT_EQ(cached_after[0].size, plain_after[0].size);
    EXPECT_EQ(rep.warnings.size(), 1u) << pass;
  }
  ASSERT_EQ(rep.warnings.size(), 1u);
  EXPECT_TRUE(test::Contains(rep.warnings[0], "was damaged")) << rep.warnings[0];
}

class RunCacheTest : public ::testing::Test, public test::RunFolders {
 protected:
  RunCacheTest() {
    runner.settings.txtExtension = "nes";
    runner.settings.cmbHName.text = "nes";
    runner.settings.chkCvtRoms = 0;
  }
};

TEST_F(RunCacheTest, ARunKeepsTheCacheInTheProgramFolderAndRehashIgnoresIt) {
  runner.cache_options = NoRacyWindow();
  test::WriteFile(dir / "roms/Alpha.nes", "abc");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(runner.CachePath(), test::OsPath(dir / "home/crccache.db"));
  EXPECT_TRUE(test::Exists(runner.CachePath()));
  const std::string dat = test::ReadFile(dir / "out.dat");
  EXPECT_TRUE(test::Contains(dat, "crc 352441C2")) << dat;
  {
    // A record no read could give: the next run takes it, a rehash does not.
    auto cache = OpenHashCache(runner.CachePath(), NoRacyWindow());
    ForgeRecord(*cache, dir / "roms/Alpha.nes", 0xABCDEF);
    cache->Finish();
  }
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "out.dat"), "crc ABCDEF"));
  runner.Rehash = true;
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(test::ReadFile(dir / "out.dat"), dat);
  runner.Rehash = false;
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(test::ReadFile(dir / "out.dat"), dat);  // the rehash renewed the record
  EXPECT_EQ(runner.warnings(), 0u);
}

TEST_F(RunCacheTest, ADamagedCacheIsAWarningAndTheRunCompletesWithTheRightDat) {
  test::WriteFile(dir / "roms/Alpha.nes", "abc");
  test::WriteFile(dir / "home/crccache.db", std::string(5000, '\x5a'));
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(runner.warnings(), 1u);
  ASSERT_EQ(rep.warnings.size(), 1u);
  EXPECT_TRUE(test::Contains(rep.warnings[0], "crccache.db was damaged")) << rep.warnings[0];
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "out.dat"), "crc 352441C2"));
  rep.warnings.clear();
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(runner.warnings(), 0u);
}

}  // namespace
}  // namespace quorvin
