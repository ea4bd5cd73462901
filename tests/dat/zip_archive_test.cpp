// Reading zip archives: listing from the central directory, damaged archives, verifying.
#include "dat/zip_archive.h"

#include <gtest/gtest.h>

#include <atomic>

#include "cache/hash_cache.h"
#include "dat/crc.h"
#include "dat/crc_combine.h"
#include "dat/rom_header.h"
#include "dat/scan.h"
#include "platform/fileops.h"
#include "test_util.h"
#include "zip_maker.h"

// The archives are written with designated initializers that name only what differs from
// a plain stored member; GCC 12 warns about every field left to its default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorvin {
namespace {

using test::MakeZip;
using test::TempDir;
using test::WriteFile;
using test::ZipEntry;
using test::ZipLayout;

std::string Bytes(size_t n, uint32_t seed) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<char>(seed >> 16);
  }
  return out;
}

struct Listed {
  std::string name;
  uint64_t size;
  uint32_t crc;
};

std::vector<Listed> ListOf(ZipArchive& zip) {
  std::vector<Listed> out;
  for (const ZipMember& m : zip.members()) out.push_back({m.name, m.size, m.crc});
  return out;
}

// Well-formed archives in the layouts writers use: every one lists the same files.
TEST(ZipArchiveTest, ListsEveryLayoutFromItsDirectory) {
  const std::string a = Bytes(40000, 1), b = "hello", c;
  const std::vector<ZipEntry> files = {
      {.name = "sub/", .data = ""},  // a folder: not a member
      {.name = "prg rom.bin", .data = a, .deflate = true},
      {.name = "sub/b.txt", .data = b},
      {.name = "empty", .data = c},
  };
  struct Case {
    const char* what;
    ZipLayout layout;
  };
  const Case cases[] = {
      {"plain", {}},
      {"ZIP64", {.zip64 = true}},
      {"a comment", {.comment = "made by hand"}},
      {"data after the end", {.trailing = std::string(100, 'x')}},
      {"ZIP64 with a comment", {.zip64 = true, .comment = "z"}},
  };
  TempDir dir;
  // Small archives are read whole and parsed in memory, large ones (over 1 MiB) from the file.
  std::vector<ZipEntry> large = files;
  large.push_back({.name = "big.bin", .data = Bytes(1536 * 1024, 9)});
  for (const Case& c : cases) {
    WriteFile(dir / "big.zip", MakeZip(large, c.layout));
    auto big = ZipArchive::Open(dir / "big.zip");
    ASSERT_TRUE(big.ok()) << c.what << ", large: " << big.status().message();
    ASSERT_EQ(big->members().size(), 4u) << c.what;
    EXPECT_EQ(big->members()[3].crc, Crc32(large.back().data));
    WriteFile(dir / "t.zip", MakeZip(files, c.layout));
    auto zip = ZipArchive::Open(dir / "t.zip");
    ASSERT_TRUE(zip.ok()) << c.what << ": " << zip.status().message();
    auto listed = ListOf(*zip);
    ASSERT_EQ(listed.size(), 3u) << c.what;
    EXPECT_EQ(listed[0].name, "prg rom.bin");
    EXPECT_EQ(listed[0].size, 40000u);
    EXPECT_EQ(listed[0].crc, Crc32(a));
    EXPECT_EQ(listed[1].name, "sub/b.txt");
    EXPECT_EQ(listed[1].crc, Crc32(b));
    EXPECT_EQ(listed[2].size, 0u);
    EXPECT_EQ(listed[2].crc, 0u);
  }
}

