// The listing the bench's floor programs share: the names of a folder's ordinary files,
// sorted by bytes, as a scan lists them before it reads or asks anything.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// False (after saying why on stderr) when `folder` cannot be listed. `dir` is left open for a
// caller that asks by name relative to it, and is closed by the caller.
inline bool ListNames(const char* folder, std::vector<std::string>& names, DIR*& dir) {
  dir = ::opendir(folder);
  if (dir == nullptr) {
    std::perror(folder);
    return false;
  }
  while (dirent* e = ::readdir(dir)) {
    if (e->d_type == DT_REG) names.emplace_back(e->d_name);
  }
  std::sort(names.begin(), names.end());
  return true;
}
