#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The main window drawn with plain Win32 and the common controls over the window model. It
// only draws the model, forwards what the user does, shows the system's dialogs, and brings
// the model's notifications onto the window's thread with PostMessageW.
namespace quorvin::win32 {

// Control IDs, fixed so that tests can find every control with GetDlgItem.
enum ControlId : int {
  kIdFraMess = 100,
  kIdLabel9,
  kIdTxtMessPath,
  kIdCmdMessBrowse,
  kIdFrmPreset,
  kIdCmbPresets,
  kIdFraDatGen,
  kIdLabel4,
  kIdTxtRom,
  kIdLabel5,
  kIdTxtExtension,
  kIdLabel6,
  kIdCmbHName,
  kIdLabel7,
  kIdTxtDesc,
  kIdLabel8,
  kIdTxtAuthor,
  kIdFrmRenaming,
  kIdChkCvtRoms,
  kIdLabel1,
  kIdTxtRenamePaths,
  kIdLabel3,
  kIdTxtOutput,
  kIdCommand1,
  kIdFrmDk,
  kIdLabel10,
  kIdLabel2,
  kIdTxtDkPath,
  kIdCmdDkBrowse,
  kIdChkMakeCfg,
  kIdChkRomAdd,
  kIdChkArtwork,
  kIdChkVdirAdd,
  kIdChkDatAdd,
  kIdCmdStart,
  kIdCmdSave,
  kIdCmdRevert,
  kIdCmdReadme,
  kIdCmdAbout,
  kIdLStatus,
  kIdProgress,
  kIdChkRehash,  // beside Revert All Changes; added last, so the IDs before it stay as they were
  kIdChkVerify,  // beside Convert Roms to Good Names; likewise added last
};

// Runs the window until it is closed or a command-line run ends it; the exit status.
// `program_folder` must exist (PrepareProgramFolder); `args` are the program's arguments as
// UTF-8 (none: an interactive start).
int RunMainWindow(HINSTANCE instance, const std::string& program_folder,
                  const std::vector<std::string>& args);

}  // namespace quorvin::win32
