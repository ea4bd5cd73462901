#include "cache/hash_cache.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/fileops.h"
#include "platform/path.h"

namespace quorvin {

bool IsRacy(const FileIdentity& identity, int64_t taken_at_ns, int64_t window_ns) {
  const int64_t changed =
      identity.mtime_ns > identity.ctime_ns ? identity.mtime_ns : identity.ctime_ns;
  return changed >= taken_at_ns - window_ns;
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace {

// The file's layout. A file of another layout is dropped and made anew.
constexpr int kSchemaVersion = 3;
// Marks the database as ours ("QCRC"): a database of another program is never touched.
constexpr int kApplicationId = 0x51435243;

constexpr const char* kCreate =
    "CREATE TABLE files ("
    " path BLOB PRIMARY KEY NOT NULL,"
    " device INTEGER NOT NULL, file_id INTEGER NOT NULL, size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " crc INTEGER NOT NULL, head BLOB NOT NULL, extra BLOB NOT NULL,"
    " seen INTEGER NOT NULL, row_check INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE meta (key TEXT PRIMARY KEY NOT NULL, value INTEGER NOT NULL)";

// Old records are looked for at most this often: the search reads every record of every
// system's collection, which costs more than a run that finds everything in the cache.
constexpr int64_t kPruneEverySeconds = 24 * 3600;

// A seen time older than this is brought up to date when a run finds the record; younger
// ones are left, so that a run that finds everything writes almost nothing.
constexpr int64_t kTouchAfterSeconds = 24 * 3600;

// A 64-bit hash over every field of a record: a record whose bytes were damaged on the disk in
// a way SQLite does not notice (it keeps no checksums of its own) is read again, never
// trusted. Eight bytes a step: it runs for every record a run finds.
class RowCheck {
 public:
  void Add(std::string_view bytes) {
    AddNumber(bytes.size());
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, bytes.data() + i, 8);
      AddNumber(w);
    }
    uint64_t rest = 0;
    for (size_t k = 0; i < bytes.size(); ++i, ++k) {
      rest |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * k);
    }
    AddNumber(rest);
  }
  void AddNumber(uint64_t v) {
    h_ = (h_ ^ v) * 0x9E3779B97F4A7C15ull;
    h_ ^= h_ >> 29;
  }
  int64_t value() const { return static_cast<int64_t>(h_); }

 private:
  uint64_t h_ = 0xcbf29ce484222325ull;
};

int64_t CheckOf(std::string_view path, const FileIdentity& id, uint32_t crc, std::string_view head,
                std::string_view extra) {
  RowCheck c;
  c.Add(path);
  c.AddNumber(id.device);
  c.AddNumber(id.file_id);
  c.AddNumber(id.size);
  c.AddNumber(static_cast<uint64_t>(id.mtime_ns));
  c.AddNumber(static_cast<uint64_t>(id.ctime_ns));
  c.AddNumber(crc);
  c.Add(head);
  c.Add(extra);
  return c.value();
}

bool IsExtraName(std::string_view name) {
  if (name.empty()) return false;
  for (char ch : name) {
    const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                    (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
    if (!ok) return false;
  }
  return true;
}

// The extra checksums as stored: "name=XXXXXXXX\n" for each, in name order.
std::string EncodeExtra(const std::map<std::string, uint32_t>& extra) {
  std::string out;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const auto& [name, crc] : extra) {
    if (!IsExtraName(name)) continue;
    out.append(name);
    out.push_back('=');
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(crc >> shift) & 0xF]);
    out.push_back('\n');
  }
  return out;
}

bool DecodeExtra(std::string_view text, std::map<std::string, uint32_t>& out) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || line.size() != eq + 9) return false;
    std::string_view name = line.substr(0, eq);
    if (!IsExtraName(name)) return false;
    uint32_t v = 0;
    for (char ch : line.substr(eq + 1)) {
      uint32_t d;
      if (ch >= '0' && ch <= '9') {
        d = static_cast<uint32_t>(ch - '0');
      } else if (ch >= 'A' && ch <= 'F') {
        d = static_cast<uint32_t>(ch - 'A' + 10);
      } else {
        return false;
      }
      v = (v << 4) | d;
    }
    out.emplace(name, v);
  }
  return true;
}

std::string_view ColumnBlob(sqlite3_stmt* st, int i) {
  const void* p = sqlite3_column_blob(st, i);
  const int n = sqlite3_column_bytes(st, i);
  if (p == nullptr || n <= 0) return std::string_view();
  return std::string_view(static_cast<const char*>(p), static_cast<size_t>(n));
}

