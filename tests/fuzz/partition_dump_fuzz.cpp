// The listing of the old partition table. Whatever the listing holds, the entries counted must
// be exactly its lines that begin with "/dev/".
//
// Input: the listing.

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "disk/prepare.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int CountDeviceLines(std::string_view listing) {
  int count = 0;
  while (!listing.empty()) {
    std::size_t end = listing.find('\n');
    count += listing.substr(0, 5) == "/dev/" ? 1 : 0;
    listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;  // fmemopen refuses an empty buffer
  }
  FILE* dump = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  Require(dump != nullptr, "the listing can be opened");
  int counted = CountTableEntries(dump);
  fclose(dump);
  std::string_view listing(reinterpret_cast<const char*>(data), size);
  Require(counted == CountDeviceLines(listing), "the entries are the lines naming a device");
  return 0;
}
