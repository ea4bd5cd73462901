#include "run/startup.h"

#include <vector>

#include "platform/fileops.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "presets/preset_file.h"
#include "settings/settings.h"

namespace quorvin {

namespace {

Status MakeFolders(const std::string& folder) {
  if (folder.empty() || IsFolder(folder)) return Status::Ok();
  std::string parent = FolderOf(folder);
  if (parent != folder && parent != ".") {
    Status s = MakeFolders(parent);
    if (!s.ok()) return s;
  }
  return MakeFolder(folder);
}

}  // namespace

void StartInteractive(Runner& runner) {
  (void)runner.RefreshPresets();
  Status s = runner.LoadPreset(kLastUsedPreset);
  if (!s.ok() && s.kind() != ErrorKind::kNotFound) runner.reporter().Warning(s.message());
}

namespace {

constexpr std::string_view kPresetWord = "-preset";
constexpr std::string_view kSaveWord = "-save";
constexpr std::string_view kVerifyWord = "--verify";

// What each field of a settings list holds, for messages.
constexpr std::string_view kFieldNames[kSettingCount] = {
    "MESS folder",       "ROM folders",
    "extension",         "system",
    "description",       "author",
    "convert ROMs",      "artwork folders",
    "output dat",        "Dragon King folder",
    "make config",       "add ROM paths",
    "add artwork paths", "add virtual directory",
    "copy dat"};
constexpr int kCheckFields[] = {6, 10, 11, 12, 13, 14};

std::string FieldLabel(size_t i) {
  return "Field " + std::to_string(i + 1) + " (" + std::string(kFieldNames[i]) + ")";
}

std::string JoinWithBlanks(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.push_back(' ');
    out.append(parts[i]);
  }
  return out;
}

// Takes "-save" words off both ends of a joined settings list; true when there was one.
bool TakeSaveWords(std::string_view& text) {
  bool found = false;
  while (true) {
    text = TrimBlanks(text);
    if (text == kSaveWord) {
      text = std::string_view();
    } else if (text.starts_with(kSaveWord) && text[kSaveWord.size()] == ' ') {
      text.remove_prefix(kSaveWord.size());
    } else if (text.ends_with(kSaveWord) && text.size() > kSaveWord.size() &&
               text[text.size() - kSaveWord.size() - 1] == ' ') {
      text.remove_suffix(kSaveWord.size());
    } else {
      return found;
    }
    found = true;
  }
}

Result<CommandLine> PresetNamed(std::string name) {
  if (TrimBlanks(name).empty()) {
    return Status::InvalidInput("A preset name is missing after -preset");
  }
  CommandLine line;
  line.named_preset = true;
  line.preset = std::move(name);
  return line;
}

Result<CommandLine> ParseRest(const std::vector<std::string>& args);

}  // namespace

Result<CommandLine> ParseCommandLine(const std::vector<std::string>& args_given) {
  std::vector<std::string> args = args_given;
  bool verify = false;
  while (!args.empty() && args[0] == kVerifyWord) {
    verify = true;
    args.erase(args.begin());
  }
  auto parsed = ParseRest(args);
  if (parsed.ok()) parsed->verify = verify;
  return parsed;
}

