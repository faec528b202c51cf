#include "streams/exact_io.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

bool ReadExactly(std::istream& in, void* out, std::size_t size) {
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount()) == size;
}

bool WriteAll(int descriptor, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = write(descriptor, next, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CopyAll(int in, int out) {
  std::vector<char> block(64 * 1024);
  for (;;) {
    ssize_t count = read(in, block.data(), block.size());
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return count == 0;
    }
    if (!WriteAll(out, block.data(), static_cast<std::size_t>(count))) {
      return false;
    }
  }
}