// Each a Corrupt status that names the archive.
TEST(ZipArchiveTest, DamagedArchivesAreCorruptAndNamed) {
  const std::string good = MakeZip({{.name = "a.bin", .data = Bytes(1000, 2)},
                                    {.name = "b.bin", .data = Bytes(500, 3), .deflate = true}});
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"not a zip", "just some text, long enough to look for an end record in it"},
      {"empty file", ""},
      {"cut before its end", good.substr(0, good.size() - 30)},
      {"cut in half", good.substr(0, good.size() / 2)},
      {"front cut off", good.substr(100)},
      {"local name disagrees", MakeZip({{.name = "a.bin", .data = "abc", .local_name = "x.bin"}})},
      {"local CRC disagrees", MakeZip({{.name = "a.bin", .data = "abc", .local_crc = 0x1234}})},
      {"local name disagrees, data after the end",
       MakeZip({{.name = "a.bin", .data = "abc", .local_name = "x.bin"}}, {.trailing = "tail"})},
      {"two members of one name",
       MakeZip({{.name = "a.bin", .data = "abc"}, {.name = "a.bin", .data = "def"}})},
  };
  TempDir dir;
  for (const Case& c : cases) {
    // The same fault after 1.5 MiB of padding in front: read from the file, not in memory.
    for (const std::string& pad : {std::string(), std::string(1536 * 1024, 'p')}) {
      WriteFile(dir / "bad.zip", pad + c.bytes);
      auto zip = ZipArchive::Open(dir / "bad.zip");
      ASSERT_FALSE(zip.ok()) << c.what << (pad.empty() ? "" : ", padded");
      EXPECT_EQ(zip.status().kind(), ErrorKind::kCorrupt) << c.what;
      EXPECT_TRUE(test::Contains(zip.status().message(), dir / "bad.zip")) << c.what;
    }
    WriteFile(dir / "bad.zip", c.bytes);
    auto zip = ZipArchive::Open(dir / "bad.zip");
    ASSERT_FALSE(zip.ok()) << c.what;
    EXPECT_EQ(zip.status().kind(), ErrorKind::kCorrupt) << c.what;
    EXPECT_TRUE(test::Contains(zip.status().message(), dir / "bad.zip")) << c.what;
  }
  EXPECT_EQ(ZipArchive::Open(dir / "none.zip").status().kind(), ErrorKind::kNotFound);
}

TEST(ZipArchiveTest, VerifyComparesTheDataWithTheDirectory) {
  const std::string data = Bytes(300000, 4);  // more than one buffer of the check
  struct Case {
    const char* what;
    ZipEntry entry;
    ZipMemberData::Outcome outcome;
  };
  const Case cases[] = {
      {"stored", {.name = "m", .data = data}, ZipMemberData::Outcome::kMatches},
      {"deflated", {.name = "m", .data = data, .deflate = true}, ZipMemberData::Outcome::kMatches},
      {"wrong CRC",
       {.name = "m", .data = data, .crc = 0xDEADBEEF},
       ZipMemberData::Outcome::kDiffers},
      {"inflates past its size",
       {.name = "m", .data = data, .deflate = true, .size = 1000},
       ZipMemberData::Outcome::kTooLong},
      {"encrypted", {.name = "m", .data = data, .flags = 1}, ZipMemberData::Outcome::kCannotCheck},
      {"unknown method",
       {.name = "m", .data = data, .method = 97},
       ZipMemberData::Outcome::kCannotCheck},
  };
  TempDir dir;
  std::vector<uint8_t> buffer(64 * 1024);
  for (const Case& c : cases) {
    WriteFile(dir / "t.zip", MakeZip({c.entry}));
    auto zip = ZipArchive::Open(dir / "t.zip");
    ASSERT_TRUE(zip.ok()) << c.what << ": " << zip.status().message();
    ASSERT_EQ(zip->members().size(), 1u);
    const ZipMember& m = zip->members()[0];
    ZipMemberData got = zip->Verify(m, buffer.data(), buffer.size());
    EXPECT_EQ(static_cast<int>(got.outcome), static_cast<int>(c.outcome)) << c.what;
    if (c.outcome == ZipMemberData::Outcome::kMatches ||
        c.outcome == ZipMemberData::Outcome::kDiffers) {
      EXPECT_EQ(got.crc, Crc32(data)) << c.what;  // the data as read
      EXPECT_EQ(got.size, data.size()) << c.what;
    }
    if (c.outcome == ZipMemberData::Outcome::kTooLong) {
      EXPECT_LE(got.size, 1000u + buffer.size()) << "reading stops at the declared size";
    }
    if (c.outcome == ZipMemberData::Outcome::kCannotCheck) {
      EXPECT_FALSE(got.why.empty());
    }
  }
}

