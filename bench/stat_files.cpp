// quorvin-stat: the floor for a cached re-run. Lists each folder given, sorts the names, and
// asks the attributes of every ordinary file once (fstatat relative to the open folder), on
// one thread per core, doing nothing with the answers. A run that takes a file's CRC from
// the cache must still ask whether the file changed, so it cannot do less than this.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "list_names.h"

int main(int argc, char** argv) {
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  uint64_t files = 0;
  for (int a = 1; a < argc; ++a) {
    std::vector<std::string> names;
    DIR* dir = nullptr;
    if (!ListNames(argv[a], names, dir)) return 1;
    const int fd = ::dirfd(dir);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        struct stat st;
        for (size_t i = next++; i < names.size(); i = next++) {
          if (::fstatat(fd, names[i].c_str(), &st, 0) != 0) failed = true;
        }
      });
    }
    for (std::thread& w : workers) w.join();
    ::closedir(dir);
    if (failed) {
      std::fprintf(stderr, "%s: a file could not be asked\n", argv[a]);
      return 1;
    }
    files += names.size();
  }
  std::printf("%llu files\n", static_cast<unsigned long long>(files));
  return 0;
}
