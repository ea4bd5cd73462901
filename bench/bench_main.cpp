// Benchmarks for the hot paths. Each prints its figures; none is a pass/fail test.
//   quorvin-bench crc     CRC-32 tiers against zlib and a plain read of the same memory
//   quorvin-bench scan    dat scan of a generated 5,000-file collection in the page cache
//   quorvin-bench softlist  software list load and index; a run against nes.xml vs a .crc
//   quorvin-bench dumps   scans of headered vs bare files, and of N64 sets in each byte order
//   quorvin-bench all     every benchmark, each in its own process (for honest peak memory)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "dat/crc.h"
#include "dat/crc_tiers.h"
#include "dat/scan.h"
#include "platform/reporter.h"

namespace quorvin::bench {

// Random bytes, none of them zero, so that a memchr for 0 reads the whole buffer.
std::vector<uint8_t> RandomBuffer(size_t size) {
  std::vector<uint8_t> buf(size);
  std::mt19937_64 rng(1);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t v = rng();
    std::memcpy(&buf[i], &v, 8);
  }
  for (uint8_t& b : buf) b |= b == 0 ? 1 : 0;
  return buf;
}

// GB/s of `update` over a 64 MiB buffer, best of `reps`.
double MeasureCrc(const std::function<uint32_t(const uint8_t*, size_t)>& update, int reps) {
  static const std::vector<uint8_t> buf = RandomBuffer(size_t{64} << 20);
  double best = 1e9;
  uint32_t sink = 0;
  for (int rep = 0; rep < reps; ++rep) {
    auto t0 = Clock::now();
    sink ^= update(buf.data(), buf.size());
    best = std::min(best, Seconds(t0));
  }
  if (sink == 0x12345678) std::puts("");
  return buf.size() / best / 1e9;
}

// GB/s of `update` over a 256 KiB buffer that stays in the processor's cache (256 passes).
double MeasureCrcInCache(const std::function<uint32_t(const uint8_t*, size_t)>& update) {
  static const std::vector<uint8_t> buf = RandomBuffer(size_t{256} << 10);
  uint32_t sink = update(buf.data(), buf.size());
  auto t0 = Clock::now();
  for (int rep = 0; rep < 256; ++rep) sink ^= update(buf.data(), buf.size());
  const double seconds = Seconds(t0);
  if (sink == 0x12345678) std::puts("");
  return 256.0 * buf.size() / seconds / 1e9;
}

double MeasureCrcLoop(bool bytewise, double* gbps_out) {
  *gbps_out = MeasureCrc(
      [bytewise](const uint8_t* p, size_t n) {
        return bytewise ? Crc32UpdateBytewise(~0u, p, n) : Crc32Update(~0u, p, n);
      },
      bytewise ? 3 : 7);
  return (size_t{64} << 20) / *gbps_out / 1e9;
}

int BenchCrc() {
  // Every contender runs once per round, in turn, so that they share the machine's
  // conditions; each keeps its best round.
  struct Contender {
    std::string name;
    std::function<uint32_t(const uint8_t*, size_t)> update;
    double gbps = 0;
    double from_memory = 0;
    double in_cache = 0;
  };
  std::vector<Contender> all;
  all.push_back({"zlib crc32", [](const uint8_t* p, size_t n) {
                   return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
                 }});
  for (CrcTier tier : kAllCrcTiers) {
    Crc32UpdateFn fn = CrcTierFunction(tier);
    if (fn == nullptr) {
      std::printf("  %-22s (not supported by this processor)\n",
                  std::string(CrcTierName(tier)).c_str());
      continue;
    }
    all.push_back({std::string(CrcTierName(tier)),
                   [fn](const uint8_t* p, size_t n) { return fn(~0u, p, n); }});
  }
  // What the memory gives one thread: nothing can checksum the buffer faster than this reads
  // it. It runs in the same rounds as the others because the buffer's speed depends on where
  // the processor's caches hold it, which depends on what ran just before.
  all.push_back({"plain read (memchr)", [](const uint8_t* p, size_t n) {
                   return static_cast<uint32_t>(std::memchr(p, 0, n) != nullptr);
                 }});
  const Contender& read = all.back();
  // The 64 MiB rounds come first and apart from the in-cache passes: right after thousands
  // of passes over a small buffer, a pass over the large one finds less of it in the cache.
  for (int round = 0; round < 9; ++round) {
    for (Contender& c : all) c.gbps = std::max(c.gbps, MeasureCrc(c.update, 1));
  }
  // Again with the buffer pushed out of the processor's caches (whose last level may be
  // larger than 64 MiB) before every pass, so that it comes from the memory chips.
  std::vector<uint8_t> evict(size_t{512} << 20);
  for (int round = 0; round < 5; ++round) {
    for (Contender& c : all) {
      std::memset(evict.data(), round + 1, evict.size());
      c.from_memory = std::max(c.from_memory, MeasureCrc(c.update, 1));
    }
  }
  for (int round = 0; round < 9; ++round) {
    for (Contender& c : all) c.in_cache = std::max(c.in_cache, MeasureCrcInCache(c.update));
  }
  const double slow =
      MeasureCrc([](const uint8_t* p, size_t n) { return Crc32UpdateBytewise(~0u, p, n); }, 3);
  std::printf(
      "CRC-32, GB/s, best of the rounds (active tier: %s)\n"
      "  %-20s %-34s %-17s %s\n",
      std::string(CrcTierName(ActiveCrcTier())).c_str(), "", "64 MiB buffer, pass after pass",
      "64 MiB, evicted", "256 KiB, in cache");
  for (const Contender& c : all) {
    char line[160];
    std::snprintf(line, sizeof line, "%6.2f = %4.1fx zlib, %3.0f%% of read", c.gbps,
                  c.gbps / all[0].gbps, 100.0 * c.gbps / read.gbps);
    std::printf("  %-20s %-34s %6.2f = %4.1fx   %6.2f = %4.1fx\n", c.name.c_str(), line,
                c.from_memory, c.from_memory / all[0].from_memory, c.in_cache,
                c.in_cache / all[0].in_cache);
  }
  std::printf("  %-20s %6.2f\n", "byte at a time", slow);
  return 0;
}