// Moves a damaged cache file aside (replacing an earlier one) with its journal files.
void MoveAside(const std::string& path) {
  (void)RenameReplacing(path, path + ".damaged");
  (void)RemoveFile(path + "-wal");
  (void)RemoveFile(path + "-shm");
  (void)RemoveFile(path + "-journal");
}

// What opening found.
enum class OpenOutcome { kOk, kDamaged, kForeign, kBusy, kFailed };

// Why the database file at `path` is shorter than its header says, or "" when it is not (or
// cannot be read: opening it will tell).
std::string CutShort(const std::string& path) {
  auto file = InputFile::Open(path);
  auto length = FileLength(path);
  if (!file.ok() || !length.ok()) return std::string();
  uint8_t h[100];
  size_t got = 0;
  while (got < sizeof h) {
    auto n = file->Read(h + got, sizeof h - got);
    if (!n.ok() || *n == 0) break;
    got += *n;
  }
  if (got < sizeof h) return "it is cut short";
  auto be = [&](size_t at, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | h[at + i];
    return v;
  };
  const uint64_t page = be(16, 2) == 1 ? 65536 : be(16, 2);
  // The page count is only kept up to date by writers that also set "valid for".
  if (be(92, 4) != be(24, 4)) return std::string();
  if (page * be(28, 4) > *length) return "it is cut short";
  return std::string();
}

