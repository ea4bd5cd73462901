// Software lists: loading and indexing the real nes.xml (time and memory), and a whole run
// against it compared with the same run against a .crc database of the same entries.

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "dat/crc.h"
#include "forge_crc.h"
#include "inject/software_list.h"
#include "platform/reporter.h"
#include "run/runner.h"
#include "run/startup.h"

namespace quorvin::bench {

namespace {

using test::ForgeCrc;

const std::string kNesXml = std::string(QUORVIN_TESTDATA) + "/mame/hash/nes.xml";

size_t LiveHeapBytes() { return mallinfo2().uordblks; }

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Setup {
  std::string home, roms, mess_xml, mess_crc;
  size_t headered = 0, plain = 0, unknown = 0;
  uint64_t bytes = 0;
};

// 5,000 .nes files: 1,000 with the 16-byte header whose bytes after it are a listed
// cartridge (the smallest 1,000 images, at their real sizes), 3,000 whose whole CRC is a
// listed image's (a few KiB each), and 1,000 that no database knows. One MESS folder holds
// hash/nes.xml (the real list), the other crc/nes.crc with every entry of that list under its
// image's CRC, plus the whole-file CRCs of the 1,000 headered files: both find the same names.
Setup MakeSetup(const std::string& root, const SoftwareList& list) {
  Setup s{root + "/home", root + "/roms", root + "/mess_xml", root + "/mess_crc"};
  std::filesystem::create_directories(s.roms);
  std::filesystem::create_directories(s.mess_xml + "/hash");
  std::filesystem::create_directories(s.mess_crc + "/crc");
  std::filesystem::copy_file(kNesXml, s.mess_xml + "/hash/nes.xml");
  (void)PrepareProgramFolder(s.home);
  std::vector<SoftwareList::Listed> entries = list.Entries();
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.size != b.size ? a.size < b.size : a.crc < b.crc;
  });
  std::ofstream crc(s.mess_crc + "/crc/nes.crc", std::ios::binary);
  crc << "[nes]\r\n";
  char line[32];
  for (const auto& e : entries) {
    std::snprintf(line, sizeof line, "%08x=", e.crc);
    crc << line << e.value << "\r\n";
  }
  std::mt19937_64 rng(17);
  const std::string header("NES\x1A\x02\x01\x01\0\0\0\0\0\0\0\0\0", 16);
  for (int i = 0; i < 5000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/rom%05d.nes", i);
    std::string bytes;
    if (i < 1000) {
      const auto& e = entries[static_cast<size_t>(i)];
      std::string body(e.size - 4, '\0');
      for (char& c : body) c = static_cast<char>(rng());
      bytes = header + ForgeCrc(std::move(body), e.crc);
      std::snprintf(line, sizeof line, "%08x=", Crc32(bytes));
      crc << line << e.value << "\r\n";
      ++s.headered;
    } else if (i < 4000) {
      const auto& e = entries[entries.size() - 1 - static_cast<size_t>(i - 1000)];
      bytes = ForgeCrc(std::string(1024 + rng() % 4096, static_cast<char>(i)), e.crc);
      ++s.plain;
    } else {
      bytes = std::string(1024 + rng() % 4096, static_cast<char>(i)) + name;
      ++s.unknown;
    }
    s.bytes += bytes.size();
    Write(s.roms + name, bytes);
  }
  return s;
}

// One Start command with the MESS stage and renaming on, then an untimed Revert.
double TimeRun(const Setup& s, const std::string& mess, size_t* warnings) {
  NullReporter rep;
  Runner r(s.home, rep);
  r.settings.txtMessPath = mess;
  r.settings.txtRom = s.roms;
  r.settings.txtExtension = ".nes";
  r.settings.cmbHName.text = "nes";
  r.settings.chkCvtRoms = mess.empty() ? 0 : 1;
  auto t0 = Clock::now();
  Status st = r.StartCommand();
  const double secs = Seconds(t0);
  if (!st.ok()) std::fprintf(stderr, "%s\n", st.ToString().c_str());
  if (warnings) *warnings = r.warnings();
  (void)r.RevertCommand();
  std::filesystem::remove(s.home + "/conversions/nes.cnv");
  return secs;
}

}  // namespace

int BenchSoftlist() {
  if (!std::filesystem::exists(kNesXml)) {
    std::fprintf(stderr, "softlist: %s not found\n", kNesXml.c_str());
    return 1;
  }
  const double file_mib = std::filesystem::file_size(kNesXml) / 1048576.0;
  // The first load, in a fresh process: its peak is what loading costs at most.
  const double rss_before = PeakRssMiB();
  const size_t heap_before = LiveHeapBytes();
  auto first = SoftwareList::Load(kNesXml);
  if (!first.ok()) {
    std::fprintf(stderr, "%s\n", first.status().ToString().c_str());
    return 1;
  }
  const double peak_growth = PeakRssMiB() - rss_before;
  const double kept_mib = (LiveHeapBytes() - heap_before) / 1048576.0;
  std::vector<double> times;
  for (int i = 0; i < 30; ++i) {
    auto t0 = Clock::now();
    auto again = SoftwareList::Load(kNesXml);
    times.push_back(Seconds(t0));
    if (!again.ok() || again->size() != first->size()) return 1;
  }
  std::sort(times.begin(), times.end());
  std::printf(
      "softlist: nes.xml (%.2f MiB, %zu parts indexed) read, parsed and indexed in "
      "%.1f ms (best of 30), median %.1f ms\n",
      file_mib, first->size(), times.front() * 1e3, times[times.size() / 2] * 1e3);
  std::printf(
      "softlist: index kept on the heap %.2f MiB = %.2fx the file (glibc mallinfo2 live "
      "bytes after the load less before; the index's own count %.2f MiB)\n",
      kept_mib, kept_mib / file_mib, first->MemoryUse() / 1048576.0);
  std::printf(
      "softlist: peak resident memory grew %.1f MiB = %.1fx the file during the first "
      "load (getrusage maxrss; file bytes, their copy and the XML tree, all freed after)\n",
      peak_growth, peak_growth / file_mib);

  TempFolder dir("softlist");
  const Setup s = MakeSetup(dir.path, *first);
  TimeRun(s, "", nullptr);  // brings every file into the page cache
  double off = 1e9, xml = 1e9, crc = 1e9;
  size_t xml_warnings = 0, crc_warnings = 0;
  for (int i = 0; i < 5; ++i) {
    // Interleaved, best of each kept: this machine's timings wander from one second to the next.
    off = std::min(off, TimeRun(s, "", nullptr));
    xml = std::min(xml, TimeRun(s, s.mess_xml, &xml_warnings));
    crc = std::min(crc, TimeRun(s, s.mess_crc, &crc_warnings));
  }
  std::printf(
      "softlist: %zu ROMs (%zu headered at real sizes, %zu plain, %zu unknown; %.0f MiB), "
      "mess stage and renaming on, best of 5:\n",
      s.headered + s.plain + s.unknown, s.headered, s.plain, s.unknown, s.bytes / 1048576.0);
  std::printf(
      "softlist:   against hash/nes.xml %.3f s, against crc/nes.crc %.3f s: ratio %.2f "
      "(mess stage skipped: %.3f s; renames refused as taken: %zu / %zu)\n",
      xml, crc, xml / crc, off, xml_warnings, crc_warnings);
  return 0;
}

}  // namespace quorvin::bench
