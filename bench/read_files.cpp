// quorvin-read: the ceiling for a scan. Lists each folder given, sorts the names, and reads
// every ordinary file once on one thread with 256 KiB reads into one buffer, doing nothing
// with the bytes. A scan cannot do less than this and still see every byte.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "list_names.h"

int main(int argc, char** argv) {
  constexpr size_t kChunk = size_t{256} * 1024;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
  uint64_t files = 0, bytes = 0;
  for (int a = 1; a < argc; ++a) {
    std::vector<std::string> names;
    DIR* dir = nullptr;
    if (!ListNames(argv[a], names, dir)) return 1;
    ::closedir(dir);
    for (const std::string& name : names) {
      const std::string path = std::string(argv[a]) + "/" + name;
      int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        std::perror(path.c_str());
        return 1;
      }
      // A short read of an ordinary file is its end, as in the scan.
      while (true) {
        ssize_t got = ::read(fd, buffer.get(), kChunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
          std::perror(path.c_str());
          return 1;
        }
        bytes += static_cast<uint64_t>(got);
        if (static_cast<size_t>(got) < kChunk) break;
      }
      ::close(fd);
      ++files;
    }
  }
  std::printf("%llu files, %llu bytes\n", static_cast<unsigned long long>(files),
              static_cast<unsigned long long>(bytes));
  return 0;
}