// Bytes kept for as long as the cache is open, handed out in place: a folder of 20,000 files
// costs a few allocations rather than two or three per file.
class ByteArena {
 public:
  std::string_view Keep(std::string_view bytes) {
    if (bytes.empty()) return std::string_view();
    if (bytes.size() > left_) {
      const size_t size = std::max(kBlock, bytes.size());
      blocks_.push_back(std::make_unique<char[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
    }
    char* at = next_;
    std::memcpy(at, bytes.data(), bytes.size());
    next_ += bytes.size();
    left_ -= bytes.size();
    return std::string_view(at, bytes.size());
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
};

// Where the last "/" or "\\" of a path is (npos: none). Asked for every lookup; a plain loop
// is several times quicker than find_last_of's search of a set for each byte.
size_t LastSeparator(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (path[i - 1] == '/' || path[i - 1] == '\\') return i - 1;
  }
  return std::string_view::npos;
}

// Looks up strings by a string_view, without making a string of it.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

class SqliteHashCache : public HashCache {
 public:
  SqliteHashCache(std::string path, const HashCacheOptions& options)
      : path_(std::move(path)), options_(options) {
    now_s_ = options_.now_seconds != 0 ? options_.now_seconds : NowNs() / 1000000000;
  }
  ~SqliteHashCache() override {
    JoinLoaders();
    Close();
  }

  // Opens the file and checks it; `reason` says what was wrong when it was not kOk.
  OpenOutcome Open(std::string& reason);
  void Close();
  // Goes without the file for the whole run; `warning` says why.
  void Bypass(std::string warning) {
    Close();
    // Nothing is held: lookups and Expect return at once, without the lock or a thread.
    held_any_.store(false, std::memory_order_relaxed);
    std::lock_guard<std::shared_mutex> lock(mu_);
    broken_ = true;
    if (!warning.empty()) PushWarning(std::move(warning));
  }
  void AddWarning(std::string warning) {
    std::lock_guard<std::shared_mutex> lock(mu_);
    PushWarning(std::move(warning));
  }

  std::optional<CachedHash> Find(const CacheKey& key, size_t head_bytes) override;
  std::optional<CachedHash> FindCurrent(const std::string& path, size_t head_bytes,
                                        const IdentityProbe& identify) override;
  void Expect(const std::string& folder) override;
  void Record(const CacheKey& key, const FileIdentity& after, const CachedHash& value,
              int64_t taken_at_ns) override;
  void Finish() override;
  std::vector<std::string> TakeWarnings() override {
    // Asked after every file: the common answer, none, takes no lock.
    if (!has_warnings_.load(std::memory_order_acquire)) return {};
    std::lock_guard<std::shared_mutex> lock(mu_);
    has_warnings_.store(false, std::memory_order_relaxed);
    return std::exchange(warnings_, {});
  }
  bool usable() const override {
    std::lock_guard<std::shared_mutex> lock(mu_);
    return !broken_;
  }

 private:
  // Runs one statement without results. The SQLite result code.
  int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
  // One integer of a one-row statement, or the error code in `rc`.
  int64_t QueryInt(const char* sql, int& rc);
  std::string ErrorText(int rc) const {
    const char* m = db_ != nullptr ? sqlite3_errmsg(db_) : nullptr;
    return m != nullptr && *m ? std::string(m) : std::string(sqlite3_errstr(rc));
  }
  // Called with mu_ held. A failure of the file during the run: every later call finds and
  // records nothing; the user is told once.
  void Fail(int rc, std::string_view doing);
  // A write is needed: in a transaction. False when the cache is not to be written.
  bool BeginWrite();
  // Commits what was written; with `again`, the next transaction begins at once.
  void CommitWrite(bool again);
  void WarnOnce(const std::string& kind, std::string text) {
    if (warned_.insert(kind).second) PushWarning(std::move(text));
  }
  // Called with mu_ held.
  void PushWarning(std::string text) {
    warnings_.push_back(std::move(text));
    has_warnings_.store(true, std::memory_order_release);
  }

  std::string path_;
  HashCacheOptions options_;
  int64_t now_s_ = 0;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* record_ = nullptr;
  sqlite3_stmt* touch_ = nullptr;
  mutable std::shared_mutex mu_;
  bool broken_ = false;     // nothing is found or recorded any more
  bool read_only_ = false;  // another run holds the write lock: found, not recorded
  bool in_transaction_ = false;
  bool remade_ = false;  // the file was found damaged during the run and made anew
  size_t writes_ = 0;
  std::vector<std::string> warnings_;
  std::atomic<bool> has_warnings_{false};
  std::atomic<bool> held_any_{true};  // false: the file held no record when it was opened
  std::set<std::string> warned_;
  // The records of the folders asked about so far, read in one pass per folder: one query
  // per file would cost more than the lookup saves on small files. A run over 20,000 small
  // files does little else than this lookup and one stat per file, so the records are kept
  // compact: names and first bytes in blocks of one arena per folder, the extra checksums
  // (mostly the same few texts) once each, looked up by the name within the folder.
  // One text of extra checksums as stored, and what it says (nullopt: it is damaged).
  struct Extra {
    std::string text;
    std::optional<std::map<std::string, uint32_t>> decoded;
  };
  struct Row {
    FileIdentity identity;
    std::string_view head;  // in the folder's arena
    const Extra* extra = nullptr;
    uint32_t crc = 0;
    // False when the record's check does not fit its fields: damaged where SQLite cannot see.
    bool intact = false;
    int64_t seen = 0;
  };
  struct Named {
    std::string_view name;  // in the folder's arena
    Row row;
  };
  // A folder's records: as read, in the byte order of their names (the order SQLite keeps
  // them in, so reading them needs neither hashing nor sorting, and a scan, which asks for
  // the files in much the same order, finds each next to the last); and those recorded since.
  // Records in blocks that stay where they are: a table of 20,000 grows without being copied
  // again and again (into memory the system has yet to hand over) as a vector would.
  class Rows {
   public:
    void push_back(const Named& n) {
      if (size_ % kBlock == 0) blocks_.push_back(std::make_unique<Named[]>(kBlock));
      blocks_.back()[size_ % kBlock] = n;
      ++size_;
    }
    size_t size() const { return size_; }
    Named& operator[](size_t i) { return blocks_[i / kBlock][i % kBlock]; }

   private:
    static constexpr size_t kBlock = 1024;
    std::vector<std::unique_ptr<Named[]>> blocks_;
    size_t size_ = 0;
  };
  struct Folder {
    ByteArena bytes;
    Rows rows;  // in the byte order of their names (folder_sql's ORDER BY)
    std::unordered_map<std::string_view, Row> added;  // keys in `bytes`
    Row* Find(std::string_view name) {
      if (!added.empty()) {
        if (auto it = added.find(name); it != added.end()) return &it->second;
      }
      size_t low = 0, high = rows.size();
      while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (rows[mid].name < name) {
          low = mid + 1;
        } else {
          high = mid;
        }
      }
      return low < rows.size() && rows[low].name == name ? &rows[low].row : nullptr;
    }
  };
  std::unordered_map<std::string, std::unique_ptr<Folder>, TextHash, std::equal_to<>> folders_;
  std::deque<Extra> extras_;  // grows only: rows point into it
  std::unordered_map<std::string_view, const Extra*> extra_index_;  // keys in extras_
  const Extra* last_extra_ = nullptr;
  sqlite3_stmt* folder_ = nullptr;
  // Threads reading folders' records ahead of their lookups (Expect); joined by Finish and on
  // closing, never by themselves.
  std::mutex loaders_mu_;
  std::vector<std::thread> loaders_;
  void JoinLoaders();
  // The entry of extras_ for this text of extra checksums, added when new. Called with mu_
  // held.
  const Extra* InternExtra(std::string_view text);
  // Makes the row of a record. Called with mu_ held.
  Row MakeRow(Folder& folder, std::string_view path, const FileIdentity& identity, uint32_t crc,
              std::string_view head, std::string_view extra, int64_t seen, int64_t check);
  // Reads the records of the files right inside `folder` (ending in a separator) into
  // folders_. Called with mu_ held; false when the file failed.
  bool LoadFolder(const std::string& folder);
  // Holds `lock` (shared) on mu_ with the records of `path`'s folder read, and gives that
  // folder's table and the file's name in it; nullptr (the lock may or may not be held) when
  // the cache is not usable or the path names no folder.
  Folder* LockLoaded(const std::string& path, std::shared_lock<std::shared_mutex>& lock,
                     std::string_view& name);
  // What serving a record needs, copied out under the lock.
  struct Copied {
    FileIdentity identity;
    CachedHash value;
    bool intact = false;
    int64_t seen = 0;
  };
  std::optional<Copied> Lookup(const std::string& path);
  // The record, when it is of the file as it is now (`identity`).
  std::optional<CachedHash> Serve(const std::string& path, const FileIdentity& identity,
                                  Copied&& row, size_t head_bytes);
};

int64_t SqliteHashCache::QueryInt(const char* sql, int& rc) {
  sqlite3_stmt* st = nullptr;
  rc = sqlite3_prepare_v2(db_, sql, -1, &st, nullptr);
  int64_t v = 0;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      v = sqlite3_column_int64(st, 0);
      rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(st);
  return v;
}

OpenOutcome SqliteHashCache::Open(std::string& reason) {
  // Every use of the connection is made with mu_ held (or before any thread of ours exists),
  // so SQLite's own lock around each call, taken a dozen times for every record read, is
  // left out.
  int rc = sqlite3_open_v2(path_.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    reason = ErrorText(rc);
    return OpenOutcome::kFailed;
  }
  sqlite3_busy_timeout(db_, options_.busy_timeout_ms);
  auto failed = [&](int code) {
    reason = ErrorText(code);
    const int primary = code & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return OpenOutcome::kBusy;
    if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) return OpenOutcome::kDamaged;
    return OpenOutcome::kFailed;
  };
  // The first read of the file: a file that is not a database at all fails here.
  const int64_t app_id = QueryInt("PRAGMA application_id", rc);
  if (rc != SQLITE_OK) return failed(rc);
  const int64_t version = QueryInt("PRAGMA user_version", rc);
  if (rc != SQLITE_OK) return failed(rc);
  const int64_t tables = QueryInt("SELECT count(*) FROM sqlite_schema", rc);
  if (rc != SQLITE_OK) return failed(rc);
  if (app_id != kApplicationId && !(app_id == 0 && tables == 0)) {
    reason = "it is not a CRC cache of this program";
    return OpenOutcome::kForeign;
  }
  if (app_id == kApplicationId) {
    // A file cut short is found now, from its header, not half-way through a run. Pages
    // damaged in place show up when they are read (a damaged record fails its row check),
    // so the file is not read whole on every run: that would cost more, as the cache grows
    // with every system's collection, than the lookups save.
    // With a journal left beside it (a run killed during a checkpoint, whose first pages
    // went out before the file grew), the file may be short for now: opening replays it.
    auto journal = FileLength(path_ + "-wal");
    const bool replayed = journal.ok() && *journal > 0;
    if (std::string why = replayed ? std::string() : CutShort(path_); !why.empty()) {
      reason = why;
      return OpenOutcome::kDamaged;
    }
  }
  if (app_id != kApplicationId || version != kSchemaVersion) {
    // New, or of another layout: made (anew) in one transaction.
    rc = Exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return failed(rc);
    const std::string setup = "DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS meta; " +
                              std::string(kCreate) +
                              "; PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
    rc = Exec(setup.c_str());
    if (rc == SQLITE_OK) rc = Exec("COMMIT");
    if (rc != SQLITE_OK) {
      (void)Exec("ROLLBACK");
      return failed(rc);
    }
  }
  // Readers never wait for a writer; a crash loses at most the last transactions, never the
  // file.
  (void)QueryInt("PRAGMA journal_mode = WAL", rc);
  if ((rc & 0xFF) == SQLITE_BUSY) return failed(rc);
  (void)Exec("PRAGMA synchronous = NORMAL");
  // A checkpoint (the journal copied into the file) waits twice for the disk. SQLite's default
  // of one per 1,000 pages made eleven of them in a first run over 20,000 files, a third of
  // its time; the journal may grow to 64 MiB (about 300,000 records) before one, and closing
  // the file at the end of a run makes the last.
  (void)Exec("PRAGMA wal_autocheckpoint = 16384");
  const char* record_sql =
      "INSERT OR REPLACE INTO files (path, device, file_id, size, mtime_ns, ctime_ns, crc, "
      "head, extra, seen, row_check) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
  const char* touch_sql = "UPDATE files SET seen = ?2 WHERE path = ?1";
  // Paths compare as bytes: those that begin with the folder lie between it and the folder
  // with its last byte (the separator) one higher.
  const char* folder_sql =
      "SELECT path, device, file_id, size, mtime_ns, ctime_ns, crc, head, extra, seen, row_check "
      "FROM files WHERE path >= ?1 AND path < ?2 ORDER BY path";
  // Pages are read through a mapping of the file rather than one read() each.
  (void)Exec("PRAGMA mmap_size = 268435456");
  for (auto [sql, st] : {std::pair{record_sql, &record_}, std::pair{touch_sql, &touch_},
                         std::pair{folder_sql, &folder_}}) {
    rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, st, nullptr);
    // A table of our name but not our columns: the file is not what its marks say.
    if (rc != SQLITE_OK) return (rc & 0xFF) == SQLITE_ERROR ? OpenOutcome::kDamaged : failed(rc);
  }
  // One transaction at a time for the whole run: a lookup outside one would lock and unlock
  // the file for itself. Writes join it; it is committed every so many writes.
  rc = Exec("BEGIN");
  if (rc != SQLITE_OK) return failed(rc);
  in_transaction_ = true;
  // An empty cache (a first run) answers lookups without its lock, which the thread that
  // records takes for every file.
  const int64_t any = QueryInt("SELECT EXISTS (SELECT 1 FROM files)", rc);
  held_any_.store(rc != SQLITE_OK || any != 0, std::memory_order_relaxed);
  return OpenOutcome::kOk;
}

