// quorvin.exe: the window on Windows. Without arguments it comes up with the settings of the
// last session; with a command line (a settings list, or -preset NAME) it shows itself, runs
// at once, and ends by itself when the run is over.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/status.h"
#include "platform/wide_win32.h"
#include "run/startup.h"
#include "ui/win32/main_window_win32.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = quorvin::ProgramArguments(argc, argv);
  const std::string folder = quorvin::ResolveProgramFolder(quorvin::ExecutableFolder());
  if (quorvin::Status s = quorvin::PrepareProgramFolder(folder); !s.ok()) {
    MessageBoxW(nullptr, quorvin::Widen(s.message()).c_str(), quorvin::Widen(s.Title()).c_str(),
                MB_OK | MB_ICONERROR);
    return quorvin::kExitStopped;
  }
  return quorvin::win32::RunMainWindow(GetModuleHandleW(nullptr), folder, args);
}
