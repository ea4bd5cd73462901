#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/path.h"
#include "platform/process.h"

namespace quorvin {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> out;
  for (int i = 1; i < argc; ++i) out.emplace_back(argv[i]);
  return out;
}

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return FolderOf(std::string_view(buf, static_cast<size_t>(n)));
}

std::string EnvironmentValue(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string UserDataFolder() {
  std::string xdg = EnvironmentValue("XDG_DATA_HOME");
  if (!xdg.empty()) return JoinPath(xdg, "quorvin");
  std::string home = EnvironmentValue("HOME");
  return JoinPath(JoinPath(home.empty() ? "." : home, ".local/share"), "quorvin");
}

bool IsWritableFolder(const std::string& folder) {
  return !folder.empty() && ::access(folder.c_str(), W_OK) == 0;
}

bool PrepareConsole() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace quorvin
