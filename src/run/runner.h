#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/hash_cache.h"
#include "dat/dat_writer.h"
#include "dat/rom_header.h"
#include "inject/compare_pass.h"
#include "platform/process.h"
#include "platform/reporter.h"
#include "platform/status.h"
#include "rename/conversion_table.h"
#include "settings/settings.h"

namespace quorvin {

// The program's run object: the settings, the state that lives from one command to the next,
// and the commands themselves (Start, Revert, presets). The window and the headless program
// each own one; it shows everything through its Reporter.
class Runner {
 public:
  // `program_folder` holds tempdat.dat, default.dat, presets/ and conversions/.
  Runner(std::string program_folder, Reporter& reporter);

  RunSettings settings;
  // Started from a command line: a completed run ends the program.
  bool SilentMode = false;
  // The command line asked for "-save": a completed run saves the settings as a preset.
  bool NeedsSaved = false;
  // The MESS stage of the last run was skipped.
  bool Skipmess = false;
  // The current system's database path (its ".crc" file, else its software list); set by a
  // run's MESS stage and by Revert.
  std::string CrcDatabasePath;
  // The next runs read every ROM file and record it afresh in the CRC cache, rather than take
  // what the cache holds. Not a setting: presets do not keep it.
  bool Rehash = false;
  // How the CRC cache is used (tests shorten its waits).
  HashCacheOptions cache_options;
  // The preset names found at the last refresh.
  std::vector<std::string> presets;

  const std::string& program_folder() const { return program_folder_; }
  std::string TempDatPath() const;
  std::string PresetsFolder() const;
  std::string ConversionsFolder() const;
  // The CRC cache: crccache.db in the program folder.
  std::string CachePath() const;

  // The Start command: checks and completes the settings, then runs every stage in order.
  // Every failure has been shown as a message box before it is returned: InvalidInput for
  // the "Data Missing" checks, others for files that failed.
  Status StartCommand();
  // The Revert command: gives the system's renamed files their earlier names back.
  Status RevertCommand();
  // The warnings shown since the last Start or Revert command began: a command that returned
  // Ok with warnings completed, but skipped or failed something on the way.
  size_t warnings() const { return reporter_.warnings(); }

  // Sets the MESS folder and refills the system list from its crc folder.
  void SetMessPath(std::string path);
  // Refills the system list from the MESS crc folder; keeps the list when it cannot be read.
  void RefillSystemList();

  // Saves the settings as a preset of that name and refreshes the preset list.
  Status SavePreset(std::string_view name);
  // Loads a preset into the settings. NotFound when there is no such preset, Corrupt when the
  // file is not a preset (the settings are then left as they were).
  Status LoadPreset(std::string_view name);
  // Takes `loaded` as the settings, with its MESS folder (as a loaded preset is taken).
  void UseSettings(RunSettings loaded);
  // The save command: saves the settings as the preset named after the system.
  Status SaveSettingsAsPreset();
  Status RefreshPresets();

  // Shows a message box for a failed status and returns it.
  Status Fail(Status status);
  void SetStatus(std::string_view text);
  Reporter& reporter() { return reporter_; }

 private:
  Status DataMissing(std::string_view text);
  // The compare pass into the output dat against the system's database, recording renames
  // in `table` (when there is one), then the table saved. No usable database is a warning,
  // not a failure: every game is then written as it stands.
  // When `text_form` is given, the dat's games are also written there as clrmamepro text.
  Status RunMessStage(const std::string& temp_dat, const std::string& system,
                      const HeaderlessCrcs& headerless, const CompareOptions& compare,
                      ConversionTable* table, std::string* text_form);
  // Writes the output dat (txtOutput) in the format its name chooses, by `fill`, and commits
  // it; when `text_form` is given the same games go there as clrmamepro text too.
  Status WriteOutputDat(const std::function<Status(DatWriter&)>& fill, std::string* text_form);
  // The system's conversion table; InvalidInput when the system name cannot name a file.
  Result<ConversionTable> LoadConversionTable(const std::string& system) const;
  // The user's "Stop" between stages: Stopped, after the status line says so.
  Status StoppedBetweenStages(std::string_view what_is_left);
  // Waits, with a status line, until no other run or revert works in the program folder (a
  // second window, a script), then holds `lock` for this one: two runs at once would share
  // tempdat.dat and the conversion files. Stopped when the user stops while it waits.
  Status TakeProgramFolder(ProcessLock& lock);
  std::string program_folder_;
  CountingReporter reporter_;
};

// True for the Start command's "Data Missing" stops (a required field is empty): the user can
// fill the field in and start again.
bool IsDataMissing(const Status& status);

}  // namespace quorvin
