// The front-end setup on arbitrary dirs.ini, template and config files and settings: it
// never damages what it cannot use, and a second run with the same settings changes nothing.
#include <map>
#include <string>

#include "frontend/dk_setup.h"
#include "fuzz_util.h"
#include "platform/reporter.h"

using namespace quorvin;

namespace {

std::string Describe(const std::map<std::string, std::string>& a,
                     const std::map<std::string, std::string>& b) {
  for (const auto& [name, bytes] : b) {
    auto it = a.find(name);
    if (it == a.end()) return name + " appeared";
    if (it->second != bytes) return name + " changed:\n" + it->second + "\n----\n" + bytes;
  }
  for (const auto& [name, bytes] : a)
    if (!b.count(name)) return name + " disappeared";
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string sandbox = fuzz::FreshSandbox("dk");
  // dirs.ini, template.cfg, the system's config file (none when empty), then the settings:
  // ROM folders, artwork folders, system name, description, extension.
  const std::vector<std::string> p = fuzz::SplitParts(data, size, 8);
  const std::string dk = sandbox + "/dk";
  fuzz::RemoveTree(dk);
  fuzz::MakeDirs(dk + "/cfgs");
  fuzz::MakeDirs(dk + "/list generator/dats");
  fuzz::WriteFile(dk + "/dirs.ini", p[0]);
  fuzz::WriteFile(dk + "/cfgs/template.cfg", p[1]);
  fuzz::WriteFile(sandbox + "/out.dat", "the dat\r\n");

  RunSettings s;
  s.txtDkPath = dk;
  s.txtRom = p[3];
  s.txtRenamePaths = p[4];
  s.cmbHName.text = p[5];
  s.txtDesc = p[6];
  s.txtExtension = p[7];
  s.txtOutput = sandbox + "/out.dat";
  if (!p[2].empty() && s.cmbHName.text.find_first_of("/\0", 0, 2) == std::string::npos &&
      s.cmbHName.text != "." && s.cmbHName.text != ".." && !s.cmbHName.text.empty() &&
      s.cmbHName.text.size() < 200) {
    fuzz::WriteFile(dk + "/cfgs/" + s.cmbHName.text + ".cfg", p[2]);
  }
  NullReporter reporter;
  SetupDk(s, reporter);
  const auto once = fuzz::Snapshot(sandbox);
  SetupDk(s, reporter);
  const auto twice = fuzz::Snapshot(sandbox);
  FUZZ_CHECK(once == twice, "the second run changed something: " + Describe(once, twice));
  return 0;
}
