// Dumps with headers and in other byte orders: the scan of a collection where every file
// carries a header against the same data without headers, and a Nintendo 64 set stored
// byte-swapped (".v64") and little-endian (".n64") against the same set in its own order.
// Each scan is the run's own, with the table of cartridge data filled in.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "dat/rom_header.h"
#include "dat/scan.h"
#include "dumps.h"
#include "platform/reporter.h"

namespace quorvin::bench {

namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Set {
  std::string label, folder, extension;
  uint64_t bytes = 0;
  double best = 1e9;
  size_t noted = 0;
};

// Scans every set once per round, in turn, so that they share the machine's conditions;
// each keeps its best round. The first round only brings the files into the page cache.
bool Measure(std::vector<Set>& sets, const std::string& scratch, int rounds) {
  NullReporter rep;
  for (int round = 0; round <= rounds; ++round) {
    for (Set& s : sets) {
      HeaderlessCrcs table;
      DatScanInput in{"bench", "bench", "bench", s.folder, s.extension};
      auto t0 = Clock::now();
      Status st = MakeDat(in, scratch + "/tempdat.dat", rep, &table);
      const double t = Seconds(t0);
      if (!st.ok()) {
        std::fprintf(stderr, "%s\n", st.ToString().c_str());
        return false;
      }
      if (round > 0) s.best = std::min(s.best, t);
      s.noted = table.size();
    }
  }
  return true;
}

void Print(const std::vector<Set>& sets, size_t files) {
  for (const Set& s : sets) {
    std::printf("  %-34s %5zu files, %7.1f MB: %.3f s = %5.2f GB/s, %.3fx the first; %zu noted\n",
                s.label.c_str(), files, s.bytes / 1e6, s.best, s.bytes / s.best / 1e9,
                s.best / sets[0].best, s.noted);
  }
}

}  // namespace

int BenchDumps() {
  TempFolder dir("dumps");
  std::mt19937_64 rng(17);
  const std::vector<test::DumpKind> kinds = test::EveryDumpKind();

  // 1. 3,000 cartridges of 8 KiB to 256 KiB (log-uniform, whole multiples of 8 KiB, which every
  // rule takes), every kind of header in
  // turn, against the bare data. All files take the extension ".rom".
  {
    std::vector<Set> sets = {{"bare data", dir.path + "/bare", ".rom"},
                             {"the same data, each with a header", dir.path + "/headered", ".rom"},
                             {"bare data again (the noise)", dir.path + "/bare", ".rom"}};
    for (Set& s : sets) std::filesystem::create_directories(s.folder);
    std::vector<const test::DumpKind*> headered;
    for (const test::DumpKind& k : kinds) {
      if (k.swap == 0) headered.push_back(&k);
    }
    const size_t files = 3000;
    for (size_t i = 0; i < files; ++i) {
      const double e = std::uniform_real_distribution<double>(13.0, 18.0)(rng);
      const size_t size = static_cast<size_t>(std::pow(2.0, e)) / 8192 * 8192;
      std::string data(size, '\0');
      for (size_t at = 0; at + 8 <= size; at += 8) {
        const uint64_t v = rng();
        std::memcpy(&data[at], &v, 8);
      }
      const test::DumpKind& kind = *headered[i % headered.size()];
      char name[32];
      std::snprintf(name, sizeof name, "/c%05zu.rom", i);
      Write(sets[0].folder + name, data);
      Write(sets[1].folder + name, kind.header + data);
      sets[0].bytes += data.size();
      sets[1].bytes += kind.header.size() + data.size();
      sets[2].bytes += data.size();
    }
    if (!Measure(sets, dir.path, 9)) return 1;
    std::printf("headered vs bare scan (best of 9 rounds, page cache warm):\n");
    Print(sets, files);
    for (const Set& s : sets) std::filesystem::remove_all(s.folder);  // (twice for one: harmless)
  }

  // 2. 32 Nintendo 64 cartridges of 4 MiB in their own order, byte-swapped and little-endian.
  {
    std::vector<Set> sets = {{"N64 in its own order (.z64)", dir.path + "/z64", ".z64"},
                             {"the same, byte-swapped (.v64)", dir.path + "/v64", ".v64"},
                             {"the same, little-endian (.n64)", dir.path + "/n64", ".n64"}};
    for (Set& s : sets) std::filesystem::create_directories(s.folder);
    const size_t files = 32, size = size_t{4} << 20;
    for (size_t i = 0; i < files; ++i) {
      std::string data(size, '\0');
      for (size_t at = 0; at + 8 <= size; at += 8) {
        const uint64_t v = rng();
        std::memcpy(&data[at], &v, 8);
      }
      data.replace(0, 4, "\x80\x37\x12\x40", 4);
      char name[32];
      std::snprintf(name, sizeof name, "/n%03zu", i);
      Write(sets[0].folder + name + ".z64", data);
      Write(sets[1].folder + name + ".v64", test::Swapped(data, 2));
      Write(sets[2].folder + name + ".n64", test::Swapped(data, 4));
      for (Set& s : sets) s.bytes += size;
    }
    if (!Measure(sets, dir.path, 9)) return 1;
    std::printf("Nintendo 64 byte orders (best of 9 rounds, page cache warm):\n");
    Print(sets, files);
  }
  return 0;
}

}  // namespace quorvin::bench
