// Zlib and raw inflate, compared with zlib's own one-call inflate of the same bytes: the stream
// must give a prefix of what zlib gives (all of it when zlib reaches the end), report the end only
// when zlib does, and move only forward when it seeks.
//
// Input: 1 byte of settings (bit 0 raw, bits 1-3 the read size, bit 4 a forward seek after the
// first read, bit 5 inflating on the helper thread), then the compressed bytes.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "streams/inflate_stream.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Output beyond this is not compared: a tiny input may claim gigabytes.
constexpr std::size_t kMostOutput = 256 << 10;
constexpr std::streamsize kReadSizes[8] = {1, 3, 100, 4095, 4096, 4097, 10000, 65536};

struct Oracle {
  std::string output;
  bool ended = false;
};

Oracle InflateWithZlib(const std::string& input, bool raw) {
  Oracle oracle;
  z_stream zlib = {};
  Require((raw ? inflateInit2(&zlib, -15) : inflateInit(&zlib)) == Z_OK, "zlib starts");
  zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  zlib.avail_in = static_cast<uInt>(input.size());
  oracle.output.resize(kMostOutput);
  zlib.next_out = reinterpret_cast<Bytef*>(oracle.output.data());
  zlib.avail_out = static_cast<uInt>(oracle.output.size());
  int result = inflate(&zlib, Z_FINISH);
  oracle.ended = result == Z_STREAM_END;
  oracle.output.resize(zlib.total_out);
  inflateEnd(&zlib);
  return oracle;
}

// Reads the stream up to the output limit, with one forward seek when asked; the bytes passed
// over are taken from the oracle.
std::string ReadStream(InflateStream& stream, std::streamsize readSize, bool seek,
                       const Oracle& oracle) {
  std::string output;
  std::string piece(static_cast<std::size_t>(readSize), '\0');
  while (output.size() < kMostOutput) {
    stream.read(piece.data(), readSize);
    output.append(piece.data(), static_cast<std::size_t>(stream.gcount()));
    if (stream.gcount() < readSize) {
      break;
    }
    if (seek) {
      seek = false;
      Require(stream.tellg() == std::streampos(static_cast<std::streamoff>(output.size())),
              "tellg counts the bytes read");
      stream.seekg(-1, std::ios_base::cur);
      Require(stream.fail(), "a seek backwards fails");
      stream.clear();
      if (!stream.seekg(readSize, std::ios_base::cur)) {
        // A seek past the end passes over what is left, as ignore would.
        Require(!oracle.ended || output.size() + readSize > oracle.output.size(),
                "a seek fails only past the end of the data");
        output.append(oracle.output, std::min(output.size(), oracle.output.size()));
        break;
      }
      Require(output.size() + readSize <= oracle.output.size(), "a seek stays within the data");
      output.append(oracle.output, output.size(), static_cast<std::size_t>(readSize));
    }
  }
  return output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  bool raw = (data[0] & 1) != 0;
  std::streamsize readSize = kReadSizes[data[0] >> 1 & 7];
  bool seek = (data[0] & 16) != 0;
  Inflating where = (data[0] & 32) != 0 ? Inflating::kAhead : Inflating::kInReader;
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Oracle oracle = InflateWithZlib(input, raw);
  std::istringstream source(input);
  InflateStream stream(source, raw ? Framing::kRaw : Framing::kZlib, where);
  std::string output = ReadStream(stream, readSize, seek, oracle);
  std::size_t compared = std::min(output.size(), oracle.output.size());
  Require(output.compare(0, compared, oracle.output, 0, compared) == 0,
          "the stream gives zlib's bytes");
  if (oracle.output.size() < kMostOutput) {
    Require(output.size() <= oracle.output.size(), "the stream gives no more than zlib");
    Require(stream.ReachedStreamEnd() == oracle.ended, "the end is reported when it is there");
    Require(!oracle.ended || output == oracle.output, "a complete stream gives all of it");
  }
  return 0;
}