// The header of a lone member is inflated, nothing more; the CRC after it follows from the
// member's stored CRC.
TEST(ZipArchiveTest, HeadReadsOnlyTheFirstBytes) {
  const std::string body = Bytes(50000, 5);
  const std::string nes = std::string("NES\x1A\x02\x01\x00\x00", 8) + std::string(8, '\0') + body;
  TempDir dir;
  WriteFile(dir / "t.zip", MakeZip({{.name = "game.nes", .data = nes, .deflate = true}}));
  auto zip = ZipArchive::Open(dir / "t.zip");
  ASSERT_TRUE(zip.ok());
  const ZipMember& m = zip->members()[0];
  auto head = zip->ReadHead(m, 16);
  ASSERT_TRUE(head.ok());
  EXPECT_EQ(*head, nes.substr(0, 16));
  HeaderlessCrcs crcs;
  crcs.Note(*head, m.size, m.crc);
  auto after = crcs.Find(m.crc, m.size);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].crc, Crc32(body));
  EXPECT_EQ(after[0].size, body.size());
}

// The scan of a folder of archives: one game per archive, one rom line per member.
class ZipScanTest : public ::testing::Test {
 protected:
  DatScanInput Input(bool verify = false) {
    return {"nes", "NES", "me", dir / "roms", ".zip", verify};
  }
  std::string Games() {
    std::string dat = test::ReadFile(dir / "t.dat");
    return dat.substr(dat.find("game ("));
  }
  TempDir dir;
  test::RecordingReporter rep;
};

TEST_F(ZipScanTest, EveryArchiveIsAGameAndEveryMemberARomLine) {
  test::MakeDir(dir / "roms");
  WriteFile(dir / "roms/b game.ZIP", MakeZip({{.name = "x/", .data = ""},
                                              {.name = "x/prg.bin", .data = "abc", .deflate = true},
                                              {.name = "with \"quote\".bin", .data = "ae"}}));
  WriteFile(dir / "roms/a.zip", MakeZip({}));  // empty: a game without roms
  WriteFile(dir / "roms/c.zip", "not a zip at all");
  WriteFile(dir / "roms/d.zip",
            MakeZip({{.name = "line\nbreak", .data = "1"}, {.name = "ok", .data = ""}}));
  WriteFile(dir / "roms/skip.nes", "abc");
  std::vector<std::string> held;
  ASSERT_TRUE(MakeDat(Input(), dir / "t.dat", rep, nullptr, nullptr, HashCacheUse(), &held).ok());
  EXPECT_EQ(Games(),
            "game (\r\n\tname a\r\n\tdescription \"a\"\r\n)\r\n\r\n"
            "game (\r\n\tname \"b game\"\r\n\tdescription \"b game\"\r\n"
            "\trom ( name x/prg.bin size 3 crc 352441C2 )\r\n"
            // Member names are written dat-safe, as file names are: no double quotes.
            "\trom ( name \"with quote.bin\" size 2 crc E7DDCE )\r\n)\r\n\r\n"
            "game (\r\n\tname d\r\n\tdescription \"d\"\r\n"
            "\trom ( name ok size 0 crc 0 )\r\n)\r\n\r\n");
  ASSERT_EQ(rep.warnings.size(), 2u);
  EXPECT_TRUE(test::Contains(rep.warnings[0], dir / "roms/c.zip"));
  EXPECT_TRUE(test::Contains(rep.warnings[1], dir / "roms/d.zip"));
  EXPECT_EQ(held, (std::vector<std::string>{"c", "d"}));
}

// A member's path is only a name: nothing is extracted, nothing is made outside the folder.
TEST_F(ZipScanTest, MemberPathsLeavingTheFolderAreOnlyNames) {
  test::MakeDir(dir / "roms");
  WriteFile(dir / "roms/paths.zip", MakeZip({{.name = "../../up.bin", .data = "abc"},
                                             {.name = "C:/Windows/x.bin", .data = "ae"},
                                             {.name = "/abs.bin", .data = ""}}));
  ASSERT_TRUE(MakeDat(Input(true), dir / "t.dat", rep).ok());
  EXPECT_EQ(Games(),
            "game (\r\n\tname paths\r\n\tdescription \"paths\"\r\n"
            "\trom ( name ../../up.bin size 3 crc 352441C2 )\r\n"
            "\trom ( name C:/Windows/x.bin size 2 crc E7DDCE )\r\n"
            "\trom ( name /abs.bin size 0 crc 0 )\r\n)\r\n\r\n");
  EXPECT_TRUE(rep.warnings.empty());
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"roms", "t.dat"}));
  EXPECT_EQ(test::FolderEntries(dir / "roms"), (std::vector<std::string>{"paths.zip"}));
}

