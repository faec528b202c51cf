// The part container: the caller's view of each accepted part (its reads, skips and seeks) must
// show exactly the bytes of the container at the part's offset, never more than the part holds,
// and the digest and signature calls must stay within the part as well.
//
// Input: 3 bytes of accepted types (bit i accepts type i + 1), 1 byte of settings (bit 0 hashing,
// bits 1-3 the read size), 2 bytes that choose what is done with each part, then the container.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "streams/package_format.h"
#include "streams/part_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::size_t kControlSize = 6;
constexpr int kMostParts = 64;
constexpr std::streamsize kReadSizes[8] = {1, 2, 7, 68, 512, 4095, 4096, 65536};

enum Action { kReadAll, kSeekThenRead, kSkipPart, kIgnoreThenRead };

struct Setting {
  std::string_view container;
  bool hashing;
  std::streamsize readSize;
  std::uint8_t actions[2];
};

// Reads the rest of the part in pieces and checks the pieces against the container's bytes.
void ReadAndCompare(PartReader& reader, const Setting& s, std::uint64_t start) {
  std::string piece(static_cast<std::size_t>(s.readSize), '\0');
  std::uint64_t at = start;
  for (;;) {
    reader.read(piece.data(), s.readSize);
    std::uint64_t got = static_cast<std::uint64_t>(reader.gcount());
    Require(at + got <= reader.PartLength(), "no read passes the end of its part");
    std::uint64_t offset = reader.PartOffset() + at;
    Require(offset + got <= s.container.size(), "no read passes the end of the container");
    Require(memcmp(piece.data(), s.container.data() + offset, got) == 0,
            "a read gives the container's bytes");
    at += got;
    if (got < static_cast<std::uint64_t>(s.readSize)) {
      return;
    }
  }
}

void SeekThenRead(PartReader& reader, const Setting& s, std::uint32_t choice) {
  std::uint64_t target = reader.PartLength() == 0 ? 0 : choice % (reader.PartLength() + 1ull);
  reader.seekg(static_cast<std::streamoff>(target), std::ios_base::beg);
  if (reader.fail()) {
    return;
  }
  Require(static_cast<std::uint64_t>(reader.tellg()) == target, "tellg tells the seek's target");
  ReadAndCompare(reader, s, target);
}

void IgnoreThenRead(PartReader& reader, const Setting& s, std::uint32_t choice) {
  reader.ignore(choice % 5000);
  std::uint64_t skipped = static_cast<std::uint64_t>(reader.gcount());
  Require(skipped <= reader.PartLength(), "ignore stays within its part");
  if (reader.good()) {
    ReadAndCompare(reader, s, skipped);
  }
}

void ActOnPart(PartReader& reader, const Setting& s, int index) {
  std::uint8_t code = s.actions[index % 2] >> (index / 2 % 4 * 2);
  std::uint32_t choice = static_cast<std::uint32_t>(index) * 2654435761u ^ s.actions[0];
  switch (static_cast<Action>(code & 3)) {
    case kReadAll:
      ReadAndCompare(reader, s, 0);
      break;
    case kSeekThenRead:
      SeekThenRead(reader, s, choice);
      break;
    case kSkipPart:
      break;
    case kIgnoreThenRead:
      IgnoreThenRead(reader, s, choice);
      break;
  }
  if (reader.CurrentType() == PartSignature) {
    reader.clear();
    reader.seekg(0);
    reader.VerifySignature();
  }
  std::uint8_t digest[20];
  reader.TakeDigest(digest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kControlSize) {
    return 0;
  }
  Setting s{
      std::string_view(reinterpret_cast<const char*>(data) + kControlSize, size - kControlSize),
      (data[3] & 1) != 0,
      kReadSizes[data[3] >> 1 & 7],
      {data[4], data[5]}};
  std::istringstream source{std::string(s.container)};
  PartReader reader(source, s.hashing ? Hashing::kOn : Hashing::kOff);
  std::uint32_t accepted = data[0] | data[1] << 8 | data[2] << 16;
  for (std::uint32_t type = 1; type <= 24; ++type) {
    if (accepted >> (type - 1) & 1) {
      reader.AcceptPartType(type);
    }
  }
  for (int index = 0; index < kMostParts && reader.NextPart() >= 0; ++index) {
    Require(reader.PartOffset() <= s.container.size(), "a part begins within the container");
    ActOnPart(reader, s, index);
  }
  std::uint8_t digest[20];
  reader.TakeDigest(digest);
  return 0;
}
