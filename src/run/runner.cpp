#include "run/runner.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

#include "dat/scan.h"
#include "frontend/dk_setup.h"
#include "inject/compare_pass.h"
#include "inject/good_names.h"
#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"
#include "presets/preset_file.h"
#include "rename/renamer.h"

namespace quorvin {

namespace {

constexpr std::string_view kRomPathsMissing = "Rom Paths is a required Field, Fill it out Please";
constexpr std::string_view kExtensionMissing =
    "The Extension is a required Field, Fill it out Please";
constexpr std::string_view kHeaderNameMissing =
    "The Header Name is a required Field, Fill it out Please";

}  // namespace

bool IsDataMissing(const Status& status) {
  return status.kind() == ErrorKind::kInvalidInput &&
         (status.message() == kRomPathsMissing || status.message() == kExtensionMissing ||
          status.message() == kHeaderNameMissing);
}

Runner::Runner(std::string program_folder, Reporter& reporter)
    : program_folder_(std::move(program_folder)), reporter_(reporter) {}

std::string Runner::TempDatPath() const { return JoinPath(program_folder_, "tempdat.dat"); }
std::string Runner::PresetsFolder() const { return JoinPath(program_folder_, "presets"); }
std::string Runner::ConversionsFolder() const { return JoinPath(program_folder_, "conversions"); }
std::string Runner::CachePath() const {
  return JoinPath(program_folder_, std::string(kHashCacheFileName));
}

void Runner::SetStatus(std::string_view text) { reporter_.SetStatus(text); }

Status Runner::Fail(Status status) {
  reporter_.Message(status.Title(), status.message());
  return status;
}

Status Runner::DataMissing(std::string_view text) {
  reporter_.Message("Data Missing", text);
  return Status::InvalidInput(std::string(text));
}

Status Runner::StoppedBetweenStages(std::string_view what_is_left) {
  SetStatus("Status:  Stopped");
  return Status::Stopped("The run was stopped; " + std::string(what_is_left));
}

Status Runner::TakeProgramFolder(ProcessLock& lock) {
  const std::string path = JoinPath(program_folder_, "run.lock");
  bool told = false;
  while (true) {
    bool usable = true;
    // Without locks (a read-only program folder) the run goes on alone, as it always did.
    if (lock.TryTake(path, &usable) || !usable) return Status::Ok();
    if (!told) {
      SetStatus("Status:  Waiting For Another Run To Finish");
      told = true;
    }
    if (reporter_.StopRequested()) {
      SetStatus("Status:  Stopped");
      return Status::Stopped("The run was stopped while it waited for another run in " +
                             program_folder_ + " to finish; nothing was changed");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

Status Runner::StartCommand() {
  reporter_.ResetWarnings();
  RunSettings& s = settings;
  if (s.txtRom.empty()) return DataMissing(kRomPathsMissing);
  if (s.txtExtension.empty()) return DataMissing(kExtensionMissing);
  if (s.txtExtension[0] != '.') s.txtExtension = "." + s.txtExtension;
  if (s.txtOutput.empty()) s.txtOutput = JoinPath(program_folder_, "default.dat");
  const SystemBox& box = s.cmbHName;
  if (box.text == kSystemHint ||
      (box.selected && *box.selected < box.list.size() && box.list[*box.selected] == kSystemHint)) {
    return DataMissing(kHeaderNameMissing);
  }
  const std::string system = SystemName(s);
  if (s.txtDesc.empty()) s.txtDesc = system;
  if (s.txtAuthor.empty()) s.txtAuthor = std::string(kDefaultAuthor);

  ProcessLock lock;
  if (Status st = TakeProgramFolder(lock); !st.ok()) return st;
  // Find an unusable output path before the scan, not after minutes of checksumming.
  Status out_ok = CheckReplaceable(s.txtOutput);
  if (!out_ok.ok()) return Fail(out_ok);
  // The output's name chooses its format. The front end's list generator reads only the
  // clrmamepro text, so an XML output's games are written as text too, in memory, for its copy.
  const bool xml_out = DatFormatOf(s.txtOutput) == DatFormat::kXml;
  std::string text_form;

  SetStatus("Status:  Allocating Temporary Dat");
  const std::string temp_dat = TempDatPath();
  // Headered files (".nes") are noted with the CRC after their header, for software lists,
  // which alone look them up that way. Loose files note it from the read they get anyway (and
  // the cache keeps it); a zipped ROM's header would be inflated for it, so archives are
  // noted only when the run's database will be a software list.
  HeaderlessCrcs headerless;
  const bool note_headers = !IsArchiveExtension(s.txtExtension) ||
                            (!s.txtMessPath.empty() && IsFolder(s.txtMessPath) &&
                             GoodNamesPath(s.txtMessPath, system).ends_with(".xml"));
  // Archives that must keep their names (damaged, or their data not as their directory says).
  std::vector<std::string> held_back;
  // ROMs the dat left out (unreadable) or names otherwise than their files: not renamed.
  std::vector<LeftOutRom> left_out;
  // Loose files unchanged since an earlier run are not read again. Whatever goes wrong with
  // the cache is a warning; the scan goes on without it.
  std::unique_ptr<HashCache> cache = OpenHashCache(CachePath(), cache_options);
  Status st = MakeDat({system, s.txtDesc, s.txtAuthor, s.txtRom, s.txtExtension, s.chkVerify == 1},
                      temp_dat, reporter_, note_headers ? &headerless : nullptr, &left_out,
                      HashCacheUse{cache->usable() ? cache.get() : nullptr, Rehash}, &held_back);
  cache->Finish();
  for (const std::string& w : cache->TakeWarnings()) reporter_.Warning(w);
  cache.reset();
  if (st.kind() == ErrorKind::kRefused) return st;  // MakeDat has shown its message
  if (st.kind() == ErrorKind::kStopped) {
    SetStatus("Status:  Stopped");
    return st;
  }
  if (!st.ok()) return Fail(st);
  SetStatus("Status:  Inital Dat Creation Complete");

  const bool run_mess = !s.txtMessPath.empty() && IsFolder(s.txtMessPath);
  const bool rename_roms = s.chkCvtRoms == 1;
  const bool rename_art = !TrimBlanks(s.txtRenamePaths).empty();
  // The system's conversion table, read once and shared by the MESS stage (which records
  // into it) and the renaming stages. InvalidInput: the system name cannot name the file.
  Result<ConversionTable> table = Status::InvalidInput("not needed");
  if (run_mess || rename_roms || rename_art) {
    table = LoadConversionTable(system);
    if (table.ok()) {
      for (LeftOutRom& rom : left_out) table->LeaveOut(rom.name, std::move(rom.why));
    }
    if (!table.ok() && table.status().kind() != ErrorKind::kInvalidInput) {
      // The dat is still made; but a conversion file that could not be read is never
      // written over, and without it no rename could be recorded or reverted.
      reporter_.Warning(table.status().message() +
                        "; no rename was recorded and no file was renamed");
    }
  }
  if (!run_mess) {
    Skipmess = true;
    // A MESS folder that was given but is not there (a typing slip, a drive not mounted)
    // adds no good name: the run completes, but not as asked.
    if (!TrimBlanks(s.txtMessPath).empty()) {
      reporter_.Warning("The MESS folder " + s.txtMessPath +
                        " is not an existing folder: no good names added");
    }
    SetStatus("Status:  Mess Mode Skipped, Finalizing Dat");
    if (xml_out) {
      st = WriteOutputDat([&temp_dat](DatWriter& out) { return ReadTextDat(temp_dat, out); },
                          &text_form);
    } else {
      st = CopyFileAtomic(temp_dat, s.txtOutput);
    }
    if (!st.ok()) return Fail(st);
  } else {
    Skipmess = false;
    CrcDatabasePath = GoodNamesPath(s.txtMessPath, system);
    if (table.ok()) {
      // An earlier run's way back is kept while a file still carries its good name.
      auto carried = std::make_shared<const std::unordered_set<std::string>>(
          CarriedNames(s.txtRom, s.txtExtension, s.txtRenamePaths));
      table->SetCarriedCheck(
          [carried](std::string_view name) { return carried->contains(ToUpperAscii(name)); });
    }
    CompareOptions compare;
    compare.archives = IsArchiveExtension(s.txtExtension);
    compare.extension = s.txtExtension;
    compare.keep_names = held_back;
    st = RunMessStage(temp_dat, system, headerless, compare, table.ok() ? &*table : nullptr,
                      xml_out ? &text_form : nullptr);
    if (!st.ok()) return Fail(st);
  }

  if (reporter_.StopRequested()) {
    return StoppedBetweenStages("the dat " + s.txtOutput + " was written, no file was renamed");
  }
  if ((rename_roms || rename_art) && !table.ok()) {
    if (table.status().kind() == ErrorKind::kInvalidInput) {
      SetStatus("Status:  No System Name, Renaming Skipped");
      reporter_.Warning(table.status().message() + ", so no file was renamed");
    }
  } else {
    // A held-back archive keeps its name, and so does its artwork, whatever an earlier run
    // recorded for it.
    std::unordered_set<std::string> keep;
    for (const std::string& name : held_back) keep.insert(ToUpperAscii(name));
    if (rename_roms &&
        RenameRoms(s.txtRom, s.txtExtension, *table, RenameMode::kRename, reporter_, &keep)
            .stopped) {
      return StoppedBetweenStages(
          "some ROM files were renamed; Revert gives them their names back");
    }
    if (rename_art &&
        RenameArtwork(s.txtRenamePaths, *table, RenameMode::kRename, reporter_, &keep).stopped) {
      return StoppedBetweenStages("some files were renamed; Revert gives them their names back");
    }
  }
  if (reporter_.StopRequested()) {
    return StoppedBetweenStages("the dat was written and the files renamed, but " +
                                std::string("the front end was not set up"));
  }

  SetupDk(s, reporter_, xml_out ? &text_form : nullptr);
  SetStatus("Status:  Done");
  if (NeedsSaved) {
    st = SaveSettingsAsPreset();
    if (!st.ok()) return st;
  }
  return Status::Ok();
}

Status Runner::WriteOutputDat(const std::function<Status(DatWriter&)>& fill,
                              std::string* text_form) {
  auto out = CreateDatWriter(settings.txtOutput, reporter_);
  if (!out.ok()) return out.status();
  std::optional<TextDatWriter> text;
  std::optional<TeeDatWriter> both;
  DatWriter* to = out->get();
  if (text_form != nullptr) {
    text_form->clear();
    text.emplace(text_form);
    both.emplace(**out, *text);
    to = &*both;
  }
  Status st = fill(*to);
  if (!st.ok()) return st;
  return to->Commit();
}

Status Runner::RunMessStage(const std::string& temp_dat, const std::string& system,
                            const HeaderlessCrcs& headerless, const CompareOptions& compare,
                            ConversionTable* table, std::string* text_form) {
  // Without a usable database (missing, unreadable, a folder in its place) every game counts
  // as not found: the dat is still written, and the user is told once.
  auto opened = OpenGoodNames(settings.txtMessPath, system, &headerless, reporter_);
  EmptyGoodNames none;
  const GoodNameLookup* db = &none;
  if (opened.ok() && !opened->path.empty()) {
    db = opened->lookup.get();
  } else {
    reporter_.Warning("no CRC database for " + ForMessage(system) + " at " + CrcDatabasePath +
                      ": no good names added");
  }
  Status st = WriteOutputDat(
      [&](DatWriter& out) { return ComparePass(temp_dat, out, *db, table, reporter_, compare); },
      text_form);
  if (!st.ok()) return st;
  // The table is saved before any file is renamed: a rename it does not record could never
  // be reverted.
  if (table != nullptr) {
    st = table->Save();
    if (!st.ok()) {
      return Status::Io(st.message() +
                        "; the renames of this run were not recorded, so no file was renamed");
    }
  }
  return Status::Ok();
}

Result<ConversionTable> Runner::LoadConversionTable(const std::string& system) const {
  if (TrimBlanks(system).empty() || !IsPlainFileName(system + ".cnv")) {
    return Status::InvalidInput("The system name \"" + ForMessage(system) +
                                "\" cannot name a conversion file");
  }
  return ConversionTable::Load(ConversionFilePath(ConversionsFolder(), system));
}

Status Runner::RevertCommand() {
  reporter_.ResetWarnings();
  ProcessLock lock;
  if (Status st = TakeProgramFolder(lock); !st.ok()) return st;
  const std::string system = SystemName(settings);
  CrcDatabasePath = GoodNamesPath(settings.txtMessPath, system);
  auto table = LoadConversionTable(system);
  if (!table.ok()) {
    if (table.status().kind() != ErrorKind::kInvalidInput) {
      return Fail(Status::Io(table.status().message() + "; no file was reverted"));
    }
    SetStatus("Status:  No System Name, Nothing Reverted");
    reporter_.Warning(table.status().message() + ", so no file was reverted");
    return Status::Ok();
  }
  // The extension is completed as a run completes it, but only for this command.
  std::string extension = settings.txtExtension;
  if (!extension.empty() && extension[0] != '.') extension = "." + extension;
  if (extension.empty()) {
    // An empty pattern would take in every file of the folder and strip its extension.
    reporter_.Warning("No ROM extension is set, so the ROM files were not reverted");
  } else {
    if (RenameRoms(settings.txtRom, extension, *table, RenameMode::kRevert, reporter_).stopped) {
      return StoppedBetweenStages(
          "some files were given their earlier names; Revert again to finish");
    }
  }
  if (RenameArtwork(settings.txtRenamePaths, *table, RenameMode::kRevert, reporter_).stopped) {
    return StoppedBetweenStages(
        "some files were given their earlier names; Revert again to finish");
  }
  SetStatus("Status:  Reversion Complete");
  return Status::Ok();
}

void Runner::SetMessPath(std::string path) {
  settings.txtMessPath = std::move(path);
  RefillSystemList();
}

void Runner::RefillSystemList() {
  if (settings.txtMessPath.empty()) return;
  // The systems of the CRC databases and of the software lists, each once.
  auto crc_files = ListFolder(JoinPath(settings.txtMessPath, "crc"), "*.crc");
  auto list_files = ListFolder(JoinPath(settings.txtMessPath, "hash"), "*.xml");
  if (!crc_files.ok() && !list_files.ok()) return;  // the list keeps what it had
  std::vector<std::string> systems;
  for (const auto* files : {&crc_files, &list_files}) {
    if (!files->ok()) continue;
    for (const std::string& f : **files) systems.push_back(f.substr(0, f.size() - 4));
  }
  // Name order without regard to letter case, as the folder listing sorts; a system whose
  // two files differ only in case is one system.
  std::stable_sort(systems.begin(), systems.end(),
                   [](const std::string& a, const std::string& b) { return LessIgnoreCase(a, b); });
  systems.erase(std::unique(systems.begin(), systems.end(),
                            [](const std::string& a, const std::string& b) {
                              return EqualsIgnoreCase(a, b);
                            }),
                systems.end());
  SystemBox& box = settings.cmbHName;
  box.list = std::move(systems);
  box.selected.reset();
}

Status Runner::SavePreset(std::string_view name) {
  Status s = SavePresetFile(PresetsFolder(), name, settings);
  if (!s.ok()) return s;
  return RefreshPresets();
}

Status Runner::LoadPreset(std::string_view name) {
  Status s = CheckPresetName(name);
  if (!s.ok()) return s;
  const std::string path = PresetPath(PresetsFolder(), name);
  if (!IsFile(path)) {
    return Status::NotFound("There is no preset named \"" + ForMessage(name) + "\" in " +
                            PresetsFolder());
  }
  auto bytes = ReadWholeFile(path);
  if (!bytes.ok()) return bytes.status();
  auto parsed = ParsePreset(*bytes, "the preset file " + path, settings);
  if (!parsed.ok()) return parsed.status();
  UseSettings(std::move(parsed).value());
  return Status::Ok();
}

void Runner::UseSettings(RunSettings loaded) {
  std::string mess = loaded.txtMessPath;
  settings = std::move(loaded);
  SetMessPath(std::move(mess));
}

Status Runner::SaveSettingsAsPreset() {
  Status s = SavePreset(SystemName(settings));
  if (!s.ok()) return Fail(s);
  return s;
}

Status Runner::RefreshPresets() {
  auto names = ListPresets(PresetsFolder());
  if (!names.ok()) {
    presets.clear();
    return names.status();
  }
  presets = std::move(names).value();
  return Status::Ok();
}

}  // namespace quorvin