TEST_F(ZipScanTest, VerifyListsTheDataAsReadAndHoldsTheArchiveBack) {
  test::MakeDir(dir / "roms");
  WriteFile(dir / "roms/good.zip", MakeZip({{.name = "m", .data = "abc", .deflate = true}}));
  WriteFile(dir / "roms/lying.zip", MakeZip({{.name = "m", .data = "abc", .crc = 0x12345678}}));
  WriteFile(dir / "roms/locked.zip", MakeZip({{.name = "m", .data = "abc", .flags = 1}}));
  // Without the check the directory is believed, and nothing is said.
  ASSERT_TRUE(MakeDat(Input(), dir / "t.dat", rep).ok());
  EXPECT_TRUE(test::Contains(Games(), "crc 12345678 )"));
  EXPECT_TRUE(rep.warnings.empty());
  std::vector<std::string> held;
  ASSERT_TRUE(
      MakeDat(Input(true), dir / "t.dat", rep, nullptr, nullptr, HashCacheUse(), &held).ok());
  EXPECT_TRUE(test::Contains(Games(),
                             "name lying\r\n\tdescription \"lying\"\r\n"
                             "\trom ( name m size 3 crc 352441C2 )"));
  ASSERT_EQ(rep.warnings.size(), 2u);
  EXPECT_TRUE(test::Contains(rep.warnings[0], "\"m\" of " + dir / "roms/locked.zip"));
  EXPECT_TRUE(test::Contains(rep.warnings[0], "encrypted"));
  EXPECT_TRUE(test::Contains(rep.warnings[1], "\"m\" of " + dir / "roms/lying.zip"));
  EXPECT_EQ(held, (std::vector<std::string>{"locked", "lying"}));
}

TEST_F(ZipScanTest, LoneHeaderedMemberIsNotedWithTheCrcAfterItsHeader) {
  test::MakeDir(dir / "roms");
  const std::string body = Bytes(24576, 6);
  const std::string header = std::string("NES\x1A\x01\x01", 6) + std::string(10, '\0');
  WriteFile(dir / "roms/one.zip", MakeZip({{.name = "one.nes", .data = header + body}}));
  WriteFile(dir / "roms/two.zip", MakeZip({{.name = "a.nes", .data = header + body},
                                           {.name = "b.nes", .data = header + "x"}}));
  HeaderlessCrcs crcs;
  ASSERT_TRUE(MakeDat(Input(), dir / "t.dat", rep, &crcs).ok());
  ASSERT_EQ(crcs.size(), 1u);  // members of a larger archive are not looked at
  auto after = crcs.Find(Crc32(header + body), header.size() + body.size());
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].crc, Crc32(body));
}

// A cache that counts what the scan asks of the real one.
class CountingCache : public HashCache {
 public:
  explicit CountingCache(std::unique_ptr<HashCache> real) : real_(std::move(real)) {}
  std::optional<CachedHash> Find(const CacheKey& key, size_t head_bytes) override {
    auto hit = real_->Find(key, head_bytes);
    if (hit) ++hits;
    return hit;
  }
  std::optional<CachedHash> FindCurrent(const std::string& path, size_t head_bytes,
                                        const IdentityProbe& identify) override {
    auto hit = real_->FindCurrent(path, head_bytes, identify);
    if (hit) ++hits;
    return hit;
  }
  void Record(const CacheKey& key, const FileIdentity& after, const CachedHash& value,
              int64_t taken_at_ns) override {
    ++records;
    real_->Record(key, after, value, taken_at_ns);
  }
  void Finish() override { real_->Finish(); }
  std::vector<std::string> TakeWarnings() override { return real_->TakeWarnings(); }
  bool usable() const override { return real_->usable(); }
  std::atomic<int> hits{0}, records{0};

