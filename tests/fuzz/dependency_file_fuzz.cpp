// Dependency list files of the package database. Whatever a file holds, the records taken must
// have names within the limit, and a refused file must say why.
//
// Input: 1 byte of settings (bit 0 records with a priority), then the file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "packages/dependency_file.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDirectory scratch("dependency");
  if (size < 1) {
    return 0;
  }
  std::string path = scratch.Path() + "/deps";
  WriteBytes(path, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::vector<Dependency> records;
  std::string error;
  bool read = ReadDependencyFile(
      path, records, (data[0] & 1) != 0 ? PriorityColumn::kPresent : PriorityColumn::kAbsent,
      &error);
  Require(read || !error.empty(), "a refused file has a reason");
  Require(error.find('\n') == std::string::npos, "the reason is one line");
  for (const Dependency& record : records) {
    Require(!record.name.empty(), "a record has a name");
    Require(record.name.size() <= kMaxDependencyNameLength, "a name stays within the limit");
  }
  return 0;
}
