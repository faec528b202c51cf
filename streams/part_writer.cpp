#include "streams/part_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "streams/byte_order.h"
#include "streams/package_format.h"

namespace {

constexpr std::uint64_t kLargestLength = UINT32_MAX;

}  // namespace

PartWriter::PartWriter(const std::string& path, bool unrecorded)
    : std::ofstream(path, std::ios_base::binary | std::ios_base::trunc),
      path(path),
      magic(unrecorded ? kUnrecordedMagic : kContainerMagic) {
  // Finishing cuts the file by name; an absolute name keeps working after a change of directory.
  char* absolute = is_open() ? realpath(path.c_str(), nullptr) : nullptr;
  if (absolute != nullptr) {
    this->path = absolute;
    free(absolute);
  }
}

PartWriter::~PartWriter() {
  Finish();
}

void PartWriter::BeginPart(int type) {
  if (rdstate() != std::ios_base::goodbit) {
    return;
  }
  if (headerOffset == 0) {
    seekp(kContainerHeaderSize);
  }
  currentType = type;
  headerOffset = tellp();
  seekp(kPartHeaderSize, std::ios_base::cur);
}

void PartWriter::EndPart() {
  if (rdstate() != std::ios_base::goodbit) {
    return;
  }
  std::streamoff end = tellp();
  std::streamoff length = end - static_cast<std::streamoff>(headerOffset) - kPartHeaderSize;
  // Without a begun part the header would land on the container header.
  if (headerOffset == 0 || length < 0 || length > std::streamoff{kLargestLength}) {
    setstate(std::ios_base::failbit);
    return;
  }
  seekp(headerOffset);
  WriteLittleEndian(currentType, 2);
  WriteLittleEndian(length, 4);
  seekp(end);
}

void PartWriter::RewindPart() {
  seekp(headerOffset);
}

bool PartWriter::Close() {
  Finish();
  if (is_open()) {
    close();
  }
  return !fail();
}

void PartWriter::Finish() {
  if (rdstate() != std::ios_base::goodbit || !is_open()) {
    return;
  }
  std::streamoff position = tellp();
  if (position < 0 || position - kContainerHeaderSize > std::streamoff{kLargestLength}) {
    setstate(std::ios_base::failbit);
    return;
  }
  // A container without parts still gets its header.
  std::uint64_t end = std::max<std::streamoff>(position, kContainerHeaderSize);
  seekp(0);
  WriteLittleEndian(magic, 4);
  WriteLittleEndian(end - kContainerHeaderSize, 4);
  seekp(end);
  // A part that was rewound and written shorter leaves stale bytes past the end.
  if (!flush() || truncate(path.c_str(), end) != 0) {
    setstate(std::ios_base::badbit);
  }
}

void PartWriter::WriteLittleEndian(std::uint32_t value, int size) {
  char bytes[4];
  StoreLittleEndian(bytes, value, size);
  write(bytes, size);
}
