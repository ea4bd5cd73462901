#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace quorvin::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

inline double PeakRssMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024.0;
}

// A scratch folder for generated data, removed at the end.
struct TempFolder {
  explicit TempFolder(const std::string& tag) {
    const char* base = std::getenv("TMPDIR");
    std::string t =
        std::string(base && *base ? base : "/tmp") + "/quorvin-bench-" + tag + "-XXXXXX";
    path = mkdtemp(t.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

inline int RunInChild(const char* self, const std::string& what) {
  pid_t pid = fork();
  if (pid == 0) {
    execl(self, self, what.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int BenchInject();
int BenchSoftlist();
int BenchDumps();

}  // namespace quorvin::bench
