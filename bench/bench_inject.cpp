// A whole run with the MESS stage and renaming on, against the same run with both off, and
// how the run grows when files and database entries double.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench_util.h"
#include "dat/crc.h"
#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/reporter.h"
#include "run/runner.h"
#include "run/startup.h"

namespace quorvin::bench {

namespace {

struct Collection {
  std::string home, roms, mess;
};

Collection MakeCollection(const std::string& root, int files, int entries) {
  Collection c{root + "/home", root + "/roms", root + "/mess"};
  std::filesystem::create_directories(c.roms);
  std::filesystem::create_directories(c.mess + "/crc");
  (void)PrepareProgramFolder(c.home);
  std::mt19937_64 rng(9);
  std::vector<char> data(64 * 1024);
  for (char& ch : data) ch = static_cast<char>(rng());
  std::ofstream db(c.mess + "/crc/nes.crc", std::ios::binary);
  db << "[nes]\r\n";
  for (int i = 0; i < files; ++i) {
    size_t size = 8 * 1024 + rng() % (56 * 1024);
    std::memcpy(data.data(), &i, sizeof i);
    char name[32];
    std::snprintf(name, sizeof name, "/rom%06d.nes", i);
    std::ofstream(c.roms + name, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(size));
    char line[128];
    std::snprintf(line, sizeof line, "%08x=Game %06d (U) [!]|1990|Maker %d|status good\r\n",
                  Crc32({data.data(), size}), i, i % 50);
    db << line;
  }
  for (int i = files; i < entries; ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "%08x=Other %06d (E)|1991|Maker|\r\n",
                  static_cast<uint32_t>(rng()), i);
    db << line;
  }
  return c;
}

Runner MakeRunner(const Collection& c, Reporter& rep, bool mess_and_rename) {
  Runner r(c.home, rep);
  r.settings.txtMessPath = mess_and_rename ? c.mess : "";
  r.settings.txtRom = c.roms;
  r.settings.txtExtension = ".nes";
  r.settings.cmbHName.text = "nes";
  r.settings.chkCvtRoms = mess_and_rename ? 1 : 0;
  return r;
}

// One Start command; `revert_after` gives the files their first names back, untimed.
double TimeRun(const Collection& c, bool mess_and_rename, bool revert_after) {
  NullReporter rep;
  Runner r = MakeRunner(c, rep, mess_and_rename);
  auto t0 = Clock::now();
  Status s = r.StartCommand();
  double secs = Seconds(t0);
  if (!s.ok()) std::fprintf(stderr, "%s\n", s.ToString().c_str());
  if (revert_after) (void)r.RevertCommand();
  return secs;
}

struct Figures {
  double off = 1e9;     // mess stage skipped, renaming off
  double first = 1e9;   // mess stage on, renaming on, every file renamed
  double off2 = 1e9;    // the "off" run again, over the renamed files
  double steady = 1e9;  // mess stage on, renaming on, files already carrying their good names
};

// Runs are interleaved and the best of each kind is kept: this machine's timings wander by
// a fifth from one second to the next.
Figures Measure(const Collection& c, int reps) {
  Figures f;
  for (int i = 0; i < reps; ++i) {
    f.off = std::min(f.off, TimeRun(c, false, false));
    f.first = std::min(f.first, TimeRun(c, true, true));
  }
  TimeRun(c, true, false);  // leave the files renamed
  for (int i = 0; i < reps; ++i) {
    f.off2 = std::min(f.off2, TimeRun(c, false, false));
    f.steady = std::min(f.steady, TimeRun(c, true, false));
  }
  TimeRun(c, true, true);
  return f;
}

// What the file system alone needs to rename every file there and back: the floor under
// any run that renames them.
double RenameFloor(const Collection& c) {
  auto names = ListFolder(c.roms, "*.nes");
  auto t0 = Clock::now();
  for (const std::string& n : *names) {
    (void)RenameNoReplace(c.roms + "/" + n, c.roms + "/x" + n);
  }
  double secs = Seconds(t0);
  for (const std::string& n : *names) (void)RenameNoReplace(c.roms + "/x" + n, c.roms + "/" + n);
  return secs;
}

}  // namespace

int BenchInject() {
  TempFolder small("inject1"), big("inject2");
  Collection a = MakeCollection(small.path, 20000, 50000);
  Collection b = MakeCollection(big.path, 40000, 100000);
  TimeRun(a, false, false);  // bring the files into the page cache
  TimeRun(b, false, false);
  const double floor = RenameFloor(a);
  const Figures fa = Measure(a, 5);
  const Figures fb = Measure(b, 3);
  std::printf("inject: 20,000 files, 50,000 entries, mess stage skipped and renaming off: %.3f s\n",
              fa.off);
  std::printf(
      "inject:   mess stage on, renaming on, every file renamed: %.3f s, ratio %.2f "
      "(the file system's own 20,000 renames alone take %.3f s)\n",
      fa.first, fa.first / fa.off, floor);
  std::printf(
      "inject:   mess stage on, renaming on, files already renamed: %.3f s, ratio %.2f "
      "(to %.3f s for the same files with both off)\n",
      fa.steady, fa.steady / fa.off2, fa.off2);
  std::printf(
      "inject: 40,000 files, 100,000 entries: every file renamed %.3f s (x%.2f), "
      "already renamed %.3f s (x%.2f), both off %.3f s (x%.2f)\n",
      fb.first, fb.first / fa.first, fb.steady, fb.steady / fa.steady, fb.off, fb.off / fa.off);
  return 0;
}

}  // namespace quorvin::bench