void SqliteHashCache::Close() {
  for (sqlite3_stmt** st : {&record_, &touch_, &folder_}) {
    sqlite3_finalize(*st);
    *st = nullptr;
  }
  if (db_ != nullptr) {
    if (in_transaction_) (void)Exec("ROLLBACK");
    in_transaction_ = false;
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

void SqliteHashCache::Fail(int rc, std::string_view doing) {
  const std::string why = ErrorText(rc);
  if (in_transaction_) (void)Exec("ROLLBACK");
  in_transaction_ = false;
  const int primary = rc & 0xFF;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    // Another run is writing: what is there can still be found.
    read_only_ = true;
    WarnOnce("busy", "The CRC cache " + path_ +
                         " is in use by another run: this run's checksums were not kept in it");
    return;
  }
  if ((primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) && !remade_) {
    // Damage that opening could not see (a page is only read when its folder is asked
    // about): the file is moved aside and made anew, and the run goes on with it.
    remade_ = true;
    Close();
    MoveAside(path_);
    folders_.clear();
    std::string reason;
    if (Open(reason) == OpenOutcome::kOk) {
      WarnOnce("damaged", "The CRC cache " + path_ + " was damaged (" + why +
                              "); it was moved to " + path_ + ".damaged and made anew");
      return;
    }
    Close();
  }
  broken_ = true;
  // Let go of the file at once: on a full disk, the space its journal holds is given back
  // (the journal of a transaction rolled back is not needed) for the dat the run must write.
  Close();
  WarnOnce("failed", "The CRC cache " + path_ + " could not be " + std::string(doing) + " (" + why +
                         "): the rest of the files were read without it");
}

bool SqliteHashCache::BeginWrite() {
  if (broken_ || read_only_) return false;
  if (in_transaction_) return true;
  const int rc = Exec("BEGIN");
  if (rc != SQLITE_OK) {
    Fail(rc, "written");
    return false;
  }
  in_transaction_ = true;
  return true;
}

void SqliteHashCache::CommitWrite(bool again) {
  if (!in_transaction_) return;
  const int rc = Exec("COMMIT");
  if (rc != SQLITE_OK) {
    Fail(rc, "written");
    return;
  }
  in_transaction_ = false;
  writes_ = 0;
  if (again) (void)BeginWrite();
}

const SqliteHashCache::Extra* SqliteHashCache::InternExtra(std::string_view text) {
  // Records read one after another mostly carry the same text.
  if (last_extra_ != nullptr && last_extra_->text == text) return last_extra_;
  if (auto it = extra_index_.find(text); it != extra_index_.end()) {
    last_extra_ = it->second;
    return last_extra_;
  }
  Extra& e = extras_.emplace_back();
  e.text.assign(text);
  std::map<std::string, uint32_t> decoded;
  if (DecodeExtra(text, decoded)) e.decoded = std::move(decoded);
  extra_index_.emplace(e.text, &e);
  last_extra_ = &e;
  return &e;
}

SqliteHashCache::Row SqliteHashCache::MakeRow(Folder& folder, std::string_view path,
                                              const FileIdentity& identity, uint32_t crc,
                                              std::string_view head, std::string_view extra,
                                              int64_t seen, int64_t check) {
  Row row;
  row.identity = identity;
  row.crc = crc;
  row.head = folder.bytes.Keep(head);
  row.extra = InternExtra(extra);
  row.seen = seen;
  // The check covers the record as stored; the row is served only for exactly its identity,
  // so checking it once, here, is checking it for every lookup that can be served.
  row.intact = row.extra->decoded.has_value() && head.size() <= identity.size &&
               check == CheckOf(path, identity, crc, head, extra);
  return row;
}

bool SqliteHashCache::LoadFolder(const std::string& folder) {
  std::string end = folder;
  end.back() = static_cast<char>(end.back() + 1);
  sqlite3_stmt* st = folder_;
  sqlite3_reset(st);
  sqlite3_bind_blob(st, 1, folder.data(), static_cast<int>(folder.size()), SQLITE_STATIC);
  sqlite3_bind_blob(st, 2, end.data(), static_cast<int>(end.size()), SQLITE_STATIC);
  auto table = std::make_unique<Folder>();
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string_view path = ColumnBlob(st, 0);
    // Files of sub-folders are left for their own folder's pass.
    if (LastSeparator(path) >= folder.size()) continue;
    FileIdentity id;
    id.device = static_cast<uint64_t>(sqlite3_column_int64(st, 1));
    id.file_id = static_cast<uint64_t>(sqlite3_column_int64(st, 2));
    id.size = static_cast<uint64_t>(sqlite3_column_int64(st, 3));
    id.mtime_ns = sqlite3_column_int64(st, 4);
    id.ctime_ns = sqlite3_column_int64(st, 5);
    Row row = MakeRow(*table, path, id, static_cast<uint32_t>(sqlite3_column_int64(st, 6)),
                      ColumnBlob(st, 7), ColumnBlob(st, 8), sqlite3_column_int64(st, 9),
                      sqlite3_column_int64(st, 10));
    table->rows.push_back({table->bytes.Keep(path.substr(folder.size())), row});
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_DONE) {
    Fail(rc, "read");
    return false;
  }
  folders_.emplace(folder, std::move(table));
  return true;
}

