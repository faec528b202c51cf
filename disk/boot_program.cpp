#include "disk/boot_program.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// Reads up to the boot program area's size from the program file; -1 when there is none.
ssize_t ReadBootProgram(const char* program, unsigned char* code) {
  int file = open(program, O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    return -1;
  }
  ssize_t length = 0;
  while (length < kBootProgramBytes) {
    ssize_t got = read(file, code + length, kBootProgramBytes - length);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;  // the end of a short program, or a file that cannot be read: what was read counts
    }
    length += got;
  }
  close(file);
  return length;
}

bool WriteWhenBlank(int disk, const unsigned char* code, ssize_t length) {
  unsigned char area[kBootProgramBytes];
  if (pread(disk, area, sizeof area, 0) != static_cast<ssize_t>(sizeof area)) {
    return false;
  }
  if (std::any_of(area, area + sizeof area, [](unsigned char byte) { return byte != 0; })) {
    return true;  // a boot program is there already
  }
  return pwrite(disk, code, length, 0) == length;
}

}  // namespace

bool InstallBootProgram(const char* disk, const char* program) {
  unsigned char code[kBootProgramBytes];
  ssize_t length = ReadBootProgram(program, code);
  if (length <= 0) {
    return true;  // without a program on the medium the disk stays as it is
  }
  int device = open(disk, O_RDWR | O_CLOEXEC);
  bool written = device >= 0 && WriteWhenBlank(device, code, length);
  if (device >= 0 && close(device) != 0) {
    written = false;
  }
  if (!written) {
    puts("WARNING: couldn't write boot program");
  }
  return written;
}
