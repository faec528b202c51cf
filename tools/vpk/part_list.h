#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The layout of a part container file, read from its part headers alone: where each part lies
// and how long it is, whatever its type. The file is treated as hostile: every length is checked
// against the file's size.

// One part: its type and the file offset of its 6-byte header; the content follows the header.
struct PartSpan {
  int type = 0;
  std::uint64_t headerOffset = 0;
  std::uint32_t length = 0;
};

struct ContainerLayout {
  std::uint32_t magic = 0;
  std::uint64_t declaredSize = 0;  // the container's length field + 8
  std::uint64_t fileSize = 0;
  std::vector<PartSpan> parts;  // every complete part, in file order
  // The file ends inside a part header or a part's content, after the parts listed.
  bool cutShort = false;
};

// A container with more parts is not taken for a package (its list alone would be huge).
constexpr std::size_t kMostParts = 100000;

// Reads the container header and the part headers of the file at path. Prints an error and
// returns false when the file cannot be read, is shorter than a container header, has an unknown
// magic or more than kMostParts parts. A file that ends inside a part is listed up to that part,
// with cutShort set.
bool ListParts(const std::string& path, ContainerLayout* layout);

// Checks that layout is a complete container of a single package as the package tools write it:
// the file size matches the container header, no part is cut short, the first part is a
// PartHeader and no later part is a PartHeader, PartBundleHeader or PartBundleMembers. Prints
// "vpk: PATH: ..." with the first problem and returns false otherwise.
bool CheckSinglePackage(const std::string& path, const ContainerLayout& layout);

// Index in layout.parts of the first part of the given type, or -1.
int FindPart(const ContainerLayout& layout, int type);

// Reads size bytes at offset of the file at path into out. Prints an error and returns false
// when that fails or comes up short.
bool ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size,
                   std::string* out);
