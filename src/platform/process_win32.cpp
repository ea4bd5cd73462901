// <windows.h> (through wide_win32.h) must come before <shellapi.h>.
// clang-format off
#include "platform/wide_win32.h"

#include <shellapi.h>
// clang-format on

#include "platform/path.h"
#include "platform/process.h"

namespace quorvin {

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
  // argv holds the arguments in the ANSI code page, where other names are already lost.
  std::vector<std::string> out;
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide == nullptr) return out;
  for (int i = 1; i < n; ++i) out.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return out;
}

std::string ExecutableFolder() {
  std::wstring buf(MAX_PATH, L'\0');
  while (true) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  if (buf.rfind(L"\\\\?\\", 0) == 0 && buf.rfind(L"\\\\?\\UNC\\", 0) != 0) buf.erase(0, 4);
  return FolderOf(Narrow(buf));
}

std::string EnvironmentValue(const char* name) {
  const std::wstring wname = Widen(name);
  DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(wname.c_str(), value.data(), n);
  value.resize(n);
  return Narrow(value);
}

std::string UserDataFolder() {
  std::string base = EnvironmentValue("LOCALAPPDATA");
  if (base.empty()) {
    std::string profile = EnvironmentValue("USERPROFILE");
    base = profile.empty() ? "." : JoinPath(JoinPath(profile, "AppData"), "Local");
  }
  return JoinPath(base, "Quorvin");
}

bool IsWritableFolder(const std::string& folder) {
  if (folder.empty()) return false;
  // The read-only attribute of a folder means nothing to Windows; its permissions (under
  // "Program Files", say) decide. Trying is the only sure test.
  const std::wstring probe =
      WidePath(JoinPath(folder, ".quorvin-write-test-" + std::to_string(GetCurrentProcessId())));
  HANDLE h = CreateFileW(
      probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool PrepareConsole() {
  // Our texts are UTF-8; a console shows them right only in that code page.
  SetConsoleOutputCP(CP_UTF8);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err == INVALID_HANDLE_VALUE || !GetConsoleMode(err, &mode)) return false;
  // The status line is rewritten with terminal escapes, which a console understands only
  // in this mode (Windows 10 and later).
  return SetConsoleMode(err, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) !=
         0;
}

ProcessLock::~ProcessLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ProcessLock::TryTake(const std::string& path, bool* usable) {
  *usable = true;
  if (handle_ != -1) return true;
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *usable = false;
    return false;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING) *usable = false;
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

}  // namespace quorvin
