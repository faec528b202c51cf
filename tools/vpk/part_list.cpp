#include "tools/vpk/part_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "streams/byte_order.h"
#include "streams/package_format.h"

namespace {

// Reads exactly size bytes at offset; false on an error or at the end of the file.
bool ReadAt(int fd, std::uint64_t offset, void* out, std::size_t size) {
  auto* bytes = static_cast<char*>(out);
  while (size > 0) {
    ssize_t n = pread(fd, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadLayout(int fd, const std::string& path, ContainerLayout* layout) {
  struct stat status;
  if (fstat(fd, &status) != 0) {
    std::fprintf(stderr, "vpk: cannot examine %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  layout->fileSize = static_cast<std::uint64_t>(status.st_size);
  std::uint8_t header[kContainerHeaderSize];
  if (!ReadAt(fd, 0, header, sizeof header)) {
    std::fprintf(stderr, "vpk: %s: too short for a package file\n", path.c_str());
    return false;
  }
  layout->magic = LoadLittleEndian(header, 4);
  layout->declaredSize = std::uint64_t{LoadLittleEndian(header + 4, 4)} + kContainerHeaderSize;
  if (layout->magic != kContainerMagic && layout->magic != kUnrecordedMagic) {
    std::fprintf(stderr, "vpk: %s: not a package file (unknown magic)\n", path.c_str());
    return false;
  }
  std::uint64_t offset = kContainerHeaderSize;
  while (offset < layout->fileSize) {
    std::uint8_t partHeader[kPartHeaderSize];
    if (offset + kPartHeaderSize > layout->fileSize || !ReadAt(fd, offset, partHeader, 6)) {
      layout->cutShort = true;
      return true;
    }
    PartSpan span{static_cast<int>(LoadLittleEndian(partHeader, 2)), offset,
                  LoadLittleEndian(partHeader + 2, 4)};
    std::uint64_t end = offset + kPartHeaderSize + span.length;
    if (end > layout->fileSize) {
      layout->cutShort = true;
      return true;
    }
    if (layout->parts.size() == kMostParts) {
      std::fprintf(stderr, "vpk: %s: more than %zu parts; not a package file\n", path.c_str(),
                   kMostParts);
      return false;
    }
    layout->parts.push_back(span);
    offset = end;
  }
  return true;
}

}  // namespace

bool ListParts(const std::string& path, ContainerLayout* layout) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "vpk: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  *layout = ContainerLayout{};
  bool ok = ReadLayout(fd, path, layout);
  close(fd);
  return ok;
}

bool CheckSinglePackage(const std::string& path, const ContainerLayout& layout) {
  const char* problem = nullptr;
  if (layout.cutShort) {
    problem = "the file ends inside a part";
  } else if (layout.declaredSize != layout.fileSize) {
    problem = "the file size differs from the size in its container header";
  } else if (layout.parts.empty() || layout.parts[0].type != PartHeader) {
    problem = "it does not start with a package header part";
  }
  for (std::size_t i = 1; problem == nullptr && i < layout.parts.size(); ++i) {
    int type = layout.parts[i].type;
    if (type == PartHeader || type == PartBundleHeader || type == PartBundleMembers) {
      problem = "it holds more than one package";
    }
  }
  if (problem != nullptr) {
    std::fprintf(stderr, "vpk: %s: %s\n", path.c_str(), problem);
    return false;
  }
  return true;
}

int FindPart(const ContainerLayout& layout, int type) {
  for (std::size_t i = 0; i < layout.parts.size(); ++i) {
    if (layout.parts[i].type == type) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size,
                   std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "vpk: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  out->assign(size, '\0');
  errno = 0;
  bool ok = ReadAt(fd, offset, out->data(), size);
  if (!ok) {
    std::fprintf(stderr, "vpk: cannot read %s: %s\n", path.c_str(),
                 errno != 0 ? std::strerror(errno) : "unexpected end of file");
  }
  close(fd);
  return ok;
}
