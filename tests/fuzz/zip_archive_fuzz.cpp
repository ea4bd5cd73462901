// The zip reader and the scan of a folder of archives: any bytes named ".zip" are listed or
// reported as damaged (naming the archive); the scan never stops on them and never writes
// anything but its dat; verifying never reads a member past its declared size.
#include <string>
#include <vector>

#include "dat/scan.h"
#include "dat/zip_archive.h"
#include "fuzz_util.h"
#include "platform/reporter.h"

using namespace quorvin;

namespace {

class Warnings : public NullReporter {
 public:
  void Warning(std::string_view text) override { seen.emplace_back(text); }
  std::vector<std::string> seen;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string sandbox = fuzz::FreshSandbox("zip");
  const std::string roms = sandbox + "/roms";
  fuzz::RemoveTree(roms);
  fuzz::MakeDirs(roms);
  const std::string path = roms + "/game.zip";
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

  auto zip = ZipArchive::Open(path);
  if (!zip.ok()) {
    FUZZ_CHECK(zip.status().message().find(path) != std::string::npos, zip.status().message());
  } else {
    std::vector<uint8_t> buffer(4096);
    for (const ZipMember& m : zip->members()) {
      FUZZ_CHECK(!m.name.empty() && m.name.back() != '/', "a folder entry is a member");
      ZipMemberData got = zip->Verify(m, buffer.data(), buffer.size());
      FUZZ_CHECK(got.size <= m.size + buffer.size(), "verify read past the declared size");
    }
  }

  Warnings rep;
  std::vector<std::string> held;
  Status s = MakeDat({"nes", "d", "a", roms, ".zip", true}, sandbox + "/t.dat", rep, nullptr,
                     nullptr, HashCacheUse(), &held);
  FUZZ_CHECK(s.ok(), "the scan stopped on an archive: " + s.message());
  for (const std::string& w : rep.seen) {
    FUZZ_CHECK(w.find(path) != std::string::npos, "a warning does not name the archive: " + w);
  }
  FUZZ_CHECK(rep.seen.empty() || held == std::vector<std::string>{"game"},
             "a reported archive is not held back");
  FUZZ_CHECK(fuzz::Snapshot(roms).size() == 1, "the scan wrote beside the archive");
  return 0;
}
