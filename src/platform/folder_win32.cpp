// Folder listings on Windows. The pattern is matched by WildcardMatch, not by the system's
// search: Windows also matches patterns against the short 8.3 names, so that "*.nes" would
// find "Game.nesx" (short name GAME~1.NES), and "?" would behave differently at name ends.

#include <algorithm>

#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/wide_win32.h"

namespace quorvin {

namespace {

// Calls `each` with every entry of the folder but "." and "..". Returns the error that ended
// the listing, ERROR_SUCCESS when it ran to the end.
template <typename Each>
DWORD ForEachEntry(const std::string& folder, Each each) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(WidePath(JoinPath(folder, "*")).c_str(), FindExInfoBasic, &data,
                              FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;  // a drive with nothing on it
  }
  DWORD error = ERROR_SUCCESS;
  do {
    std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (!each(data)) break;
  } while (FindNextFileW(h, &data) || (error = GetLastError()) != ERROR_NO_MORE_FILES);
  if (error == ERROR_NO_MORE_FILES) error = ERROR_SUCCESS;
  FindClose(h);
  return error;
}

}  // namespace

Result<std::vector<std::string>> ListFolder(const std::string& folder, std::string_view pattern) {
  if (folder.empty() || !IsFolder(folder)) {
    return Status::NotFound("The folder " + folder + " does not exist");
  }
  std::vector<std::string> names;
  DWORD error = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& e) {
    constexpr DWORD kSkip =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (e.dwFileAttributes & kSkip) return true;
    std::string name = Narrow(e.cFileName);
    if (WildcardMatch(pattern, name)) names.push_back(std::move(name));
    return true;
  });
  if (error != ERROR_SUCCESS) return Status::Io(Win32Message("list the folder", folder, error));
  SortIgnoreCase(names);
  return names;
}

Result<std::vector<std::string>> ListEntries(const std::string& folder) {
  if (folder.empty() || !IsFolder(folder)) {
    return Status::NotFound("The folder " + folder + " does not exist");
  }
  std::vector<std::string> names;
  DWORD error = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& e) {
    names.push_back(Narrow(e.cFileName));
    return true;
  });
  if (error != ERROR_SUCCESS) return Status::Io(Win32Message("list the folder", folder, error));
  return names;
}

std::string ResolveNameIgnoreCase(const std::string& folder, std::string_view name) {
  std::string exact = JoinPath(folder, name);
  // The file system compares names without regard to case already (with Unicode rules,
  // wider than ours) and tells the name as it is written on disk; the scan below serves
  // folders marked case-sensitive.
  if (name.find_first_of("*?") == std::string_view::npos) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileExW(WidePath(exact).c_str(), FindExInfoBasic, &data,
                                FindExSearchNameMatch, nullptr, 0);
    if (h != INVALID_HANDLE_VALUE) {
      FindClose(h);
      return JoinPath(folder, Narrow(data.cFileName));
    }
  }
  std::string found;
  (void)ForEachEntry(folder, [&](const WIN32_FIND_DATAW& e) {
    std::string entry = Narrow(e.cFileName);
    if (!EqualsIgnoreCase(entry, name)) return true;
    found = std::move(entry);
    return false;
  });
  return found.empty() ? exact : JoinPath(folder, found);
}

}  // namespace quorvin
