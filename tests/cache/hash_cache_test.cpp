#include "cache/hash_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "test_util.h"

namespace quorvin {
namespace {

constexpr int64_t kSecond = 1000 * 1000 * 1000;
// Times well before the records are made: never racy.
constexpr int64_t kLongAgo = int64_t{1600000000} * kSecond;
constexpr int64_t kTakenAt = kLongAgo + 3600 * kSecond;
constexpr int64_t kDay = 24 * 3600;
constexpr int64_t kRunTime = 1700000000;

CacheKey Key(std::string path, uint64_t size = 1000) {
  CacheKey k;
  k.path = std::move(path);
  k.identity = FileIdentity{7, 12345, size, kLongAgo, kLongAgo + 5};
  return k;
}

CachedHash Value(uint32_t crc, uint64_t size = 1000, std::string head = std::string(528, 'h')) {
  CachedHash v;
  v.size = size;
  v.crc = crc;
  v.head = std::move(head);
  return v;
}

HashCacheOptions At(int64_t now_seconds) {
  HashCacheOptions o;
  o.now_seconds = now_seconds;
  o.busy_timeout_ms = 100;
  return o;
}

void Record(HashCache& c, const CacheKey& k, const CachedHash& v) {
  c.Record(k, k.identity, v, kTakenAt);
}

class HashCacheTest : public ::testing::Test {
 protected:
  std::string path() const { return dir / "crccache.db"; }
  std::unique_ptr<HashCache> Open(int64_t now = kRunTime) { return OpenHashCache(path(), At(now)); }
  test::TempDir dir;
};

TEST_F(HashCacheTest, RecordsComeBackAfterReopeningWithHeadAndExtraChecksums) {
  CachedHash v = Value(0xDEADBEEF, 1000, std::string("\0\x01NES\x1a", 6) + std::string(522, 'x'));
  v.extra = {{"n64-swapped", 0x12345678}, {"after_header", 0}};
  {
    auto c = Open();
    EXPECT_TRUE(c->usable());
    bool asked = false;
    EXPECT_FALSE(c->FindCurrent("/roms/a.nes", 528, [&] {
      asked = true;
      return std::optional<FileIdentity>(Key("/roms/a.nes").identity);
    }));
    EXPECT_FALSE(asked);  // an empty cache asks nothing of the file
    EXPECT_FALSE(c->Find(Key("/roms/a.nes"), 528));
    Record(*c, Key("/roms/a.nes"), v);
    Record(*c, Key("/roms/empty.nes", 0), Value(0, 0, ""));
    EXPECT_EQ(c->Find(Key("/roms/a.nes"), 528), v);  // found within the run
    c->Finish();
    EXPECT_FALSE(c->Find(Key("/roms/a.nes"), 528));  // nothing after Finish
    EXPECT_TRUE(c->TakeWarnings().empty());
  }
  auto c = Open();
  EXPECT_EQ(c->Find(Key("/roms/a.nes"), 528), v);
  EXPECT_EQ(c->Find(Key("/roms/empty.nes", 0), 528), Value(0, 0, ""));
  // The scan's single lookup asks for the file's identity only when a record could serve.
  int asked = 0;
  auto now = [&asked](std::optional<FileIdentity> id) {
    return [&asked, id] {
      ++asked;
      return id;
    };
  };
  EXPECT_EQ(c->FindCurrent("/roms/a.nes", 528, now(Key("/roms/a.nes").identity)), v);
  EXPECT_FALSE(c->FindCurrent("/roms/b.nes", 0, now(Key("/roms/b.nes").identity)));
  EXPECT_FALSE(c->FindCurrent("/other/a.nes", 0, now(Key("/other/a.nes").identity)));
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(c->FindCurrent("/roms/a.nes", 0, now(Key("/roms/a.nes", 999).identity)));
  EXPECT_FALSE(c->FindCurrent("/roms/a.nes", 0, now(std::nullopt)));  // gone since listed
  EXPECT_EQ(asked, 3);
  EXPECT_TRUE(c->TakeWarnings().empty());
}

TEST_F(HashCacheTest, AnyChangeOfPathIdentitySizeOrTimesIsAMiss) {
  auto c = Open();
  Record(*c, Key("/roms/a.nes"), Value(1));
  struct Case {
    const char* what;
    void (*change)(CacheKey&);
  } cases[] = {
      {"path", [](CacheKey& k) { k.path = "/roms/b.nes"; }},
      {"path case", [](CacheKey& k) { k.path = "/roms/A.nes"; }},
      {"device", [](CacheKey& k) { k.identity.device++; }},
      {"file number", [](CacheKey& k) { k.identity.file_id++; }},
      {"size", [](CacheKey& k) { k.identity.size--; }},
      {"mtime", [](CacheKey& k) { k.identity.mtime_ns++; }},
      {"ctime", [](CacheKey& k) { k.identity.ctime_ns++; }},
  };
  for (const Case& cs : cases) {
    CacheKey k = Key("/roms/a.nes");
    cs.change(k);
    EXPECT_FALSE(c->Find(k, 0)) << cs.what;
  }
  EXPECT_TRUE(c->Find(Key("/roms/a.nes"), 0));
}

TEST_F(HashCacheTest, FilesThatChangedOrMayStillChangeAreNotRecorded) {
  auto c = Open();
  const CacheKey k = Key("/roms/a.nes");
  struct Case {
    const char* what;
    FileIdentity after;
    uint64_t bytes_read;
    int64_t taken_at;
    bool recorded;
  } cases[] = {
      {"unchanged, old", k.identity, 1000, kTakenAt, true},
      {"written during the read",
       {7, 12345, 1000, kLongAgo + kSecond, kLongAgo + kSecond},
       1000,
       kTakenAt,
       false},
      {"grown during the read", {7, 12345, 1001, kLongAgo, kLongAgo + 5}, 1000, kTakenAt, false},
      {"read short of its size", k.identity, 999, kTakenAt, false},
      {"changed within the window", k.identity, 1000, kLongAgo + kSecond, false},
      {"changed at the moment", k.identity, 1000, kLongAgo + 5, false},
      {"times in the future", k.identity, 1000, kLongAgo - 100 * kSecond, false},
      {"just outside the window", k.identity, 1000, kLongAgo + 5 + kRacyWindowNs + 1, true},
  };
  for (const Case& cs : cases) {
    CacheKey key = k;
    key.path = std::string("/roms/") + cs.what;
    c->Record(key, cs.after, Value(9, cs.bytes_read), cs.taken_at);
    EXPECT_EQ(c->Find(key, 0).has_value(), cs.recorded) << cs.what;
  }
  // A racy time is the later of the two: a status change alone (chmod, a hard link) counts.
  FileIdentity id = k.identity;
  id.ctime_ns = kTakenAt;
  EXPECT_TRUE(IsRacy(id, kTakenAt));
  id.ctime_ns = kLongAgo;
  id.mtime_ns = kTakenAt - kRacyWindowNs + 1;
  EXPECT_TRUE(IsRacy(id, kTakenAt));
  id.mtime_ns = kTakenAt - kRacyWindowNs - 1;
  EXPECT_FALSE(IsRacy(id, kTakenAt));
}

TEST_F(HashCacheTest, ARecordServesOnlyWhenItKeptEnoughOfTheFilesHead) {
  auto c = Open();
  Record(*c, Key("/a", 1000), Value(1, 1000, ""));                      // kept no head
  Record(*c, Key("/b", 1000), Value(2, 1000, std::string(16, 'b')));    // kept 16 bytes
  Record(*c, Key("/c", 10), Value(3, 10, std::string(10, 'c')));        // the whole file
  Record(*c, Key("/d", 1000), Value(4, 1000, std::string(1001, 'd')));  // more than the file
  EXPECT_TRUE(c->Find(Key("/a", 1000), 0));
  EXPECT_FALSE(c->Find(Key("/a", 1000), 528));
  EXPECT_TRUE(c->Find(Key("/b", 1000), 16));
  EXPECT_FALSE(c->Find(Key("/b", 1000), 17));
  EXPECT_TRUE(c->Find(Key("/c", 10), 528));
  EXPECT_FALSE(c->Find(Key("/d", 1000), 0));
}

TEST_F(HashCacheTest, RecordsNotSeenForSixtyDaysArePrunedAndAFindKeepsOneAlive) {
  {
    auto c = Open(kRunTime);
    Record(*c, Key("/old"), Value(1));
    Record(*c, Key("/kept"), Value(2));
    c->Finish();
  }
  {
    auto c = Open(kRunTime + 30 * kDay);  // this run finds one of them
    EXPECT_TRUE(c->Find(Key("/kept"), 0));
    c->Finish();
  }
  {
    auto c = Open(kRunTime + 61 * kDay);
    c->Finish();
  }
  auto c = Open(kRunTime + 61 * kDay);
  EXPECT_FALSE(c->Find(Key("/old"), 0));
  EXPECT_TRUE(c->Find(Key("/kept"), 0));
}

// Looking for old records reads every record, so it is done at most once a day.
TEST_F(HashCacheTest, OldRecordsAreLookedForAtMostOnceADay) {
  const int64_t hour = 3600;
  for (int64_t at : {int64_t{0}, 60 * kDay - hour, 60 * kDay + hour}) {
    auto c = Open(kRunTime + at);
    if (at == 0) Record(*c, Key("/old"), Value(1));
    c->Finish();
  }
  // Unseen for more than 60 days, but the last look was two hours ago.
  EXPECT_TRUE(Open(kRunTime + 60 * kDay + hour)->Find(Key("/old"), 0));
}

TEST_F(HashCacheTest, ARunThatEndsWithoutFinishKeepsItsCommittedTransactions) {
  HashCacheOptions o = At(kRunTime);
  o.records_per_transaction = 10;
  {
    auto c = OpenHashCache(path(), o);
    for (uint32_t i = 0; i < 25; ++i) Record(*c, Key("/f" + std::to_string(i)), Value(i));
    // Dropped without Finish, as a killed run leaves it: the last five are lost, no more.
  }
  auto c = Open();
  EXPECT_TRUE(c->TakeWarnings().empty());
  for (uint32_t i = 0; i < 25; ++i) {
    auto v = c->Find(Key("/f" + std::to_string(i)), 0);
    EXPECT_EQ(v.has_value(), i < 20) << i;
    if (v) {
      EXPECT_EQ(v->crc, i);
    }
  }
}

TEST_F(HashCacheTest, ManyThreadsFindAndRecordAtOnce) {
  auto c = Open();
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (uint32_t i = 0; i < 300; ++i) {
        const CacheKey k = Key("/t" + std::to_string(t) + "/" + std::to_string(i));
        Record(*c, k, Value(i * 4 + static_cast<uint32_t>(t)));
        auto v = c->Find(k, 528);
        if (!v || v->crc != i * 4 + static_cast<uint32_t>(t)) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
  c->Finish();
  EXPECT_TRUE(c->TakeWarnings().empty());
}

// ---- The file damaged, cut short, someone else's, of another layout, locked ----

// Runs SQL on a database file as another program would.
void Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

// A cache of `n` records, finished and closed.
void MakeCache(const std::string& path, uint32_t n) {
  auto c = OpenHashCache(path, At(kRunTime));
  for (uint32_t i = 0; i < n; ++i) Record(*c, Key("/f" + std::to_string(i)), Value(i * 7 + 1));
  c->Finish();
}

// Every record comes back right or not at all; never another file's CRC.
int CountFound(HashCache& c, uint32_t n, int* wrong) {
  int found = 0;
  for (uint32_t i = 0; i < n; ++i) {
    auto v = c.Find(Key("/f" + std::to_string(i)), 528);
    if (!v) continue;
    ++found;
    if (v->crc != i * 7 + 1 || v->head != std::string(528, 'h')) ++*wrong;
  }
  return found;
}

TEST_F(HashCacheTest, AFileThatIsNoDatabaseIsMovedAsideAndMadeAnewWithOneWarning) {
  for (std::string_view bytes : {std::string_view("a text file, not a database\n"),
                                 std::string_view("SQLite format 3\0garbage", 24)}) {
    test::WriteFile(path(), bytes);
    auto c = Open();
    EXPECT_TRUE(c->usable());
    auto w = c->TakeWarnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_TRUE(test::Contains(w[0], "The CRC cache " + path() + " was damaged")) << w[0];
    EXPECT_EQ(test::ReadFile(path() + ".damaged"), bytes);
    Record(*c, Key("/a"), Value(5));
    EXPECT_EQ(c->Find(Key("/a"), 0)->crc, 5u);
    c->Finish();
    EXPECT_TRUE(c->TakeWarnings().empty());
  }
}

TEST_F(HashCacheTest, ACacheCutShortNeverGivesAWrongCrc) {
  constexpr uint32_t kN = 3000;
  MakeCache(path(), kN);
  const std::string whole = test::ReadFile(path());
  ASSERT_GT(whole.size(), 100000u);
  for (size_t keep : {whole.size() / 2, whole.size() - 4096, size_t{4096}, size_t{100}}) {
    test::WriteFile(path(), whole.substr(0, keep));
    (void)RemoveFile(path() + "-wal");
    auto c = Open();
    int wrong = 0;
    (void)CountFound(*c, kN, &wrong);
    EXPECT_EQ(wrong, 0) << keep;
    EXPECT_LE(c->TakeWarnings().size(), 2u);
    // Whatever it found, it is usable again at once.
    Record(*c, Key("/new"), Value(77));
    EXPECT_EQ(c->Find(Key("/new"), 0)->crc, 77u) << keep;
  }
}

TEST_F(HashCacheTest, DamagedBytesAnywhereNeverGiveAWrongCrc) {
  constexpr uint32_t kN = 400;
  MakeCache(path(), kN);
  const std::string whole = test::ReadFile(path());
  size_t warned_runs = 0;
  // Every 1999th byte in turn, with its bits flipped: page headers, cell pointers, keys,
  // values and free space all get hit.
  for (size_t at = 40; at < whole.size(); at += 1999) {
    std::string bytes = whole;
    bytes[at] = static_cast<char>(~bytes[at]);
    test::WriteFile(path(), bytes);
    (void)RemoveFile(path() + "-wal");
    (void)RemoveFile(path() + "-shm");
    auto c = Open();
    int wrong = 0;
    (void)CountFound(*c, kN, &wrong);
    EXPECT_EQ(wrong, 0) << "byte " << at;
    if (!c->TakeWarnings().empty()) ++warned_runs;
  }
  EXPECT_GT(warned_runs, 0u);
}

TEST_F(HashCacheTest, AnotherProgramsDatabaseIsLeftAloneAndBypassed) {
  Sql(path(), "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('mine')");
  const std::string before = test::ReadFile(path());
  auto c = Open();
  EXPECT_FALSE(c->usable());
  auto w = c->TakeWarnings();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], "The file " + path() +
                      " is not a CRC cache of this program: it was left alone, and every file "
                      "was read");
  Record(*c, Key("/a"), Value(5));
  EXPECT_FALSE(c->Find(Key("/a"), 0));
  c->Finish();
  c.reset();
  EXPECT_EQ(test::ReadFile(path()), before);
  EXPECT_FALSE(test::Exists(path() + ".damaged"));
}

TEST_F(HashCacheTest, AnOlderLayoutIsDroppedAndMadeAnewWithoutAWarning) {
  MakeCache(path(), 10);
  Sql(path(), "PRAGMA user_version = 999");
  auto c = Open();
  EXPECT_TRUE(c->usable());
  EXPECT_TRUE(c->TakeWarnings().empty());
  int wrong = 0;
  EXPECT_EQ(CountFound(*c, 10, &wrong), 0);
  Record(*c, Key("/f1"), Value(8));
  EXPECT_EQ(c->Find(Key("/f1"), 528)->crc, 8u);
}

TEST_F(HashCacheTest, ACacheAnotherRunIsWritingIsReadButNotWrittenAndWarnsOnce) {
  MakeCache(path(), 10);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    auto c = Open();
    int wrong = 0;
    EXPECT_EQ(CountFound(*c, 10, &wrong), 10);
    EXPECT_EQ(wrong, 0);
    Record(*c, Key("/new1"), Value(1));
    Record(*c, Key("/new2"), Value(2));
    EXPECT_FALSE(c->Find(Key("/new1"), 0));
    c->Finish();
    auto w = c->TakeWarnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_TRUE(test::Contains(w[0], "is in use by another run")) << w[0];
  }
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
}

TEST_F(HashCacheTest, ACacheLockedWhollyByAnotherProgramIsBypassed) {
  MakeCache(path(), 10);
  Sql(path(), "PRAGMA journal_mode = DELETE");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  {
    auto c = Open();
    EXPECT_FALSE(c->Find(Key("/f1"), 0));
    Record(*c, Key("/new"), Value(1));
    c->Finish();
    auto w = c->TakeWarnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_TRUE(test::Contains(w[0], "The CRC cache " + path())) << w[0];
  }
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  auto c = Open();
  int wrong = 0;
  EXPECT_EQ(CountFound(*c, 10, &wrong), 10);
  EXPECT_EQ(wrong, 0);
}

TEST_F(HashCacheTest, AFolderWhereTheFileShouldBeIsBypassed) {
  test::MakeDir(path());
  auto c = Open();
  EXPECT_FALSE(c->usable());
  ASSERT_EQ(c->TakeWarnings().size(), 1u);
  Record(*c, Key("/a"), Value(1));
  EXPECT_FALSE(c->Find(Key("/a"), 0));
  c->Finish();
}

}  // namespace
}  // namespace quorvin
