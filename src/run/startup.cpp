#include "run/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/fileops.h"
#include "platform/path.h"
#include "platform/text.h"
#include "presets/preset_file.h"

namespace quorvin {

namespace {

Status MakeFolders(const std::string& folder) {
  if (folder.empty() || IsFolder(folder)) return Status::Ok();
  std::string parent = FolderOf(folder);
  if (parent != folder && parent != ".") {
    Status s = MakeFolders(parent);
    if (!s.ok()) return s;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    return Status::Io(ErrnoMessage("create the folder", folder, errno));
  }
  return Status::Ok();
}

}  // namespace

void StartInteractive(Runner& runner) {
  (void)runner.RefreshPresets();
  Status s = runner.LoadPreset(kLastUsedPreset);
  if (!s.ok() && s.kind() != ErrorKind::kNotFound) runner.reporter().Warning(s.message());
}

Status RunCommandLine(Runner& runner, std::string_view command_line, bool revert) {
  (void)runner.RefreshPresets();
  runner.SilentMode = true;
  constexpr std::string_view kPresetFlag = "-preset ";
  size_t at = command_line.find(kPresetFlag);
  if (at != std::string_view::npos) {
    std::string_view name = command_line.substr(at + kPresetFlag.size());
    name = name.substr(0, name.find(' '));
    Status s = runner.LoadPreset(name);
    if (!s.ok()) return runner.Fail(s);
  } else {
    std::string text(command_line);
    constexpr std::string_view kSave = "-save";
    if (text.find(kSave) != std::string::npos) {
      text = ReplaceAll(text, kSave, "");
      runner.NeedsSaved = true;
    }
    std::vector<std::string> fields = Split(TrimBlanks(text), '|');
    if (fields.size() != static_cast<size_t>(kSettingCount)) {
      return runner.Fail(Status::InvalidInput(
          "The settings list has " + std::to_string(fields.size()) +
          " fields separated by \"|\"; " + std::to_string(kSettingCount) +
          " are needed, in this order: MESS folder, ROM folders, extension, system, description, "
          "author, convert ROMs (0/1), artwork folders, output dat, Dragon King folder, make "
          "config (0/1), add ROM paths (0/1), add artwork paths (0/1), add virtual directory "
          "(0/1), copy dat (0/1)"));
    }
    std::string preset;
    for (const std::string& f : fields) {
      preset.append(f);
      preset.append(kCrLf);
    }
    // Check the list before it replaces "lastused": a bad list must not damage the preset.
    const std::string path = PresetPath(runner.PresetsFolder(), kLastUsedPreset);
    auto parsed = ParsePreset(preset, "the settings list", runner.settings);
    if (!parsed.ok()) return runner.Fail(Status::InvalidInput(parsed.status().message()));
    Status s = WriteFileAtomic(path, preset);
    if (!s.ok()) return runner.Fail(s);
    s = runner.LoadPreset(kLastUsedPreset);
    if (!s.ok()) return runner.Fail(s);
  }
  return revert ? runner.RevertCommand() : runner.StartCommand();
}

int ExitStatusOf(const Status& status, size_t warnings) {
  if (!status.ok()) return kExitStopped;
  return warnings == 0 ? kExitDone : kExitWarnings;
}

Status ShutDown(Runner& runner) { return runner.SavePreset(kLastUsedPreset); }

std::string ResolveProgramFolder(const std::string& executable_folder) {
  if (const char* home = std::getenv("QUORVIN_HOME"); home != nullptr && *home != '\0') {
    return home;
  }
  if (!executable_folder.empty() && ::access(executable_folder.c_str(), W_OK) == 0) {
    return executable_folder;
  }
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
    return JoinPath(xdg, "quorvin");
  }
  const char* home = std::getenv("HOME");
  return JoinPath(JoinPath(home != nullptr ? home : ".", ".local/share"), "quorvin");
}

Status PrepareProgramFolder(const std::string& folder) {
  for (const char* sub : {"", "presets", "conversions"}) {
    Status s = MakeFolders(*sub ? JoinPath(folder, sub) : folder);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace quorvin
