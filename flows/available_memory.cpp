#include "flows/available_memory.h"

#include <cinttypes>
#include <cstdio>

bool ReadAvailableMemory(const char* path, std::uint64_t& bytes) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) {
    return false;
  }
  char line[256];
  bool found = false;
  while (!found && fgets(line, sizeof line, file) != nullptr) {
    std::uint64_t kilobytes;
    char unit[4] = "";
    found = sscanf(line, "MemAvailable: %" SCNu64 " %3s", &kilobytes, unit) == 2 &&
            unit[0] == 'k' && unit[1] == 'B' && unit[2] == '\0' && kilobytes <= UINT64_MAX / 1024;
    if (found) {
      bytes = kilobytes * 1024;
    }
  }
  fclose(file);
  return found;
}
