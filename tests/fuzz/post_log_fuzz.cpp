// The post-installation log read back at start-up. Whatever "postlog" holds, the lines taken must
// be whole lines of it, and the file must be left reserved as 4096 zero bytes.
//
// Input: the file.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "packages/package_database.h"
#include "packages/post_log.h"
#include "packages/roots.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDirectory scratch("postlog");
  std::string path = scratch.Path() + "/postlog";
  std::string_view content(reinterpret_cast<const char*>(data), size);
  WriteBytes(path, content);
  GetPackageRoots() = {scratch.Path(), scratch.Path()};
  GetPackageDatabase().Reset();
  ReadPostLog();
  std::string taken;
  for (const std::string& line : GetPackageDatabase().log) {
    Require(line.find('\n') == std::string::npos, "a logged line holds no line end");
    taken += line + "\n";
  }
  Require(taken.empty() || content.substr(0, taken.size()) == taken,
          "the lines taken are the file's own, from its start");
  std::ifstream file(path, std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Require(after == std::string(4096, '\0'), "the file is left reserved");
  Require(GetPackageDatabase().postLogReserved, "the reservation is recorded");
  return 0;
}
