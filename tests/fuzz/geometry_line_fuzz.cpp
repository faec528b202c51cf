// Lines of the disk tool's geometry listing. Whatever a line holds, an accepted disk must have a
// "/dev/" path within its field and a geometry whose counts are written in the line as given.
//
// Input: one line (cut at the first NUL, as the reader's buffer would hold it).

#include <cstdint>
#include <cstring>
#include <string>

#include "disk/discovery.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// True when the line holds count as an unsigned decimal number of its own (leading zeros
// allowed), not inside a longer number nor behind a minus sign.
bool WritesCount(const std::string& line, std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = line.find(digits); at != std::string::npos;
       at = line.find(digits, at + 1)) {
    std::size_t start = at;
    while (start > 0 && line[start - 1] == '0') {
      --start;
    }
    bool startsNumber = start == 0 || (!isdigit(static_cast<unsigned char>(line[start - 1])) &&
                                       line[start - 1] != '-');
    std::size_t end = at + digits.size();
    bool endsNumber = end == line.size() || !isdigit(static_cast<unsigned char>(line[end]));
    if (startsNumber && endsNumber) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line.resize(strlen(line.c_str()));
  DiskInfo disk;
  if (!ParseGeometryLine(line.c_str(), disk)) {
    return 0;
  }
  Require(strncmp(disk.device, "/dev/", 5) == 0, "the device is a /dev/ path");
  Require(strlen(disk.device) < sizeof disk.device, "the device stays within its field");
  Require(disk.cylinders > 0 && disk.cylinderBytes > 0, "the geometry is not empty");
  Require(disk.cylinderBytes % 512 == 0, "a cylinder holds whole sectors");
  Require(WritesCount(line, disk.cylinders), "the cylinder count is the line's own");
  return 0;
}
