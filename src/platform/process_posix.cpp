#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
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

ProcessLock::~ProcessLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool ProcessLock::TryTake(const std::string& path, bool* usable) {
  *usable = true;
  if (handle_ >= 0) return true;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *usable = false;
    return false;
  }
  // flock, not fcntl locks: those are dropped when any descriptor of the file in this
  // process is closed.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK) *usable = false;
    return false;
  }
  handle_ = fd;
  return true;
}

}  // namespace quorvin
