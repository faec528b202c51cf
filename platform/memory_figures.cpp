#include "platform/memory_figures.h"

#include <cinttypes>
#include <cstdio>

bool ReadMemoryFigures(const std::string& path, std::map<std::string, std::uint64_t>& figures) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    return false;
  }
  // Looked up by name: kernels differ in which lines they have and in their order.
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char name[32];
    std::uint64_t kilobytes;
    if (std::sscanf(line, "%31[^:]: %" SCNu64, name, &kilobytes) == 2) {
      figures.emplace(name, kilobytes);
    }
  }
  return std::fclose(file) == 0;
}