SqliteHashCache::Folder* SqliteHashCache::LockLoaded(const std::string& path,
                                                     std::shared_lock<std::shared_mutex>& lock,
                                                     std::string_view& name) {
  const size_t cut = LastSeparator(path);
  if (cut == std::string::npos) return nullptr;
  const std::string_view folder(path.data(), cut + 1);
  name = std::string_view(path).substr(cut + 1);
  lock = std::shared_lock<std::shared_mutex>(mu_);
  if (broken_ || db_ == nullptr) return nullptr;
  auto it = folders_.find(folder);
  if (it == folders_.end()) {
    lock.unlock();
    {
      std::lock_guard<std::shared_mutex> write(mu_);
      if (broken_ || db_ == nullptr) return nullptr;
      if (folders_.find(folder) == folders_.end() && !LoadFolder(std::string(folder))) {
        return nullptr;
      }
    }
    lock.lock();
    if (broken_) return nullptr;
    it = folders_.find(folder);
    if (it == folders_.end()) return nullptr;
  }
  return broken_ ? nullptr : it->second.get();
}

void SqliteHashCache::Expect(const std::string& folder) {
  if (!held_any_.load(std::memory_order_relaxed) || folder.empty()) return;
  // The folder as the paths of its files will name it, with their separator.
  std::string key = JoinPath(folder, "x");
  key.pop_back();
  auto load = [this, key] {
    // Out of memory here must not end the program from a thread of its own: the folder's
    // first lookup reads the records then, and fails as any lookup would.
    try {
      std::lock_guard<std::shared_mutex> lock(mu_);
      if (!broken_ && db_ != nullptr && folders_.find(key) == folders_.end()) {
        (void)LoadFolder(key);
      }
    } catch (const std::exception&) {
    }
  };
  std::lock_guard<std::mutex> lock(loaders_mu_);
  try {
    loaders_.emplace_back(load);
  } catch (const std::system_error&) {
    load();  // no thread to be had: read them now
  }
}

