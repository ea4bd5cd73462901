#include "frontend/dk_setup.h"

#include <optional>
#include <vector>

#include "dat/dat_writer.h"
#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace quorvin {

namespace {

constexpr std::string_view kTitle = "Dragon King Setup";
constexpr std::string_view kMarker = "[/startvd]";
constexpr std::string_view kSearchStrings = "searchstrings:";
// What may stand after a system name in a search-string line.
constexpr std::string_view kSystemSeparators = " \t;,|\r";

struct DkContext {
  std::string folder;  // the front end's folder, with its trailing separator
  std::string system;
  Reporter& reporter;

  // A step that cannot do its work is a warning: the run goes on, and counts it.
  void Report(const std::string& text) const {
    reporter.Warning(std::string(kTitle) + ": " + text);
  }
  std::string Path(std::string_view name) const { return ResolveNameIgnoreCase(folder, name); }
  // The system name as part of a file name in the front end's folder.
  bool SystemNameUsable(std::string_view what) const {
    if (!TrimBlanks(system).empty() && IsPlainFileName(system)) return true;
    Report("The system name \"" + system + "\" cannot name a file, so " + std::string(what) +
           " was skipped");
    return false;
  }
};

void MakeConfigFile(const DkContext& dk, const std::string& extension) {
  dk.reporter.SetStatus("Status:  Making Dk Cfg Entry");
  const std::string cfgs = dk.Path("cfgs");
  if (!IsFolder(cfgs)) {
    dk.Report("The folder " + cfgs + " does not exist, so no config file was made");
    return;
  }
  if (!dk.SystemNameUsable("the config file")) return;
  const std::string cfg = ResolveNameIgnoreCase(cfgs, dk.system + ".cfg");
  std::string bytes;
  if (IsFile(cfg)) {
    auto existing = ReadWholeFile(cfg);
    if (!existing.ok()) return dk.Report(existing.status().message());
    bytes = std::move(existing).value();
  } else {
    const std::string templ = ResolveNameIgnoreCase(cfgs, "template.cfg");
    auto read = ReadWholeFile(templ);
    if (!read.ok()) {
      return dk.Report(read.status().kind() == ErrorKind::kNotFound
                           ? "The template " + templ + " does not exist, so no config file was made"
                           : read.status().message());
    }
    if (read->find('\0') != std::string::npos) {
      return dk.Report("The template " + templ + " is not a text file, so no config file was made");
    }
    bytes = std::move(read).value();
  }
  // A new config file is the template with the key already set, written in one step.
  ProfileFile profile = ProfileFile::Parse(bytes);
  Status s = profile.Set("Config", "extension", extension);
  if (s.ok() && (!IsFile(cfg) || profile.Serialize() != bytes)) s = profile.Save(cfg);
  if (!s.ok()) dk.Report(s.message() + "; the config file was not changed");
}

void AddPaths(const DkContext& dk, std::string_view key, std::string_view folders) {
  const std::string ini = dk.Path("dirs.ini");
  auto profile = ProfileFile::Load(ini);
  if (!profile.ok()) return dk.Report(profile.status().message());
  const std::optional<std::string> stored = profile->Get("Dirs", key);
  const std::string merged = MergePathList(stored.value_or(""), folders);
  if (stored == merged) return;  // nothing to add, nothing to rewrite
  Status s = profile->Set("Dirs", key, merged);
  if (s.ok()) s = profile->Save(ini);
  if (!s.ok()) dk.Report(s.message() + "; the folders were not added to it");
}

void AddVirtualDirectoryStep(const DkContext& dk, std::string_view description) {
  const std::string ini = dk.Path("dirs.ini");
  // Each goes on a line of its own; a line break would split the entry, and the next run
  // would not recognise it and add another.
  if ((dk.system + std::string(description)).find_first_of("\r\n") != std::string::npos) {
    return dk.Report(
        "The system name or the description holds a line break, so no virtual "
        "directory was added to " +
        ini);
  }
  auto bytes = ReadWholeFile(ini);
  if (!bytes.ok()) {
    return dk.Report(bytes.status().kind() == ErrorKind::kNotFound
                         ? "The file " + ini + " does not exist, so no virtual directory was added"
                         : bytes.status().message());
  }
  bool no_marker = false;
  std::string text = AddVirtualDirectory(*bytes, dk.system, description, &no_marker);
  if (no_marker) {
    return dk.Report("The file " + ini +
                     " has no \"[/startvd]\" line, so no virtual directory was added");
  }
  if (text == *bytes) return;
  Status s = WriteFileAtomic(ini, text);
  if (!s.ok()) dk.Report(s.message() + "; no virtual directory was added");
}

// The list generator reads only the clrmamepro text: an XML output is never copied as it
// stands; its text form (`text_form`) is written in its place.
void CopyDat(const DkContext& dk, const std::string& output_dat, const std::string* text_form) {
  dk.reporter.SetStatus("Status:  Copying Dat to Dk List Generator");
  const std::string dats = ResolveNameIgnoreCase(dk.Path("list generator"), "dats");
  if (!IsFolder(dats)) {
    dk.Report("The folder " + dats +
              " does not exist, so the dat was not copied to the list generator");
    return;
  }
  if (!dk.SystemNameUsable("the copy for the list generator")) return;
  const std::string target = ResolveNameIgnoreCase(dats, dk.system + ".dat");
  if (text_form == nullptr && DatFormatOf(output_dat) == DatFormat::kXml) {
    dk.Report("The dat " + output_dat + " is an XML dat and the list generator reads only " +
              "clrmamepro text dats, so it was not copied to the list generator");
    return;
  }
  Status s = text_form != nullptr ? WriteFileAtomic(target, *text_form)
                                  : CopyFileAtomic(output_dat, target);
  if (!s.ok()) dk.Report(s.message() + "; the dat was not copied to the list generator");
}

// Whether a search-string line holds "5=" and the system's whole name, letter case aside:
// the name must be followed by the end of the line or by a separator, so that "5=nesx" does
// not count for the system nes.
bool NamesSystem(std::string_view line, std::string_view system) {
  const std::string upper = ToUpperAscii(line);
  const std::string wanted = "5=" + ToUpperAscii(system);
  for (size_t at = upper.find(wanted); at != std::string::npos; at = upper.find(wanted, at + 1)) {
    const size_t end = at + wanted.size();
    if (end == upper.size() || kSystemSeparators.find(upper[end]) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string MergePathList(std::string_view stored, std::string_view folders) {
  std::string list = ToUpperAscii(stored);
  for (const std::string& folder : Split(ToUpperAscii(folders), ';')) {
    // The stored list comes back from dirs.ini without blanks around it, so an element is
    // compared and added without its own: otherwise a folder ending in a blank would never
    // be found again and would be added once more on every run.
    const std::string_view element = TrimBlanks(folder);
    if (element.empty()) continue;
    if (list.empty() || list.find(element) == std::string::npos) {
      list.push_back(';');
      list.append(element);
    }
  }
  return list;
}

std::string AddVirtualDirectory(std::string_view dirs_ini, std::string_view system,
                                std::string_view description, bool* no_marker) {
  *no_marker = false;
  std::vector<std::string_view> before;
  ProfileLines lines(dirs_ini);
  ProfileLine read;
  while (true) {
    const size_t start = lines.offset();
    if (!lines.Next(&read)) break;
    const std::string_view line = read.text;
    const bool marker = line.starts_with(kMarker);
    if ((marker || line.starts_with(kSearchStrings)) && NamesSystem(line, system)) {
      return std::string(dirs_ini);  // this system has its virtual directory already
    }
    if (marker) {
      std::string out;
      for (std::string_view l : before) {
        out.append(l);
        out.append(kCrLf);
      }
      const std::string desc(description), sys(system);
      for (const std::string& l :
           {std::string("[Path]"), "logo=" + desc + ".png", "caption=" + desc,
            std::string("useclones=1"), "searchstrings:5=" + sys, std::string("filters:"),
            std::string("[/path]")}) {
        out.append(l);
        out.append(kCrLf);
      }
      // The marker line and all after it stay as they are.
      out.append(dirs_ini.substr(start));
      return out;
    }
    if (!before.empty() || !line.empty()) before.push_back(line);
  }
  *no_marker = true;
  return std::string(dirs_ini);
}

void SetupDk(RunSettings& settings, Reporter& reporter, const std::string* text_dat) {
  if (settings.txtDkPath.empty()) return;
  if (!IsFolder(settings.txtDkPath)) {
    // A folder that was given but is not there (a typing slip, a drive not mounted): the
    // steps asked for are not done, and the run must not end as if they were.
    const bool asked = settings.chkMakeCfg == 1 || settings.chkRomAdd == 1 ||
                       settings.chkArtwork == 1 || settings.chkVdirAdd == 1 ||
                       settings.chkDatAdd == 1;
    if (asked) {
      reporter.Warning(std::string(kTitle) + ": The Dragon King folder " + settings.txtDkPath +
                       " is not an existing folder, so the front end was not set up");
    }
    return;
  }
  settings.txtDkPath = WithTrailingSep(settings.txtDkPath);
  const DkContext dk{settings.txtDkPath, SystemName(settings), reporter};
  if (settings.chkMakeCfg == 1) MakeConfigFile(dk, settings.txtExtension);
  if (settings.chkRomAdd == 1) {
    reporter.SetStatus("Status:  Adding Dk Vdir Entry");
    AddPaths(dk, "roms", settings.txtRom);
  }
  if (settings.chkArtwork == 1) AddPaths(dk, "Additional AW Dirs", settings.txtRenamePaths);
  if (settings.chkVdirAdd == 1) AddVirtualDirectoryStep(dk, settings.txtDesc);
  if (settings.chkDatAdd == 1) CopyDat(dk, settings.txtOutput, text_dat);
}

}  // namespace quorvin
