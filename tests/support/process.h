// What this process holds, read from /proc: its threads, and the files mapped
// into it. For tests that check that the library's workers and the library
// itself are gone after an unload.
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <string.h>

namespace process {

// Threads of this process; -1 when /proc cannot say.
inline int ThreadCount() {
  int n = 0;
  DIR *dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  while (dirent *entry = readdir(dir)) n += entry->d_name[0] != '.';
  closedir(dir);
  return n;
}

// Whether a file whose path contains `name` is mapped into this process.
inline bool Mapped(const char *name) {
  FILE *maps = fopen("/proc/self/maps", "r");
  if (maps == nullptr) return false;
  char line[1024];
  bool found = false;
  while (fgets(line, sizeof line, maps) != nullptr) found = found || strstr(line, name) != nullptr;
  fclose(maps);
  return found;
}

}  // namespace process