void SqliteHashCache::JoinLoaders() {
  std::vector<std::thread> loaders;
  {
    std::lock_guard<std::mutex> lock(loaders_mu_);
    loaders.swap(loaders_);
  }
  for (std::thread& t : loaders) t.join();
}

std::optional<SqliteHashCache::Copied> SqliteHashCache::Lookup(const std::string& path) {
  // The workers look up at once; only a folder's first lookup, a record and a touch write.
  std::shared_lock<std::shared_mutex> lock;
  std::string_view name;
  Folder* folder = LockLoaded(path, lock, name);
  if (folder == nullptr) return std::nullopt;
  const Row* found = folder->Find(name);
  if (found == nullptr) return std::nullopt;
  const Row& row = *found;
  Copied out;
  out.identity = row.identity;
  out.value.size = row.identity.size;
  out.value.crc = row.crc;
  out.value.head.assign(row.head);
  if (row.extra->decoded) out.value.extra = *row.extra->decoded;
  out.intact = row.intact;
  out.seen = row.seen;
  return out;
}
std::optional<CachedHash> SqliteHashCache::Serve(const std::string& path,
                                                 const FileIdentity& identity, Copied&& row,
                                                 size_t head_bytes) {
  // Another file, or it changed: read it again.
  if (!(row.identity == identity)) return std::nullopt;
  if (!row.intact) {
    std::lock_guard<std::shared_mutex> lock(mu_);
    WarnOnce("damaged-record", "The CRC cache " + path_ +
                                   " holds damaged records; the files concerned were read again");
    return std::nullopt;
  }
  CachedHash& v = row.value;
  // A record made without enough of the file's first bytes cannot serve.
  if (v.head.size() < head_bytes && v.head.size() < v.size) return std::nullopt;
  if (row.seen < now_s_ - kTouchAfterSeconds) {
    std::lock_guard<std::shared_mutex> lock(mu_);
    if (db_ != nullptr && BeginWrite()) {
      sqlite3_reset(touch_);
      sqlite3_bind_blob(touch_, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
      sqlite3_bind_int64(touch_, 2, now_s_);
      const int trc = sqlite3_step(touch_);
      sqlite3_reset(touch_);
      if (trc != SQLITE_DONE) {
        Fail(trc, "written");
      } else if (++writes_ >= options_.records_per_transaction) {
        CommitWrite(true);
      }
    }
  }
  return std::move(v);
}

std::optional<CachedHash> SqliteHashCache::Find(const CacheKey& key, size_t head_bytes) {
  std::optional<Copied> row = Lookup(key.path);
  if (!row) return std::nullopt;
  return Serve(key.path, key.identity, std::move(*row), head_bytes);
}

std::optional<CachedHash> SqliteHashCache::FindCurrent(const std::string& path, size_t head_bytes,
                                                       const IdentityProbe& identify) {
  if (!held_any_.load(std::memory_order_relaxed)) return std::nullopt;
  std::optional<Copied> row = Lookup(path);
  if (!row) return std::nullopt;
  // Asked without the lock: it is a system call, and the recording thread waits for none.
  std::optional<FileIdentity> identity = identify();
  if (!identity) return std::nullopt;
  return Serve(path, *identity, std::move(*row), head_bytes);
}

void SqliteHashCache::Record(const CacheKey& key, const FileIdentity& after,
                             const CachedHash& value, int64_t taken_at_ns) {
  if (!(key.identity == after) || value.size != after.size ||
      IsRacy(after, taken_at_ns, options_.racy_window_ns) || value.head.size() > value.size) {
    return;
  }
  std::lock_guard<std::shared_mutex> lock(mu_);
  if (db_ == nullptr || !BeginWrite()) return;
  const std::string extra = EncodeExtra(value.extra);
  const FileIdentity& id = key.identity;
  sqlite3_stmt* st = record_;
  sqlite3_reset(st);
  sqlite3_bind_blob(st, 1, key.path.data(), static_cast<int>(key.path.size()), SQLITE_STATIC);
  sqlite3_bind_int64(st, 2, static_cast<int64_t>(id.device));
  sqlite3_bind_int64(st, 3, static_cast<int64_t>(id.file_id));
  sqlite3_bind_int64(st, 4, static_cast<int64_t>(id.size));
  sqlite3_bind_int64(st, 5, id.mtime_ns);
  sqlite3_bind_int64(st, 6, id.ctime_ns);
  sqlite3_bind_int64(st, 7, value.crc);
  // An empty blob, not NULL, for an empty head or no extra checksums.
  sqlite3_bind_blob(st, 8, value.head.data(), static_cast<int>(value.head.size()), SQLITE_STATIC);
  sqlite3_bind_blob(st, 9, extra.data(), static_cast<int>(extra.size()), SQLITE_STATIC);
  sqlite3_bind_int64(st, 10, now_s_);
  const int64_t check = CheckOf(key.path, key.identity, value.crc, value.head, extra);
  sqlite3_bind_int64(st, 11, check);
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_DONE) {
    Fail(rc, "written");
    return;
  }
  // Found again within this run, when the folder's records have been read already (else they
  // are read with this one among them).
  const size_t cut = LastSeparator(key.path);
  if (cut != std::string::npos) {
    auto folder = folders_.find(std::string_view(key.path).substr(0, cut + 1));
    if (folder != folders_.end()) {
      Folder& table = *folder->second;
      Row row = MakeRow(table, key.path, id, value.crc, value.head, extra, now_s_, check);
      const std::string_view name = std::string_view(key.path).substr(cut + 1);
      if (Row* old = table.Find(name)) {
        *old = row;
      } else {
        table.added.emplace(table.bytes.Keep(name), row);
      }
    }
  }
  if (++writes_ >= options_.records_per_transaction) CommitWrite(true);
}