namespace {

Result<CommandLine> ParseRest(const std::vector<std::string>& args) {
  if (args.empty()) return Status::InvalidInput("The command line is empty");
  const std::string& first = args[0];
  if (first == kPresetWord) {
    if (args.size() < 2) return PresetNamed("");
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] != kSaveWord) {
        return Status::InvalidInput("Unexpected argument \"" + ForMessage(args[i]) +
                                    "\" after the preset name \"" + ForMessage(args[1]) +
                                    "\"; a name that holds blanks goes in quotes");
      }
    }
    return PresetNamed(args[1]);
  }
  if (first.starts_with(kPresetWord) && first.size() > kPresetWord.size() &&
      first[kPresetWord.size()] == ' ') {
    // A joined command line: the name is the word after "-preset ", cut at its first blank.
    const std::string joined = JoinWithBlanks(args);
    std::string_view rest = TrimBlanks(std::string_view(joined).substr(kPresetWord.size()));
    return PresetNamed(std::string(rest.substr(0, rest.find(' '))));
  }

  CommandLine line;
  std::vector<std::string> parts;
  for (const std::string& a : args) {
    if (a == kSaveWord) {
      line.save = true;
    } else {
      parts.push_back(a);
    }
  }
  const std::string joined = JoinWithBlanks(parts);
  std::string_view text = joined;
  if (TakeSaveWords(text)) line.save = true;
  if (text.empty()) return Status::InvalidInput("The settings list is missing");
  line.fields = Split(text, '|');
  const size_t n = line.fields.size();
  if (n != static_cast<size_t>(kSettingCount)) {
    return Status::InvalidInput(
        "The settings list has " + std::to_string(n) + (n == 1 ? " field" : " fields") +
        " separated by \"|\"; " + std::to_string(kSettingCount) +
        " are needed, in this order: MESS folder, ROM folders, extension, system, description, "
        "author, convert ROMs (0/1), artwork folders, output dat, Dragon King folder, make "
        "config (0/1), add ROM paths (0/1), add artwork paths (0/1), add virtual directory "
        "(0/1), copy dat (0/1)");
  }
  for (size_t i = 0; i < n; ++i) {
    // A line break would shift every later setting of the preset it is written to.
    if (line.fields[i].find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      return Status::InvalidInput(FieldLabel(i) +
                                  " of the settings list holds a line break or NUL: \"" +
                                  ForMessage(line.fields[i]) + "\"");
    }
  }
  for (int i : kCheckFields) {
    const std::string& f = line.fields[static_cast<size_t>(i)];
    if (!ParseCheck(f)) {
      return Status::InvalidInput(FieldLabel(static_cast<size_t>(i)) +
                                  " of the settings list should be a check value (0 or 1) but "
                                  "reads \"" +
                                  ForMessage(f) + "\"");
    }
  }
  return line;
}

}  // namespace

Status RunCommandLine(Runner& runner, const std::vector<std::string>& args, bool revert) {
  auto line = ParseCommandLine(args);
  if (!line.ok()) return runner.Fail(line.status());
  return RunCommandLine(runner, *line, revert);
}

Status RunCommandLine(Runner& runner, const CommandLine& line, bool revert) {
  (void)runner.RefreshPresets();
  runner.SilentMode = true;
  if (line.named_preset) {
    Status s = runner.LoadPreset(line.preset);
    if (!s.ok()) return runner.Fail(s);
  } else {
    std::string preset;
    for (const std::string& f : line.fields) {
      preset.append(f);
      preset.append(kCrLf);
    }
    // Check the list before it replaces "lastused": a bad list must not damage the preset.
    auto parsed = ParsePreset(preset, "the settings list", runner.settings);
    if (!parsed.ok()) return runner.Fail(Status::InvalidInput(parsed.status().message()));
    // A script that runs the same list again and again finds it there already: rewriting it
    // (a write, a flush to the disk and a rename) would cost more than the rest of a run the
    // CRC cache serves.
    const std::string last_used = PresetPath(runner.PresetsFolder(), kLastUsedPreset);
    if (auto held = ReadWholeFile(last_used); !held.ok() || *held != preset) {
      Status s = WriteFileAtomic(last_used, preset);
      if (!s.ok()) return runner.Fail(s);
    }
    // The settings are the ones just checked, not "lastused" read back: another run in the
    // same program folder may have replaced it meanwhile with its own list.
    runner.UseSettings(std::move(parsed).value());
    if (line.save) runner.NeedsSaved = true;
  }
  if (line.verify) runner.settings.chkVerify = 1;
  return revert ? runner.RevertCommand() : runner.StartCommand();
}

int ExitStatusOf(const Status& status, size_t warnings) {
  if (!status.ok()) return kExitStopped;
  return warnings == 0 ? kExitDone : kExitWarnings;
}

Status ShutDown(Runner& runner) { return runner.SavePreset(kLastUsedPreset); }

std::string ResolveProgramFolder(const std::string& executable_folder) {
  std::string home = EnvironmentValue("QUORVIN_HOME");
  if (!home.empty()) return home;
  if (IsWritableFolder(executable_folder)) return executable_folder;
  return UserDataFolder();
}

Status PrepareProgramFolder(const std::string& folder) {
  for (const char* sub : {"", "presets", "conversions"}) {
    Status s = MakeFolders(*sub ? JoinPath(folder, sub) : folder);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace quorvin
