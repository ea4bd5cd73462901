#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fileops.h"
#include "platform/reporter.h"

// What a run learnt from reading a file whole, kept from one run to the next, so that a file
// that has not changed since is not read again. A record is made of one state of one file
// (its path and FileIdentity) and is given back only for exactly that state.
namespace quorvin {

// The cache's file in the program folder.
inline constexpr std::string_view kHashCacheFileName = "crccache.db";

// One state of one file: the path it was read under and the identity of the open file.
struct CacheKey {
  std::string path;
  FileIdentity identity;
};

// What one whole read of a file gave.
struct CachedHash {
  uint64_t size = 0;  // bytes read
  uint32_t crc = 0;   // the finished CRC-32 of those bytes
  // The file's first bytes, as many as the reader kept (all of a file shorter than that).
  std::string head;
  // Further checksums of the same bytes, by a name of letters, digits, "-" and "_" (for
  // example a CRC of the bytes in another byte order). Kept and given back as they are.
  std::map<std::string, uint32_t> extra;
  bool operator==(const CachedHash&) const = default;
};

// A file whose times lie this close to (or after) the moment its identity was taken is not
// recorded: a write in the same tick of the file system's clock (two seconds on FAT) could
// change its bytes and leave its times as they were.
inline constexpr int64_t kRacyWindowNs = int64_t{2} * 1000 * 1000 * 1000;

// True when a file of this identity, taken at `taken_at_ns` (nanoseconds since 1970), may
// still change without its times showing it.
bool IsRacy(const FileIdentity& identity, int64_t taken_at_ns, int64_t window_ns = kRacyWindowNs);

// Nanoseconds since 1970 by the system's clock.
int64_t NowNs();

struct HashCacheOptions {
  int64_t racy_window_ns = kRacyWindowNs;
  // How long a run waits for another run that holds the cache, before it goes without.
  int busy_timeout_ms = 2000;
  // Records are written in transactions of at most this many.
  size_t records_per_transaction = 2000;
  // A record that no run has found or made for this long is dropped at the end of a run.
  int64_t keep_unseen_seconds = int64_t{60} * 24 * 3600;
  // The time of the run, seconds since 1970 (0: the system's clock). Tests set it.
  int64_t now_seconds = 0;
};

// The cache the scan asks. All methods may be called from several threads at once. Nothing
// here fails a run: whatever goes wrong with the cache's file (damaged, cut short, someone
// else's, locked by another run, a full disk) costs only the time of reading the files, is
// reported once (see TakeWarnings) and never gives a checksum of other bytes than the file's.
class HashCache {
 public:
  virtual ~HashCache() = default;
  // The record of exactly this state of the file (path, device, file number, size and both
  // times equal), when it holds at least `head_bytes` of the file's first bytes (or the whole
  // file). nullopt otherwise, and whenever the cache cannot be read.
  virtual std::optional<CachedHash> Find(const CacheKey& key, size_t head_bytes) = 0;
  // The identity of the file a path names now, or nullopt when it cannot be taken.
  using IdentityProbe = std::function<std::optional<FileIdentity>()>;
  // Find for the file `path` names now, in one lookup: `identify` is asked for its identity
  // only when the cache holds a record of the path (so a new file, or every file of a first
  // run, costs no system call here). nullopt as Find.
  virtual std::optional<CachedHash> FindCurrent(const std::string& path, size_t head_bytes,
                                                const IdentityProbe& identify) = 0;
  // Says that files of `folder` are about to be looked up, so that the cache can start
  // reading its records of that folder now, beside whatever the caller does next (listing
  // the folder). A hint only: lookups are answered the same with or without it.
  virtual void Expect(const std::string& folder) { (void)folder; }
  // Records what a whole read of the file gave. `key` was taken before the read (at
  // `taken_at_ns`), `after` after it (InputFile::IdentityAfterRead: where a change during the
  // read shows in the file's times to the next lookup, the same). Nothing is recorded when the
  // two differ (the file changed during the read), when the bytes read are not the size of the
  // file, or when the file is racy (IsRacy): a later run reads it again. A record replaces the
  // path's old one.
  virtual void Record(const CacheKey& key, const FileIdentity& after, const CachedHash& value,
                      int64_t taken_at_ns) = 0;
  // Ends the run's use: writes what is left and drops records not seen for a long time
  // (HashCacheOptions::keep_unseen_seconds). Later calls find and record nothing.
  virtual void Finish() = 0;
  // The warnings that arose since the last call (at most one per kind of trouble), for the
  // thread that reports to the user.
  virtual std::vector<std::string> TakeWarnings() = 0;
  // True when the cache is in use (not bypassed).
  virtual bool usable() const = 0;
};

// Opens (or makes) the cache file at `path`. Never fails: a file that is damaged or cut short
// is moved aside to "<path>.damaged" and made anew; a database of another program, or one
// that another run holds locked, is left alone and the run goes without a cache. Either way
// one warning says so (TakeWarnings). A file of an older layout is dropped and made anew.
std::unique_ptr<HashCache> OpenHashCache(const std::string& path,
                                         const HashCacheOptions& options = HashCacheOptions());

// A cache that finds and records nothing.
std::unique_ptr<HashCache> NoHashCache();

}  // namespace quorvin