void SqliteHashCache::Finish() {
  JoinLoaders();
  std::lock_guard<std::shared_mutex> lock(mu_);
  if (db_ == nullptr) return;
  if (!broken_) {
    CommitWrite(false);
    // Records of files no run has seen for a long time (deleted, renamed, on a drive long
    // gone) go, once a day; the rest stay, whatever folders this run scanned.
    if (!broken_ && !read_only_) {
      int rc = SQLITE_OK;
      const int64_t pruned = QueryInt("SELECT value FROM meta WHERE key = 'pruned'", rc);
      if (rc == SQLITE_OK && now_s_ - pruned >= kPruneEverySeconds && BeginWrite()) {
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db_, "DELETE FROM files WHERE seen < ?1", -1, &st, nullptr);
        if (rc == SQLITE_OK) {
          sqlite3_bind_int64(st, 1, now_s_ - options_.keep_unseen_seconds);
          rc = sqlite3_step(st);
        }
        sqlite3_finalize(st);
        if (rc == SQLITE_DONE) {
          const std::string mark = "INSERT OR REPLACE INTO meta (key, value) VALUES ('pruned', " +
                                   std::to_string(now_s_) + ")";
          rc = Exec(mark.c_str());
        }
        if (rc == SQLITE_OK) {
          CommitWrite(false);
        } else {
          Fail(rc, "written");
        }
      } else if (rc != SQLITE_OK) {
        Fail(rc, "read");
      }
    }
  }
  broken_ = true;  // nothing more is found or recorded
  Close();
}

}  // namespace