 private:
  std::unique_ptr<HashCache> real_;
};

// Listings come from the directory on every run. The check of the members is kept: an
// archive whose members all matched is not inflated again while it stays as it was. Every
// run, cached or not, gives the dat and the warnings of a run without a cache.
TEST_F(ZipScanTest, OnlyArchivesWhoseMembersAllMatchedAreRecordedAndSkipTheirCheckAfterwards) {
  test::MakeDir(dir / "roms");
  const std::string good = MakeZip({{.name = "m", .data = "abc"}});
  const std::string lying = MakeZip({{.name = "m", .data = "abc", .crc = 0x12345678}});
  WriteFile(dir / "roms/good.zip", good);
  WriteFile(dir / "roms/lying.zip", lying);
  HashCacheOptions options;
  options.racy_window_ns = 0;
  auto run = [&](bool verify, HashCacheUse cache, const std::string& dat) {
    rep.warnings.clear();
    std::vector<std::string> held;
    EXPECT_TRUE(MakeDat(Input(verify), dir / dat, rep, nullptr, nullptr, cache, &held).ok());
    return std::pair(rep.warnings, held);
  };
  const auto plain_listing = run(false, HashCacheUse(), "listing.dat");
  const auto plain_checked = run(true, HashCacheUse(), "checked.dat");
  ASSERT_EQ(plain_checked.first.size(), 1u);  // lying.zip

  struct Step {
    const char* what;
    bool verify, rehash;
    int hits, records;
  } steps[] = {
      {"listing only: the cache is not asked", false, false, 0, 0},
      {"first check: good.zip recorded", true, false, 0, 1},
      {"second check: good.zip not inflated", true, false, 1, 0},
      {"rehash: inflated and recorded afresh", true, true, 0, 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    CountingCache cache(OpenHashCache(dir / "crccache.db", options));
    ASSERT_TRUE(cache.usable());
    const auto got = run(step.verify, HashCacheUse{&cache, step.rehash}, "t.dat");
    cache.Finish();
    EXPECT_EQ(got, step.verify ? plain_checked : plain_listing);
    EXPECT_EQ(test::ReadFile(dir / "t.dat"),
              test::ReadFile(dir / (step.verify ? "checked.dat" : "listing.dat")));
    EXPECT_EQ(cache.hits, step.hits);
    EXPECT_EQ(cache.records, step.records);
  }
  // A record under an archive's name that no check gave (its listing's or a loose file's)
  // is never taken for one: good.zip is inflated and recorded again.
  for (const char* name : {"good.zip", "lying.zip"}) {
    auto cache = OpenHashCache(dir / "crccache.db", options);
    const std::string path = dir / (std::string("roms/") + name);
    auto id = RegularFileIdentity(path);
    ASSERT_TRUE(id.ok());
    cache->Record(CacheKey{path, *id}, *id, CachedHash{id->size, 0xDEADBEEF, {}, {}}, NowNs());
    cache->Finish();
  }
  {
    CountingCache cache(OpenHashCache(dir / "crccache.db", options));
    EXPECT_EQ(run(true, HashCacheUse{&cache, false}, "t.dat"), plain_checked);
    cache.Finish();
    EXPECT_EQ(test::ReadFile(dir / "t.dat"), test::ReadFile(dir / "checked.dat"));
    EXPECT_EQ(cache.records, 1);
  }
  // good.zip's bytes become lying.zip's (of the same size): its record no longer serves, and
  // the check finds the fault.
  ASSERT_EQ(good.size(), lying.size());
  WriteFile(dir / "roms/good.zip", lying);
  CountingCache cache(OpenHashCache(dir / "crccache.db", options));
  const auto got = run(true, HashCacheUse{&cache, false}, "t.dat");
  cache.Finish();
  ASSERT_EQ(got.first.size(), 2u);
  EXPECT_TRUE(test::Contains(got.first[0], dir / "roms/good.zip"));
  EXPECT_EQ(got.second, (std::vector<std::string>{"good", "lying"}));
}

}  // namespace
}  // namespace quorvin
