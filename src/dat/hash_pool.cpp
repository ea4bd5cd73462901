#include "dat/hash_pool.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>

#include "dat/crc.h"
#include "dat/rom_header.h"
#include "platform/fileops.h"
#include "platform/path.h"

namespace quorvin {

namespace {

// One read of this size takes a small file whole; a larger file goes in pieces of this size,
// each checksummed while it is still in the processor's cache.
constexpr size_t kChunk = ParallelHasher::kReadBuffer;
// How many files the workers may run ahead of the caller, per worker: loose files (a result
// is a few hundred bytes at most; far enough ahead that the caller, when it is the slower
// side, rarely has to wake a worker) and archives (a result lists every member).
constexpr size_t kAheadPerWorker = 256;
constexpr size_t kArchivesAheadPerWorker = 32;
// How many results the caller waits for at once when it has to wait.
constexpr size_t kBatch = 64;

// The name under which the cache keeps the CRC of a file's bytes in their swapped order.
constexpr std::string_view kSwappedCrcName = "swapped";
// The name a record carries instead of the file's first bytes when they fit no header or
// byte-order rule of this table (kRomHeaderRulesVersion): most files. Their records are
// small, and a hit on one hands no bytes across.
const std::string& FitsNoRuleName() {
  static const std::string name = "fits-no-rule-" + std::to_string(kRomHeaderRulesVersion);
  return name;
}

// What the cache keeps of a result read with `keep_head` first bytes.
CachedHash ToCached(const ParallelHasher::FileHash& hash, size_t keep_head) {
  CachedHash v{hash.size, hash.crc, {}, {}};
  if (keep_head > 0 && FitsNoRule(hash.head, hash.size)) {
    v.extra.emplace(FitsNoRuleName(), 0);
  } else {
    v.head = hash.head;
  }
  if (hash.swapped_crc) v.extra.emplace(kSwappedCrcName, *hash.swapped_crc);
  return v;
}

// The result a record gives, into `out`; false when it lacks something this scan needs:
// `keep_head` first bytes (or the whole file), unless they fit no rule and so are not needed
// (the result's head is then empty, which fits no rule either), or the CRC in swapped order
// of a file whose head carries a byte-order mark.
bool FromRecord(CachedHash&& hit, size_t keep_head, ParallelHasher::FileHash& out) {
  std::string head;
  if (keep_head > 0 && !hit.extra.contains(FitsNoRuleName())) {
    if (hit.head.size() < keep_head && hit.head.size() < hit.size) return false;
    head = std::move(hit.head);
    if (head.size() > keep_head) head.resize(keep_head);
  }
  std::optional<uint32_t> swapped;
  if (auto it = hit.extra.find(std::string(kSwappedCrcName)); it != hit.extra.end()) {
    swapped = it->second;
  }
  if (keep_head >= 4 && head.size() >= 4 && SwappedLayoutOf(head) && !swapped) return false;
  out.size = hit.size;
  out.crc = hit.crc;
  out.head = std::move(head);
  out.swapped_crc = keep_head >= 4 ? swapped : std::nullopt;
  out.from_cache = true;
  return true;
}

// The worker's handle on the folder of `path`, opened anew when the path is in another
// folder than the last, and where the file's plain name starts; null for a path without a
// folder or a name. A folder swapped for another while a worker holds it is still the folder
// that was listed: its files are served only for exactly the identities they were recorded
// with, and read from the folder listed, so what the dat says is true of the files as listed.
const FolderHandle* FolderOf(const std::string& path, std::unique_ptr<FolderHandle>& folder,
                             size_t& name_at) {
  size_t cut = path.size();
  while (cut > 0 && !IsPathSep(path[cut - 1])) --cut;
  if (cut == 0 || cut == path.size()) return nullptr;
  const std::string_view in(path.data(), cut);
  if (folder == nullptr || folder->folder() != in) {
    folder = std::make_unique<FolderHandle>(std::string(in));
  }
  name_at = cut;
  return folder.get();
}

// The identity of the file at `path` now, asked through the worker's handle on its folder.
std::optional<FileIdentity> IdentityNow(const std::string& path,
                                        std::unique_ptr<FolderHandle>& folder) {
  size_t name_at = 0;
  const FolderHandle* in = FolderOf(path, folder, name_at);
  Result<FileIdentity> id =
      in ? in->RegularFileIdentity(path.c_str() + name_at) : RegularFileIdentity(path);
  return id.ok() ? std::optional<FileIdentity>(*id) : std::nullopt;
}

// Reads and checksums one file. Gives up between reads when `stop` is set (the result is then
// never looked at), so that dropping the hasher never waits for a large file to be read.
// With a cache, a file that was read leaves in `record` what the cache is to be told.
// `read_so_far` and `size` tell a waiting caller how far the file has come.
template <typename ToRecord>
ParallelHasher::FileHash HashFile(const std::string& path, uint8_t* buffer, size_t keep_head,
                                  const HashCacheUse& cache, std::unique_ptr<FolderHandle>& folder,
                                  const std::atomic<bool>& stop, std::optional<ToRecord>& record,
                                  std::atomic<uint64_t>& read_so_far, std::atomic<uint64_t>& size) {
  ParallelHasher::FileHash out;
  // A hit reads nothing, so it need not open the file: the identity of what the name points
  // at now is enough. It must equal one taken from an open descriptor when the file was read
  // (device, file number, size and both times), so a file changed or put in its place since
  // is not served. Opening costs several system calls, as much as reading a small file.
  if (cache.cache != nullptr && !cache.rehash) {
    // The record's first bytes are checked by FromRecord, which knows when none are needed.
    std::optional<CachedHash> hit =
        cache.cache->FindCurrent(path, 0, [&] { return IdentityNow(path, folder); });
    if (hit && FromRecord(std::move(*hit), keep_head, out)) return out;
  }
  // Opened by its plain name in the folder held: the system walks one name, not the path.
  size_t name_at = 0;
  const FolderHandle* in = FolderOf(path, folder, name_at);
  auto file = in ? in->Open(path, name_at) : InputFile::Open(path);
  if (!file.ok()) {
    out.status = file.status().kind() == ErrorKind::kNotFound
                     ? Status::NotFound("The file " + path + " no longer exists")
                     : file.status();
    return out;
  }
  // The cache's key comes from the open file, not from its name: what is read below is what
  // the key describes.
  std::optional<CacheKey> key;
  int64_t taken_at = 0;
  if (cache.cache != nullptr) {
    if (auto id = file->IdentityAtOpen(); id.ok()) {
      taken_at = NowNs();
      key = CacheKey{path, *id};
    }
  }
  uint32_t reg = 0xFFFFFFFFu;
  uint64_t total = 0;
  bool whole_asked = false;
  // Only files whose first bytes carry a byte-order mark pay for a second CRC.
  std::optional<SwappedCrc> swapped;
  bool order_known = keep_head < 4;
  // A read can come back short before the end (a signal, a network or FUSE file system), so
  // a short read ends the file only where it reaches the size the file had when opened; else
  // only a read of nothing does. Most files so take one read, as many as a plain copy.
  const std::optional<uint64_t> size_at_open = file->SizeAtOpen();
  bool at_end = false;
  while (!stop && !at_end) {
    auto read = file->Read(buffer, kChunk);
    if (!read.ok()) {
      out.status = read.status();
      break;
    }
    const size_t got = *read;
    if (got == 0) break;
    at_end = got < kChunk && size_at_open && total + got == *size_at_open;
    reg = Crc32Update(reg, buffer, got);
    const size_t head_before = out.head.size();
    if (out.head.size() < keep_head) {
      out.head.append(reinterpret_cast<const char*>(buffer),
                      std::min(got, keep_head - out.head.size()));
    }
    if (swapped) {
      swapped->Update(buffer, got);
    } else if (!order_known && out.head.size() >= 4) {
      // The first four bytes are in: every byte before this read is in the head.
      order_known = true;
      if (auto layout = SwappedLayoutOf(out.head)) {
        swapped.emplace(*layout);
        swapped->Update(reinterpret_cast<const uint8_t*>(out.head.data()), head_before);
        swapped->Update(buffer, got);
      }
    }
    total += got;
    read_so_far.store(total, std::memory_order_relaxed);
    // A large file: ask for a larger read-ahead, which helps when it is not cached, and
    // measure it, so that a caller waiting for it can show how far it has come.
    if (!whole_asked && total >= kChunk) {
      file->ReadingWhole();
      whole_asked = true;
      if (size_at_open) {
        size.store(*size_at_open, std::memory_order_relaxed);
      } else if (auto length = FileLength(path); length.ok()) {
        size.store(*length, std::memory_order_relaxed);
      }
    }
  }
  out.size = total;
  out.crc = ~reg;
  if (swapped) out.swapped_crc = swapped->Finish();
  if (key && out.status.ok() && !stop) {
    // A file that changed while it was read is not recorded, or not served next time.
    if (auto after = file->IdentityAfterRead(); after.ok()) {
      record = ToRecord{std::move(*key), *after, taken_at};
    }
  }
  return out;
}

}  // namespace

Result<size_t> HashThreadCount(const char* setting, size_t cores) {
  if (setting == nullptr || *setting == '\0') {
    if (cores < 1) return size_t{1};
    return cores < kMaxHashThreads ? cores : kMaxHashThreads;
  }
  size_t n = 0;
  const char* end = setting + std::strlen(setting);
  auto [ptr, ec] = std::from_chars(setting, end, n);
  if (ec != std::errc() || ptr != end || n < 1 || n > kMaxHashThreads) {
    return Status::InvalidInput("QUORVIN_THREADS must be a whole number from 1 to " +
                                std::to_string(kMaxHashThreads) + ", not \"" +
                                std::string(setting) + "\"");
  }
  return n;
}

ParallelHasher::ParallelHasher(std::vector<std::string> paths, size_t threads, size_t keep_head,
                               HashCacheUse cache)
    : ParallelHasher(std::move(paths), threads, Reader(), keep_head, cache) {}

ParallelHasher::ParallelHasher(std::vector<std::string> paths, size_t threads, Reader reader)
    : ParallelHasher(std::move(paths), threads, std::move(reader), 0, HashCacheUse()) {}

ParallelHasher::ParallelHasher(std::vector<std::string> paths, size_t threads, Reader reader,
                               size_t keep_head, HashCacheUse cache)
    : paths_(std::move(paths)), reader_(std::move(reader)), keep_head_(keep_head), cache_(cache) {
  if (threads < 1) threads = 1;
  if (threads > paths_.size()) threads = paths_.size();
  slot_count_ = threads > 0 ? threads * (reader_ ? kArchivesAheadPerWorker : kAheadPerWorker) : 1;
  // A short list needs no more slots than it has files.
  slot_count_ = std::max<size_t>(1, std::min(slot_count_, paths_.size()));
  slots_.reset(new Slot[slot_count_]);
  // Half of how far the workers may run ahead at most: a batch must be able to fill while
  // the workers keep going.
  batch_ = std::max<size_t>(1, std::min(kBatch, slot_count_ / 2));
  workers_.reserve(threads);
  for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ParallelHasher::~ParallelHasher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  work_cv_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ParallelHasher::Work() {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
  std::unique_ptr<FolderHandle> folder;  // of the last file looked up or read
  while (!stop_) {
    const size_t index = claimed_.fetch_add(1);
    if (index >= paths_.size()) return;
    if (index >= taken_ + slot_count_) {
      // Too far ahead: the slot still holds a result the caller has not taken.
      std::unique_lock<std::mutex> lock(mu_);
      ++workers_waiting_;
      work_cv_.wait(lock, [&] { return stop_ || index < taken_ + slot_count_; });
      --workers_waiting_;
      if (stop_) return;
    }
    Slot& slot = slots_[index % slot_count_];
    slot.record.reset();
    slot.hash = reader_ ? reader_(paths_[index], buffer.get(), stop_)
                        : HashFile(paths_[index], buffer.get(), keep_head_, cache_, folder, stop_,
                                   slot.record, slot.read, slot.size);
    slot.ready = true;
    // The caller is woken by whoever finishes its batch, and only the mutex is taken then:
    // taken for every file, it was fought over by the workers and the caller.
    if (caller_waiting_ && index < batch_end_ && BatchReady()) {
      std::lock_guard<std::mutex> lock(mu_);
      if (caller_waiting_) result_cv_.notify_one();
    }
  }
}

bool ParallelHasher::BatchReady() const {
  // From the batch's end: the files still being read are the last ones, so a worker asking
  // before the batch is done is answered at once, not after the ready results before them.
  const size_t begin = taken_;
  for (size_t i = batch_end_; i > begin; --i) {
    if (!slots_[(i - 1) % slot_count_].ready) return false;
  }
  return true;
}

ParallelHasher::FileHash ParallelHasher::Next(const std::function<bool()>& stop_requested,
                                              const WaitFunction& waiting) {
  const size_t index = taken_;
  Slot& slot = slots_[index % slot_count_];
  if (!slot.ready) {
    // Wait for a batch of results, so that small files cost the caller one wake-up per batch
    // rather than one per file.
    std::unique_lock<std::mutex> lock(mu_);
    batch_end_ = std::min(paths_.size(), index + batch_);
    caller_waiting_ = true;
    // A worker left waiting for room since the last batch may hold a file of this one.
    if (workers_waiting_ > 0) work_cv_.notify_all();
    if (!stop_requested && !waiting) {
      result_cv_.wait(lock, [&] { return BatchReady(); });
    } else {
      // A few times a second: is the file asked for done, does the user want to stop, how
      // far has the file come.
      while (!result_cv_.wait_for(lock, kWaitReport, [&] { return BatchReady(); })) {
        if (slot.ready) break;  // the file asked for is done; the rest of the batch can wait
        const uint64_t read = slot.read.load(std::memory_order_relaxed);
        const uint64_t size = slot.size.load(std::memory_order_relaxed);
        lock.unlock();
        const bool stop = stop_requested && stop_requested();
        if (!stop && waiting) waiting(read, size);
        lock.lock();
        if (stop) {
          caller_waiting_ = false;
          stop_ = true;
          lock.unlock();
          work_cv_.notify_all();
          FileHash out;
          out.status =
              Status::Stopped("The scan was stopped while " + paths_[index] + " was being read");
          return out;
        }
      }
    }
    caller_waiting_ = false;
  }
  FileHash out = std::move(slot.hash);
  slot.read.store(0, std::memory_order_relaxed);
  slot.size.store(0, std::memory_order_relaxed);
  if (slot.record) {
    cache_.cache->Record(slot.record->key, slot.record->after, ToCached(out, keep_head_),
                         slot.record->taken_at_ns);
    slot.record.reset();
  }
  slot.ready = false;
  taken_ = index + 1;
  // Workers that ran too far ahead are woken once a batch of room has been made, not for
  // every file: when the caller is the slower side, waking them per file costs it a system
  // call each.
  if (workers_waiting_ > 0 && (taken_ % batch_ == 0 || taken_ == paths_.size())) {
    std::lock_guard<std::mutex> lock(mu_);
    work_cv_.notify_all();
  }
  return out;
}

}  // namespace quorvin