int BenchScan() {
  TempFolder dir("scan");
  const std::string roms = dir.path + "/roms";
  std::filesystem::create_directories(roms);
  std::mt19937_64 rng(5);
  std::vector<char> chunk(1 << 20);
  for (char& c : chunk) c = static_cast<char>(rng());
  uint64_t total = 0;
  const int files = 5000;
  for (int i = 0; i < files; ++i) {
    // Log-uniform sizes from 1 KiB to 4 MiB.
    double e = std::uniform_real_distribution<double>(10.0, 22.0)(rng);
    size_t size = static_cast<size_t>(std::pow(2.0, e));
    char name[32];
    std::snprintf(name, sizeof name, "/rom%05d.nes", i);
    std::ofstream f(roms + name, std::ios::binary);
    chunk[0] = static_cast<char>(i);
    for (size_t done = 0; done < size;) {
      size_t n = std::min(chunk.size(), size - done);
      f.write(chunk.data(), static_cast<std::streamsize>(n));
      done += n;
    }
    total += size;
  }
  NullReporter rep;
  DatScanInput in{"nes", "bench", "bench", roms, ".nes"};
  // The first scan brings every file into the page cache; the later ones are measured.
  Status s = MakeDat(in, dir.path + "/tempdat.dat", rep);
  if (!s.ok()) {
    std::fprintf(stderr, "%s\n", s.ToString().c_str());
    return 1;
  }
  double best = 1e9;
  for (int rep_i = 0; rep_i < 3; ++rep_i) {
    auto t0 = Clock::now();
    (void)MakeDat(in, dir.path + "/tempdat.dat", rep);
    best = std::min(best, Seconds(t0));
  }
  const double scan_rss = PeakRssMiB();
  double crc_gbps = 0;
  MeasureCrcLoop(false, &crc_gbps);
  double scan_gbps = total / best / 1e9;
  std::printf("scan: %d files, %.2f GB in %.3f s = %.2f GB/s (best of 3, page cache warm)\n", files,
              total / 1e9, best, scan_gbps);
  std::printf("scan vs crc loop: %.0f%% (crc loop %.2f GB/s in the same run)\n",
              100.0 * scan_gbps / crc_gbps, crc_gbps);
  std::printf("scan peak memory (whole process, before the crc loop's buffer): %.1f MiB\n",
              scan_rss);
  return 0;
}

}  // namespace quorvin::bench

int main(int argc, char** argv) {
  using namespace quorvin::bench;
  std::string what = argc > 1 ? argv[1] : "all";
  const std::vector<std::pair<std::string, std::function<int()>>> benches = {
      {"crc", BenchCrc},
      {"scan", BenchScan},
      {"inject", BenchInject},
      {"softlist", BenchSoftlist},
      {"dumps", BenchDumps}};
  if (what == "all") {
    int rc = 0;
    for (const auto& b : benches) rc |= RunInChild(argv[0], b.first);
    return rc;
  }
  for (const auto& b : benches) {
    if (b.first == what) return b.second();
  }
  std::fprintf(stderr, "usage: quorvin-bench crc|scan|inject|softlist|dumps|all\n");
  return 2;
}