std::unique_ptr<HashCache> OpenHashCache(const std::string& path, const HashCacheOptions& options) {
  auto cache = std::make_unique<SqliteHashCache>(path, options);
  std::string reason;
  OpenOutcome outcome = cache->Open(reason);
  std::string made_anew;
  if (outcome == OpenOutcome::kDamaged) {
    cache.reset();
    MoveAside(path);
    made_anew = "The CRC cache " + path + " was damaged (" + reason + "); it was moved to " + path +
                ".damaged and made anew";
    cache = std::make_unique<SqliteHashCache>(path, options);
    outcome = cache->Open(reason);
  }
  switch (outcome) {
    case OpenOutcome::kOk:
      if (!made_anew.empty()) cache->AddWarning(made_anew);
      break;
    case OpenOutcome::kForeign:
      cache->Bypass("The file " + path +
                    " is not a CRC cache of this program: it was left alone, and every file "
                    "was read");
      break;
    case OpenOutcome::kBusy:
      cache->Bypass("The CRC cache " + path + " is in use by another run (" + reason +
                    "): every file was read");
      break;
    case OpenOutcome::kDamaged:
    case OpenOutcome::kFailed:
      cache->Bypass("The CRC cache " + path + " could not be opened (" + reason +
                    "): every file was read");
      break;
  }
  return cache;
}

std::unique_ptr<HashCache> NoHashCache() {
  auto cache = std::make_unique<SqliteHashCache>(std::string(), HashCacheOptions());
  cache->Bypass(std::string());
  return cache;
}

}  // namespace quorvin
